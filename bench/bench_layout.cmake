# The element tree engine's benchmarks: reading markup, selecting, and the
# list updates the view makes, with tree memory per quote block.
add_executable(bench_layout ${CMAKE_CURRENT_LIST_DIR}/bench_layout.cpp)
target_link_libraries(bench_layout PRIVATE hrd_layout benchmark::benchmark)
target_compile_definitions(bench_layout PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
