// The picture of a run: samples on PC1 against PC2, and a scree plot.
#pragma once

#include "matrix.h"

#include <string>
#include <vector>

namespace ge {

// A standalone SVG document. `groups` is empty, or holds one group name per
// sample (an empty name for a sample of no known group); points are coloured
// by group, with a legend. `vecs` needs at least two columns. `rounds` is
// empty, or holds per sample the round in which it was flagged as an outlier
// (0: not flagged); outliers are ringed in red, labelled first, and
// `outlier_note` is written under the scatter.
std::string pca_svg(const std::string& title, const std::vector<std::string>& names,
                    const std::vector<std::string>& groups, const std::vector<double>& values, const Matrix& vecs,
                    const std::vector<int>& rounds = {}, const std::string& outlier_note = {});

// Steps for axis ticks: about `want` round values covering [lo, hi].
std::vector<double> nice_ticks(double lo, double hi, int want);

}  // namespace ge
