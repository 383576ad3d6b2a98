# SPDX-License-Identifier: MIT
# Reads CHANGELOG.md, the one record of what each version brought, and makes
# from it the Debian changelog of the package and the <releases> of the
# AppStream metadata, so that neither can drift from the other or from the
# version project() sets.
#
# The file's form (its preamble says it too):
#   ## 0.2.0 - 2026-12-09 18:30 one per version, newest first; the time
#                               (UTC) may be left out, but Debian wants each
#                               entry later than the one before, so two
#                               versions of one day need it
#   ### Added                   a heading inside a version
#   - an item that may go on    items; continuation lines indented by two
#     on a second line          spaces; no line over 78 characters, so the
#                               Debian changelog stays within 80

# CMake lists split at ";" and do not split inside unbalanced brackets, and
# the notes may contain both.
set(tq_semicolon_mark "@TQ_SEMICOLON@")
set(tq_open_mark "@TQ_OPEN@")
set(tq_close_mark "@TQ_CLOSE@")

function(tq_restore_marks out text)
  string(REPLACE "${tq_semicolon_mark}" ";" text "${text}")
  string(REPLACE "${tq_open_mark}" "[" text "${text}")
  string(REPLACE "${tq_close_mark}" "]" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(tq_xml_escape out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# "2026-12-09", "18:30" -> "Wed, 09 Dec 2026 18:30:00 +0000", as
# debian/changelog wants it (RFC 5322); the weekday by Sakamoto's rule.
function(tq_rfc5322_date out year month day time)
  string(REGEX REPLACE "^0" "" m "${month}")
  string(REGEX REPLACE "^0" "" d "${day}")
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${m} - 1")
  list(GET offsets ${index} offset)
  set(y ${year})
  if(m LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${index} month_name)
  set(${out} "${weekday_name}, ${day} ${month_name} ${year} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

# Sets in the caller:
#   TQ_CHANGELOG_VERSION    the newest version
#   TQ_DEBIAN_CHANGELOG     the Debian changelog's text
#   TQ_METAINFO_RELEASES    the <release> elements, indented for the metainfo
function(tq_read_release_notes changelog package maintainer)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
  file(READ ${changelog} text)
  string(REPLACE ";" "${tq_semicolon_mark}" text "${text}")
  string(REPLACE "[" "${tq_open_mark}" text "${text}")
  string(REPLACE "]" "${tq_close_mark}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")

  set(debian "")
  set(releases "")
  set(version "")
  set(newest "")
  set(item "")
  set(number 0)
  # One more empty line closes the last item and the last version.
  foreach(line IN LISTS lines ITEMS "" "## end")
    math(EXPR number "${number} + 1")
    tq_restore_marks(original "${line}")
    string(LENGTH "${original}" length)
    if(length GREATER 78)
      message(FATAL_ERROR "${changelog}:${number}: longer than 78 characters")
    endif()
    if(NOT item STREQUAL "" AND NOT line MATCHES "^  [^ ]")
      tq_restore_marks(text "${item}")
      string(REPLACE "`" "" text "${text}")
      string(REPLACE "\n    " " " flat "${text}")
      tq_xml_escape(flat "${flat}")
      string(APPEND debian "  * ${text}\n")
      string(APPEND releases "            <li>${flat}</li>\n")
      set(item "")
    endif()
    if(line MATCHES "^## ")
      if(version)
        string(APPEND debian "${list_end}\n -- ${maintainer}  ${date}\n\n")
        string(APPEND releases "${list_end_xml}        </description>\n      </release>\n")
      endif()
      if(line STREQUAL "## end")
        break()
      endif()
      if(NOT line MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) - (([0-9][0-9][0-9][0-9])-([01][0-9])-([0-3][0-9]))( ([0-2][0-9]:[0-5][0-9]))?$")
        message(FATAL_ERROR "${changelog}:${number}: a version heading is \"## 1.2.3 - YYYY-MM-DD[ HH:MM]\"")
      endif()
      set(version ${CMAKE_MATCH_1})
      set(iso_date ${CMAKE_MATCH_2})
      set(time "00:00")
      if(CMAKE_MATCH_7)
        set(time ${CMAKE_MATCH_7})
      endif()
      tq_rfc5322_date(date ${CMAKE_MATCH_3} ${CMAKE_MATCH_4} ${CMAKE_MATCH_5} ${time})
      if(newer_stamp AND NOT "${iso_date} ${time}" STRLESS newer_stamp)
        message(FATAL_ERROR "${changelog}:${number}: ${version} is not older than the version above it")
      endif()
      set(newer_stamp "${iso_date} ${time}")
      if(NOT newest)
        set(newest ${version})
      endif()
      string(APPEND debian "${package} (${version}) unstable; urgency=medium\n")
      string(APPEND releases "      <release version=\"${version}\" date=\"${iso_date}\">\n"
                             "        <description>\n")
      set(list_end "")
      set(list_end_xml "")
    elseif(line MATCHES "^### (.+)$")
      if(NOT version)
        message(FATAL_ERROR "${changelog}:${number}: a heading before the first version")
      endif()
      tq_xml_escape(heading "${CMAKE_MATCH_1}")
      string(APPEND debian "\n  ${CMAKE_MATCH_1}:\n")
      string(APPEND releases "${list_end_xml}          <p>${heading}:</p>\n          <ul>\n")
      set(list_end_xml "          </ul>\n")
    elseif(line MATCHES "^- (.+)$")
      if(NOT list_end_xml)
        message(FATAL_ERROR "${changelog}:${number}: an item outside a ### heading")
      endif()
      set(item "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  [^ ]" AND NOT item STREQUAL "")
      string(REGEX REPLACE "^  " "" continued "${line}")
      string(APPEND item "\n    ${continued}")
    elseif(version AND NOT line STREQUAL "")
      message(FATAL_ERROR "${changelog}:${number}: neither a heading nor an item: ${line}")
    endif()
  endforeach()
  if(NOT newest)
    message(FATAL_ERROR "${changelog}: no version entry")
  endif()
  string(REGEX REPLACE "\n+$" "\n" debian "${debian}")
  set(TQ_CHANGELOG_VERSION ${newest} PARENT_SCOPE)
  set(TQ_DEBIAN_CHANGELOG "${debian}" PARENT_SCOPE)
  set(TQ_METAINFO_RELEASES "${releases}" PARENT_SCOPE)
endfunction()
