# SPDX-License-Identifier: MIT
# Writes debian/changelog from CHANGELOG.md, the one record of the releases:
#   cmake -P packaging/DebianChangelog.cmake
# Run it after a new entry in CHANGELOG.md: the build refuses a
# debian/changelog that differs from what this makes, so that the source
# package (whose version dpkg reads from debian/changelog) always carries the
# version project() sets and the notes CHANGELOG.md has.
cmake_minimum_required(VERSION 3.25)
get_filename_component(top ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
include(${CMAKE_CURRENT_LIST_DIR}/ReleaseNotes.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Identity.cmake)
tq_read_release_notes(${top}/CHANGELOG.md ${TQ_APP_ID} "${TQ_CONTACT}")
file(WRITE ${top}/debian/changelog "${TQ_DEBIAN_CHANGELOG}")
message(STATUS "debian/changelog: version ${TQ_CHANGELOG_VERSION}")
