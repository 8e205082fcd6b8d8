// The run shared by stdweights, cenweights and weights: read the eigen
// results and walk the chromosome's descriptives file and all samples'
// methylation files in step, a chunk of sites at a time, writing each chunk's
// loadings rows as they are computed. stdweights and cenweights differ only
// in the site values: standardized (stdweights, sites of zero deviation get
// zero values) or centred (cenweights, means only). weights computes both
// analyses from one reading of the files.
#pragma once

enum class SiteValues { standardized, centred };

// stdweights / cenweights: the whole program; returns the exit status
// (failures exit on the spot).
int run_loadings(int argc, char** argv, const char* program, SiteValues mode);

// weights: both analyses of one chromosome from one reading.
int run_weights(int argc, char** argv);
