# grameigen: block placement, sample list, eigen-decomposition, result files.
methpca_unit_test(test_grameigen unit/grameigen_test.cpp)
target_link_libraries(test_grameigen PRIVATE grameigen_lib)

# The checker of the whole-road test (tests/e2e/scripts/road_math.sh).
add_executable(roadcheck ${CMAKE_CURRENT_SOURCE_DIR}/tools/roadcheck.cpp)
target_link_libraries(roadcheck PRIVATE common)
