# bench_numparse: number parsing and line splitting, each beside its plain
# reference (strtod/atof, std::getline).
add_executable(bench_numparse ${CMAKE_CURRENT_LIST_DIR}/numparse_bench.cpp)
target_link_libraries(bench_numparse PRIVATE common benchmark::benchmark)
