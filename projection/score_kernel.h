// The per-site arithmetic of pcscores, on a site-major panel of a chunk of
// sites: row t holds site t's value for every sample (column j), row stride ld.
// Knows nothing of files.
#pragma once

#include <cstddef>

namespace proj {

// True for a site counted as constant: its SD is not above 1e-10 or not a
// number. Such a site gives every sample a standardized value of 0.0.
inline bool sd_is_zero(double sd) { return !(sd > 1e-10); }

// Site values in place, for rows [0, n) and columns [0, m): x - mean[t]
// when sd is null (centred), else (x - mean[t]) / sd[t], or 0.0 where
// sd_is_zero(sd[t]) (standardized).
void site_values(double* panel, size_t ld, size_t m, size_t n, const double* mean, const double* sd);

// acc[j * K + k] += panel[t * ld + j] * load[t * K + k] for t = 0 .. n-1 in
// ascending order: each sample's K sums run over the sites in site order, a
// multiply and an add each rounded on its own.
void accumulate(const double* panel, size_t ld, size_t m, size_t n, const double* load, size_t K,
                double* acc);

}  // namespace proj
