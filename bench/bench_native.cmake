# The native window's layout on the real main document (offscreen): a capture, a change
# to one row, and a layout of everything.
if(TARGET hrd_qt_desktop)
  add_executable(bench_native ${CMAKE_CURRENT_LIST_DIR}/bench_native.cpp)
  target_link_libraries(bench_native PRIVATE hrd_qt_desktop benchmark::benchmark)
  target_compile_definitions(bench_native PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
