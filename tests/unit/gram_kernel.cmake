# Differential tests of the accumulation kernel: every instruction-set version
# this machine runs against the plain reference, bit for bit.
methpca_unit_test(test_gram_kernel unit/gram_kernel_test.cpp)
target_link_libraries(test_gram_kernel PRIVATE gramkernel)
