// The per-site loadings kernel. For one site with values row[0..n-1] (the
// standardized or centred values of the n samples), eigenvectors ev (n x K,
// row-major: ev[i*K + k]) and constants c[0..K-1], writes for every k
//
//   out[k] = sum over i = 0, 1, ..., n-1 of (row[i] * ev[i*K + k]) * c[k]
//
// accumulated from 0.0 in ascending i, each multiply and add rounded on its
// own. Both versions give bit-identical results.
#pragma once

#include <cstddef>

namespace loadcalc {

// Samples outer, components inner over K running sums: every sum keeps its
// order and the inner loop vectorizes across components.
void accumulate(const double* row, size_t n, const double* ev, size_t K, const double* c,
                double* out);

// accumulate for n_sites sites at once: site s has values rows[s*ld + i] and
// receives its sums in out[s*K + k]. Bit-identical to accumulate per site;
// runs the widest version this machine supports (AVX-512, AVX2, portable),
// which takes several sites together so that more independent sums overlap.
void accumulate_sites(const double* rows, size_t ld, size_t n_sites, size_t n, const double* ev,
                      size_t K, const double* c, double* out);

// accumulate_sites forced onto one version (tests); false, touching nothing,
// when this machine cannot run it.
enum class SitesIsa { portable, avx2, avx512 };
bool accumulate_sites_isa(SitesIsa isa, const double* rows, size_t ld, size_t n_sites, size_t n,
                          const double* ev, size_t K, const double* c, double* out);

// Plain reference: one component at a time, exactly as the formula reads.
void accumulate_ref(const double* row, size_t n, const double* ev, size_t K, const double* c,
                    double* out);

}  // namespace loadcalc
