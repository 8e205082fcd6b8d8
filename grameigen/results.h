// The eigen-result files that stdweights and cenweights read, and the summary
// printed at the end of a run.
#pragma once

#include "blocks.h"
#include "matrix.h"

#include <string>
#include <vector>

namespace ge {

// Eigenvalue file: the header line "eigenvalue", then one value per line.
std::string eigenval_text(const std::vector<double>& values);

// Eigenvector file: header "","PC1","PC2",..., then per sample "name",v1,v2,...
std::string eigenvec_text(const std::vector<std::string>& names, const Matrix& vecs);

// Short report: n, the block files used, the leading eigenvalues with their
// share of the total variance (the sum of all eigenvalues).
std::string summary_text(long n, const std::vector<BlockFile>& used, const std::vector<double>& values,
                         size_t leading);

}  // namespace ge
