// Outlying samples: far from the others on one of the leading components.
#pragma once

#include "matrix.h"

#include <string>
#include <vector>

namespace ge {

struct OutlierRule {
  double sd = 6;        // a sample is flagged beyond this many standard deviations
  long components = 10;  // on any of this many leading components (0: no search)
};

struct Outlier {
  size_t sample;     // 0-based, in sample-list order
  size_t component;  // 0-based
  double deviation;  // (value - mean) / SD in the round that flagged it
  int round;         // from 1
};

// Components searched: the leading rule.components (at most n) whose
// eigenvalue is positive and not numerically zero (above n x DBL_EPSILON x
// the largest), since the eigenvectors of a zero eigenvalue are arbitrary.
size_t outlier_components(const std::vector<double>& values, size_t n, const OutlierRule& rule);

// "PC1" or "PC1-PC<components>".
std::string component_range(size_t components);

// Rounds of flagging. In each round, over the samples not yet flagged (m of
// them, at least 2), each searched component k has the mean of its
// eigenvector entries and their standard deviation sqrt(sum (x - mean)^2 /
// (m - 1)); a component whose SD is 0 is passed over. A sample whose
// deviation (x - mean) / SD lies beyond rule.sd in absolute value on some
// component is flagged, once, with the component of its largest |deviation|
// (the first on a tie). The rounds end with the first that flags none. The
// result is in round order, then sample order.
std::vector<Outlier> find_outliers(const std::vector<double>& values, const Matrix& vecs, const OutlierRule& rule);

// The outliers file: header "sample,component,deviation,round", then per
// outlier the quoted name, the component number (1 for PC1), the deviation
// (17 significant digits) and the round.
std::string outliers_csv(const std::vector<std::string>& names, const std::vector<Outlier>& found);

// Lines for standard output: nothing when none is found.
std::string outliers_report(const std::vector<std::string>& names, const std::vector<Outlier>& found,
                            const OutlierRule& rule, size_t components);

}  // namespace ge
