# Readers of selfgram/crossgram and the accumulation driver.
methpca_unit_test(test_innerprod
  unit/gram_readers_test.cpp
  unit/gram_blocks_test.cpp)
target_link_libraries(test_innerprod PRIVATE gramblocks)
