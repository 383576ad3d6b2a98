# SPDX-License-Identifier: MIT
# The measurement program: the window class and its operations as a library,
# so that the tests drive the same code, and the executable tq820-scan.
add_library(tq820_program STATIC
  window/corvalen_exmpl.cpp window/corvalen_exmpl.h
  window/platform.cpp window/platform.h
  window/tab_list_delegate.cpp window/tab_list_delegate.h
  io/reply_text.cpp io/reply_text.h
  io/window_io.cpp
  sequence/run_prog.cpp sequence/setup.cpp sequence/readings.cpp sequence/check_error.cpp
  sequence/reading_reply.cpp sequence/reading_reply.h)
target_include_directories(tq820_program PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tq820_program PUBLIC corvalen_interface Qt6::Widgets)
set_target_properties(tq820_program PROPERTIES AUTOMOC ON)
tq_warnings(tq820_program)

add_executable(tq820-scan window/main.cpp)
target_link_libraries(tq820-scan PRIVATE tq820_program corvalenlib)
tq_warnings(tq820-scan)
