methpca_unit_test(test_loadcalc
  unit/loadcalc_readers_test.cpp
  unit/loadcalc_kernel_test.cpp)
target_link_libraries(test_loadcalc PRIVATE loadcalc)
