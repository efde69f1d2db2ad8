# The helpers the whole-program benchmarks press the copy keys with.
find_package(X11 QUIET)
if(X11_FOUND AND X11_XTest_FOUND)
  add_executable(bench_double_copy ${CMAKE_CURRENT_LIST_DIR}/double_copy.c)
  target_link_libraries(bench_double_copy PRIVATE X11::X11 X11::Xtst)
  add_executable(bench_keyboard_hold ${CMAKE_CURRENT_LIST_DIR}/keyboard_hold.c)
  target_link_libraries(bench_keyboard_hold PRIVATE X11::X11 X11::Xtst)
endif()
