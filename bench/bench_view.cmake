# The view on the real main document: new results, captures and jumps through long lists.
add_executable(bench_view ${CMAKE_CURRENT_LIST_DIR}/bench_view.cpp)
target_link_libraries(bench_view PRIVATE hrd_view hrd_layout benchmark::benchmark)
target_compile_definitions(bench_view PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
