# Process start (--version, standard descriptors, signal handlers, argument
# checks), and the shim the signal test holds programs with.
methpca_unit_test(test_process unit/process_test.cpp)
target_link_libraries(test_process PRIVATE common)

add_library(hold_fsync MODULE ${CMAKE_CURRENT_SOURCE_DIR}/tools/hold_fsync.cpp)
set_target_properties(hold_fsync PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(hold_fsync PRIVATE ${CMAKE_DL_LIBS})
