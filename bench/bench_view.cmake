# The view on the real main document: list rebuilds and single-block inserts.
add_executable(bench_view ${CMAKE_CURRENT_LIST_DIR}/bench_view.cpp)
target_link_libraries(bench_view PRIVATE hrd_view benchmark::benchmark)
target_compile_definitions(bench_view PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
