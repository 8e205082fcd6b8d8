// weights: both analyses of one chromosome from one reading of its files: the
// loadings files of stdweights and of cenweights, each with its own eigen
// results.
#include "loadings_run.h"
#include "process.h"

int main(int argc, char** argv) {
  start_program(argc, argv);
  return run_weights(argc, argv);
}
