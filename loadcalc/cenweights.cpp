// cenweights: loadings of every site of one chromosome on the first K
// principal components of the centred data (the covariance matrix).
#include "loadings_run.h"

int main(int argc, char** argv) {
  return run_loadings(argc, argv, "cenweights", SiteValues::centred);
}
