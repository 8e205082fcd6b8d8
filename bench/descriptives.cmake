# Baseline reader for bench/read_rate.sh.
add_executable(getline_baseline ${CMAKE_CURRENT_LIST_DIR}/getline_baseline.cpp)
