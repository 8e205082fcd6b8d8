# grameigen: block placement, sample list, eigen-decomposition, result files.
methpca_unit_test(test_grameigen unit/grameigen_test.cpp)
target_link_libraries(test_grameigen PRIVATE grameigen_lib)
