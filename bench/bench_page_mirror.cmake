# The window's side of showing the document: describing the tree for the page.
if(TARGET hrd_view)
  add_executable(bench_page_mirror ${CMAKE_CURRENT_LIST_DIR}/bench_page_mirror.cpp)
  target_link_libraries(bench_page_mirror PRIVATE hrd_view benchmark::benchmark)
endif()
