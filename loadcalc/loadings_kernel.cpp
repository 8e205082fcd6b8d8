#include "loadings_kernel.h"

#include <initializer_list>

namespace loadcalc {

void accumulate(const double* __restrict row, size_t n, const double* __restrict ev, size_t K,
                const double* __restrict c, double* __restrict out) {
  for (size_t k = 0; k < K; ++k) out[k] = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double z = row[i];
    const double* __restrict v = ev + i * K;
    for (size_t k = 0; k < K; ++k) out[k] = out[k] + (z * v[k]) * c[k];
  }
}

namespace detail {
void accumulate_sites_avx2(const double* rows, size_t ld, size_t n_sites, size_t n,
                           const double* ev, size_t K, const double* c, double* out);
void accumulate_sites_avx512(const double* rows, size_t ld, size_t n_sites, size_t n,
                             const double* ev, size_t K, const double* c, double* out);
}  // namespace detail

namespace {

using SitesFn = void (*)(const double*, size_t, size_t, size_t, const double*, size_t,
                         const double*, double*);

void sites_portable(const double* rows, size_t ld, size_t n_sites, size_t n, const double* ev,
                    size_t K, const double* c, double* out) {
  for (size_t s = 0; s < n_sites; ++s) accumulate(rows + s * ld, n, ev, K, c, out + s * K);
}

SitesFn sites_fn(SitesIsa isa) {
  switch (isa) {
#if defined(__x86_64__)
    case SitesIsa::avx512:
      return __builtin_cpu_supports("avx512f") ? &detail::accumulate_sites_avx512 : nullptr;
    case SitesIsa::avx2:
      return __builtin_cpu_supports("avx2") ? &detail::accumulate_sites_avx2 : nullptr;
#endif
    case SitesIsa::portable:
      return &sites_portable;
    default:
      return nullptr;
  }
}

}  // namespace

void accumulate_sites(const double* rows, size_t ld, size_t n_sites, size_t n, const double* ev,
                      size_t K, const double* c, double* out) {
  static const SitesFn best = [] {
    for (SitesIsa isa : {SitesIsa::avx512, SitesIsa::avx2, SitesIsa::portable})
      if (SitesFn f = sites_fn(isa)) return f;
    return &sites_portable;
  }();
  best(rows, ld, n_sites, n, ev, K, c, out);
}

bool accumulate_sites_isa(SitesIsa isa, const double* rows, size_t ld, size_t n_sites, size_t n,
                          const double* ev, size_t K, const double* c, double* out) {
  SitesFn f = sites_fn(isa);
  if (!f) return false;
  f(rows, ld, n_sites, n, ev, K, c, out);
  return true;
}

void accumulate_ref(const double* row, size_t n, const double* ev, size_t K, const double* c,
                    double* out) {
  for (size_t k = 0; k < K; ++k) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum = sum + (row[i] * ev[i * K + k]) * c[k];
    out[k] = sum;
  }
}

}  // namespace loadcalc
