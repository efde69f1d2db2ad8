# Whole actions through controller, model, store and view on 10^5 quotes.
add_executable(bench_actions ${CMAKE_CURRENT_LIST_DIR}/bench_actions.cpp)
target_link_libraries(bench_actions PRIVATE hrd_controller benchmark::benchmark)
target_compile_definitions(bench_actions PRIVATE HOARDLY_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
