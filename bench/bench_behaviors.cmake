# The behaviors' benchmarks: selecting and copying every quote by keyboard, deleting a selection,
# sorting the quote list by time, and the capture rule's common path. They run
# the program on the real document, which the test support files set up.
if(TARGET test_support)
  add_executable(bench_behaviors ${CMAKE_CURRENT_LIST_DIR}/bench_behaviors.cpp)
  target_link_libraries(bench_behaviors PRIVATE hrd_behaviors test_support benchmark::benchmark)
endif()
