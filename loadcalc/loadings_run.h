// The run shared by stdweights and cenweights: read the eigen results and the
// chromosome's descriptives, walk all samples' methylation files in step, and
// write the loadings file. The two programs differ only in the site values:
// standardized (stdweights, sites of zero deviation get zero values) or
// centred (cenweights, means only).
#pragma once

#include "matrix.h"

#include <string>
#include <string_view>
#include <vector>

extern std::string eigenfiles_label;
// constant[k] = 1.0 / (sqrt(n - 1) * sqrt(eigen_val[k])).
extern std::vector<double> constant;
// loadings[s][k]: loading of site s on component k + 1; one row per site read.
extern Matrix loadings;

// Field 2 of a methylation line as atof reads it: after the first comma up to
// the second (or the end of the line); a line without a comma is field 2 as a
// whole.
double site_value(std::string_view line);

enum class SiteValues { standardized, centred };

// The whole program; returns the exit status (failures exit on the spot).
int run_loadings(int argc, char** argv, const char* program, SiteValues mode);
