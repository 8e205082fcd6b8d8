// stdweights: loadings of every site of one chromosome on the first K
// principal components of the standardized data (the correlation matrix).
#include "loadings_run.h"
#include "process.h"

int main(int argc, char** argv) {
  start_program(argc, argv);
  return run_loadings(argc, argv, "stdweights", SiteValues::standardized);
}
