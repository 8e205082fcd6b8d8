# The per-site arithmetic shared by descriptives and fullgram.
methpca_unit_test(test_descriptives unit/des_stats_test.cpp)
target_include_directories(test_descriptives PRIVATE ${CMAKE_SOURCE_DIR}/descriptives)
target_link_libraries(test_descriptives PRIVATE common)
