methpca_unit_test(test_projection
  unit/projection_test.cpp)
target_link_libraries(test_projection PRIVATE projection)
