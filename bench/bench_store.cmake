# The collection store's benchmarks. The generated collections are cached between runs
# in $HOARDLY_BENCH_CACHE (default: $TMPDIR/hoardly-bench-cache).
add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/bench_store.cpp
                           ${PROJECT_SOURCE_DIR}/tests/e2e/collection_builder.cpp)
target_include_directories(bench_store PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_link_libraries(bench_store PRIVATE hrd_model benchmark::benchmark)
