# Differential tests of the accumulation kernel: every instruction-set version
# this machine runs against the plain reference, bit for bit.
methpca_unit_test(test_gram_kernel unit/gram_kernel_test.cpp)
target_link_libraries(test_gram_kernel PRIVATE gramkernel)

# No fused multiply-add anywhere in the kernel library: each product must be
# rounded before it is added (skipped when objdump is missing).
add_test(NAME gram_kernel_no_fma
         COMMAND sh -c "command -v objdump >/dev/null || exit 77; ! objdump -d \"$1\" | grep -Eq 'vfn?m(add|sub)'"
                 sh $<TARGET_FILE:gramkernel>)
set_tests_properties(gram_kernel_no_fma PROPERTIES SKIP_RETURN_CODE 77)
