// stdweights: loadings of every site of one chromosome on the first K
// principal components of the standardized data (the correlation matrix).
#include "loadings_run.h"

int main(int argc, char** argv) {
  return run_loadings(argc, argv, "stdweights", SiteValues::standardized);
}
