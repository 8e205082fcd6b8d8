methpca_unit_test(test_loadcalc
  unit/loadcalc_readers_test.cpp
  unit/loadcalc_kernel_test.cpp)
target_link_libraries(test_loadcalc PRIVATE loadcalc)

# No fused multiply-add in the loadings kernels (skipped when objdump is
# missing): each product is rounded before the next multiply or the add.
add_test(NAME loadcalc_kernel_no_fma
         COMMAND sh -c "command -v objdump >/dev/null || exit 77; ! objdump -d \"$1\" | grep -Eq 'vfn?m(add|sub)'"
                 sh $<TARGET_FILE:loadcalc>)
set_tests_properties(loadcalc_kernel_no_fma PROPERTIES SKIP_RETURN_CODE 77)
