// The picture of a run: samples on PC1 against PC2, and a scree plot.
#pragma once

#include "matrix.h"

#include <string>
#include <vector>

namespace ge {

// A standalone SVG document. `groups` is empty, or holds one group name per
// sample (an empty name for a sample of no known group); points are coloured
// by group, with a legend. `vecs` needs at least two columns.
std::string pca_svg(const std::string& title, const std::vector<std::string>& names,
                    const std::vector<std::string>& groups, const std::vector<double>& values, const Matrix& vecs);

// Steps for axis ticks: about `want` round values covering [lo, hi].
std::vector<double> nice_ticks(double lo, double hi, int want);

}  // namespace ge
