# A million quotes through model, store and view with the page's encoder: start,
# searches, jumps and a capture. The collection is made once and cached in
# $HOARDLY_BENCH_CACHE (default: $TMPDIR/hoardly-bench-cache).
add_executable(bench_million ${CMAKE_CURRENT_LIST_DIR}/bench_million.cpp
                             ${PROJECT_SOURCE_DIR}/tests/e2e/collection_builder.cpp)
target_include_directories(bench_million PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_link_libraries(bench_million PRIVATE hrd_view hrd_layout hrd_model benchmark::benchmark)
target_compile_definitions(bench_million PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
