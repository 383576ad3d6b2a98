# SPDX-License-Identifier: MIT
# Warnings are errors in our own code; third-party headers come in as SYSTEM.
function(tq_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Werror)
  # GCC 12 at -O3 reports impossible overlaps inside libstdc++'s own
  # "literal" + std::string&& (GCC bug 105651); the warning stays a warning
  # there so that release builds do not stop on it.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-error=restrict)
  endif()
endfunction()
