// Tiling driver of the accumulation kernel and the run-time choice of the
// instruction set. Compiled for baseline x86-64; the vector code lives in
// gram_kernel_{sse2,avx2,avx512,avx512vl}.cpp.
//
// Blocking, per call: the sites in passes of equal length, at most ks.kc
// each; per pass, y is packed into site-major panels (versions may read
// short rows of y in place instead, see in_place_bytes); then for each block
// of rows (kMc rows, their x values stay in L2), for each y panel, for each
// run of mr rows: one micro-kernel call updates an mr x nr tile of acc over
// the pass's sites. The mr row values of a site are contiguous in x already,
// so the micro-kernel reads them in place (in the lower triangle of a packed
// y, from the pack, which holds the same values). Each cell sees its sites
// in ascending order, one product and one add per site, with its sum carried
// in acc from pass to pass and call to call: the result is that of
// accumulate_ref, bit for bit.
//
// Software prefetch only for acc: while a tile runs, the cells of the next
// tile down the same panel are fetched (for 1000 samples and more acc is
// 8 MB and up, and a tile's rows lie a row stride apart, which the hardware
// prefetcher does not follow). The panels are not prefetched: the programs
// call this on about 2 MB they have just centred or standardized, so their
// values come from L2/L3 in sequence and the hardware keeps up (prefetching
// them cost 5-10 points of peak at 100 samples).
#include "gram_kernel.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <vector>
#include <xmmintrin.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "gram_kernel_tiles.h"

namespace gram {

namespace {

using detail::KernelSet;

// Rows per block, a multiple of every version's mr. 192 rather than 384:
// from 1000 samples up a block's row values then stay in a 1 MB L2 (1-3%).
constexpr size_t kMc = 192;
constexpr size_t kMaxMr = 16, kMaxNr = 32;  // bounds of every version's tile

size_t ceil_div(size_t a, size_t b) { return (a + b - 1) / b; }

// Cells of row i of a tile starting at column j0 that may change.
size_t row_limit(bool lower, size_t i, size_t j0, size_t span) {
  if (!lower) return span;
  if (i < j0) return 0;
  return i - j0 + 1 < span ? i - j0 + 1 : span;
}

// Pack workspace, grown as needed and kept for later calls; 64-byte aligned.
double* workspace(size_t doubles) {
  thread_local std::vector<double> buf;
  if (buf.size() < doubles + 8) buf.resize(doubles + 8);
  auto p = reinterpret_cast<uintptr_t>(buf.data());
  return reinterpret_cast<double*>((p + 63) & ~uintptr_t(63));
}

// One call of the kernel: x, y site-major as in accumulate(), or, with
// `packed` set, the lower triangle of values already in the packed layout of
// accumulate_lower_packed (panels of `pw` columns, x and y unused).
struct Call {
  const double* x;
  size_t ldx;
  const double* y;
  size_t ldy;
  size_t n_sites, m, n;
  double* acc;
  size_t ldc;
  bool lower;
  const double* packed;
  size_t pw;
};

// The lower triangle of a packed panel by the plain loop (versions whose
// tiles do not fit its panel width, and machines without a fast version).
void lower_packed_ref(const Call& a) {
  const size_t pw = a.pw, stride = pw * a.n_sites;
  auto at = [&](size_t k, size_t i) { return a.packed[i / pw * stride + k * pw + i % pw]; };
  for (size_t k = 0; k < a.n_sites; ++k)
    for (size_t i = 0; i < a.m; ++i) {
      double* row = a.acc + i * a.ldc;
      const double xi = at(k, i);
      for (size_t j = 0; j <= i; ++j) row[j] += xi * at(k, j);
    }
}

void run_plain(const Call& a) {
  if (a.packed)
    lower_packed_ref(a);
  else
    accumulate_ref(a.x, a.ldx, a.y, a.ldy, a.n_sites, a.m, a.n, a.acc, a.ldc, a.lower);
}

void run(const KernelSet& ks, const Call& a) {
  const double *x = a.x, *y = a.y;
  const size_t ldx = a.ldx, ldy = a.ldy, n_sites = a.n_sites, m = a.m, n = a.n, ldc = a.ldc;
  double* const acc = a.acc;
  const bool lower = a.lower || a.packed;
  if (n_sites == 0 || m == 0 || n == 0) return;
  const size_t mr = ks.mr, w = ks.w, nr = ks.nv * w;
  if (mr > kMaxMr || nr > kMaxNr || kMc % mr != 0 ||  // a version this driver was not built for
      (a.packed && (a.pw % nr != 0 || a.pw % mr != 0))) {
    run_plain(a);
    return;
  }
  // Short rows of y (small blocks) are read in place, panel by panel, with
  // only the columns after the last whole panel copied into a zero-padded
  // edge panel; longer rows are packed, as a site's panel then lies on a page
  // of its own. In the lower triangle of a packed y (x == y), the row values
  // are read from the pack (already in cache): the panels are then pw
  // columns wide, a multiple of both the tile width and the rows of a tile,
  // so that a run of mr rows is a slice of one panel. Otherwise they are read
  // in place from x.
  // A packed call's panels are read as the pack of one long pass would be.
  const bool in_place = !a.packed && ldy * sizeof(double) <= ks.in_place_bytes;
  const bool shared = a.packed || (!in_place && lower && x == y && ldx == ldy);
  size_t pw = nr;
  if (a.packed)
    pw = a.pw;
  else if (shared)
    while (pw % mr != 0) pw += nr;
  // The call's sites in pieces of equal length, at most ks.kc each (no short
  // last piece that would cost a pass over acc for a few sites).
  const size_t pieces = ceil_div(n_sites, ks.kc);
  const size_t kc_max = ceil_div(n_sites, pieces);
  const size_t n_full = in_place ? n / nr * nr : 0;  // columns read in place
  double* yp = a.packed ? nullptr : workspace((in_place ? nr : ceil_div(n, pw) * pw) * kc_max);
  const size_t edge = n - n_full;  // columns of the edge panel when in place
  if (in_place && edge > 0) std::fill(yp, yp + kc_max * nr, 0.0);
  double tile[kMaxMr * kMaxNr];  // edge tiles of versions without masked stores

  for (size_t k0 = 0; k0 < n_sites; k0 += kc_max) {
    const size_t kc = n_sites - k0 < kc_max ? n_sites - k0 : kc_max;
    // The pass's panels: panel p of its sites at base + p*stride, row stride pw.
    const double* base = yp;
    size_t stride = pw * kc;
    if (a.packed) {
      base = a.packed + k0 * pw;
      stride = pw * n_sites;
    } else if (!in_place) {
      ks.pack(y + k0 * ldy, ldy, kc, n, pw, yp);
    } else if (edge > 0) {  // its padding stays zero from call start
      for (size_t k = 0; k < kc; ++k)
        for (size_t c = 0; c < edge; ++c) yp[k * nr + c] = y[(k0 + k) * ldy + n_full + c];
    }
    for (size_t ic = 0; ic < m; ic += kMc) {
      const size_t iend = m - ic < kMc ? m : ic + kMc;
      // Tiles entirely above the diagonal (j0 > i for every row) are skipped.
      const size_t jend = lower ? iend : n;
      for (size_t j0 = 0; j0 < jend; j0 += nr) {
        const double* ypan;
        size_t ys;
        if (j0 < n_full) {
          ypan = y + k0 * ldy + j0;
          ys = ldy;
        } else if (in_place) {
          ypan = yp;
          ys = nr;
        } else {
          ypan = base + j0 / pw * stride + j0 % pw;
          ys = pw;
        }
        const size_t cols = n - j0 < nr ? n - j0 : nr;
        size_t i0 = ic;
        if (lower && j0 > i0) i0 += (j0 - i0) / mr * mr;  // first row panel reaching j0
        for (; i0 < iend; i0 += mr) {
          const size_t rows = iend - i0 < mr ? iend - i0 : mr;
          const double* xpan;
          size_t xs;
          if (shared) {
            xpan = base + i0 / pw * stride + i0 % pw;
            xs = pw;
          } else {
            xpan = x + k0 * ldx + i0;
            xs = ldx;
          }
          // Columns that can change: up to j = i0 + rows - 1 in the triangle.
          size_t span = cols;
          if (lower && i0 + rows - j0 < span) span = i0 + rows - j0;
          const size_t nv = ceil_div(span, w);
          const size_t idx = (rows - 1) * ks.nv + (nv - 1);  // the R x V micro-kernel
          const detail::MicroKernel kern = ks.table[idx];
          double* c = acc + i0 * ldc + j0;
          if (i0 + mr < iend) {  // the next tile's cells, while this one runs
            const size_t nrows = iend - i0 - mr < mr ? iend - i0 - mr : mr;
            const char* p = reinterpret_cast<const char*>(c + mr * ldc);
            for (size_t r = 0; r < nrows; ++r, p += ldc * sizeof(double)) {
              for (size_t b = 0; b < cols * sizeof(double); b += 64) _mm_prefetch(p + b, _MM_HINT_T0);
              _mm_prefetch(p + cols * sizeof(double) - 1, _MM_HINT_T0);
            }
          }
          const bool crosses = lower && j0 + span - 1 > i0;
          if (span == nv * w && !crosses) {
            kern(kc, xpan, xs, ypan, ys, c, ldc);
            continue;
          }
          size_t lim[kMaxMr];  // cells of each tile row that may change
          for (size_t r = 0; r < rows; ++r) lim[r] = row_limit(lower, i0 + r, j0, span);
          if (ks.masked) {
            ks.masked[idx](kc, xpan, xs, ypan, ys, c, ldc, lim);
            continue;
          }
          // No masked stores: run on a copy, store back only those cells.
          const size_t tw = nv * w;
          for (size_t r = 0; r < rows; ++r) {
            for (size_t q = 0; q < lim[r]; ++q) tile[r * tw + q] = c[r * ldc + q];
            for (size_t q = lim[r]; q < tw; ++q) tile[r * tw + q] = 0.0;
          }
          kern(kc, xpan, xs, ypan, ys, tile, tw);
          for (size_t r = 0; r < rows; ++r)
            for (size_t q = 0; q < lim[r]; ++q) c[r * ldc + q] = tile[r * tw + q];
        }
      }
    }
  }
}

const KernelSet* kernel_set(Isa isa) {
#if defined(__x86_64__)
  switch (isa) {
    case Isa::avx512:
      if (__builtin_cpu_supports("avx512f")) return &detail::kernels_avx512;
      return nullptr;
    case Isa::avx512vl:
      if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
        return &detail::kernels_avx512vl;
      return nullptr;
    case Isa::avx2:
      if (__builtin_cpu_supports("avx2")) return &detail::kernels_avx2;
      return nullptr;
    case Isa::sse2:
      return &detail::kernels_sse2;
  }
#endif
  (void)isa;
  return nullptr;
}

// Whether this processor runs 512-bit operations as two 256-bit halves:
// AMD family 19h (the first of its processors with AVX-512). There the
// 256-bit AVX-512 version is preferred (see gram_kernel_avx512vl.cpp), with
// the 512-bit one measured against it on the calls (run_adaptive).
bool halved_512() {
#if defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
  const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;  // "AuthenticAMD"
  if (!amd || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const unsigned base = (eax >> 8) & 0xf;
  const unsigned family = base == 0xf ? base + ((eax >> 20) & 0xff) : base;
  return family == 0x19;
#else
  return false;
#endif
}

const KernelSet* best_set() {
  static const KernelSet* const best = [] {
    const Isa wide = halved_512() ? Isa::avx512vl : Isa::avx512;
    for (Isa isa : {wide, Isa::avx512, Isa::avx2, Isa::sse2})
      if (const KernelSet* ks = kernel_set(isa)) return ks;
    return static_cast<const KernelSet*>(nullptr);
  }();
  return best;
}

// Where the processor halves 512-bit operations, the 512-bit version as
// the alternative to the 256-bit one. The 256-bit version issues twice the
// instructions per cell; it is the faster while the core is the thread's
// own, but loses its lead, and at small blocks falls behind, when another
// hardware thread shares the core's front end (bench_kernel under load: its
// peak fell to 80% of the 512-bit peak, against 95% on a quiet machine).
const KernelSet* alternative_set() {
  static const KernelSet* const alt = [] {
    const KernelSet* best = best_set();
    const KernelSet* zmm = kernel_set(Isa::avx512);
    return best != nullptr && best == kernel_set(Isa::avx512vl) && zmm != nullptr
               ? zmm
               : static_cast<const KernelSet*>(nullptr);
  }();
  return alt;
}

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Runs the faster of two versions, measured on the calls themselves (see
// detail::Chooser); both give the same bits, so the choice changes only the
// speed. Calls of fewer than kTimedCells cell-updates run the current choice
// untimed.
void run_adaptive(const KernelSet* const (&sets)[2], const Call& a) {
  constexpr double kTimedCells = 1e6;
  thread_local detail::Chooser ch;
  const bool lower = a.lower || a.packed;
  const double cells =
      (lower ? 0.5 * double(a.m) * double(a.n + 1) : double(a.m) * double(a.n)) *
      double(a.n_sites);
  if (cells < kTimedCells) {
    run(*sets[ch.current()], a);
    return;
  }
  const int use = ch.next();
  const double t0 = thread_seconds();
  run(*sets[use], a);
  ch.record(use, (thread_seconds() - t0) / cells);
}

void dispatch(const Call& a) {
  const KernelSet* ks = best_set();
  if (ks == nullptr) {
    run_plain(a);
  } else if (const KernelSet* alt = alternative_set()) {
    const KernelSet* const sets[2] = {ks, alt};
    run_adaptive(sets, a);
  } else {
    run(*ks, a);
  }
}

size_t gcd(size_t a, size_t b) { return b == 0 ? a : gcd(b, a % b); }
size_t lcm(size_t a, size_t b) { return a / gcd(a, b) * b; }

}  // namespace

namespace detail {

int Chooser::next() {
  if (cost_[1 - current_] == 0.0 || trial_ || ++calls_ % kTrial == 0) return 1 - current_;
  return current_;
}

void Chooser::record(int use, double cost) {
  if (use == current_) {
    cost_[use] = cost_[use] == 0.0 ? cost : 0.75 * cost_[use] + 0.25 * cost;
    // Looks slower than the other's last trial: try the other again first.
    trial_ = cost_[1 - use] > 0.0 && cost_[1 - use] < cost_[use];
    return;
  }
  cost_[use] = cost;  // a trial: the fresh figure replaces the old one
  trial_ = false;
  if (cost_[current_] == 0.0 || cost < cost_[current_]) {
    // The one left may have looked slow for a call or two only: try it
    // again after two calls.
    if (cost_[current_] > 0.0) calls_ = kTrial - 2;
    current_ = use;
  }
}

}  // namespace detail

void accumulate(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  dispatch({x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower, nullptr, 0});
}

size_t lower_panel_width() {
  static const size_t width = [] {
    size_t w = 1;
    for (Isa isa : {Isa::sse2, Isa::avx2, Isa::avx512, Isa::avx512vl})
      if (const KernelSet* ks = kernel_set(isa)) w = lcm(lcm(w, ks->mr), ks->nv * ks->w);
    return w;
  }();
  return width;
}

void pack_lower(const double* x, size_t ld, size_t n_sites, size_t n, double* packed) {
  const size_t pw = lower_panel_width();
  for (size_t p = 0; p * pw < n; ++p)
    for (size_t k = 0; k < n_sites; ++k) {
      double* d = packed + p * pw * n_sites + k * pw;
      for (size_t c = 0; c < pw; ++c) d[c] = p * pw + c < n ? x[k * ld + p * pw + c] : 0.0;
    }
}

void accumulate_lower_packed(const double* packed, size_t n_sites, size_t n, double* acc,
                             size_t ldc) {
  dispatch({nullptr, 0, nullptr, 0, n_sites, n, n, acc, ldc, true, packed, lower_panel_width()});
}

const char* kernel_isa() {
  const KernelSet* ks = best_set();
  return ks ? ks->name : "reference";
}

bool isa_available(Isa isa) { return kernel_set(isa) != nullptr; }

const char* isa_name(Isa isa) {
  switch (isa) {
    case Isa::sse2: return "sse2";
    case Isa::avx2: return "avx2";
    case Isa::avx512: return "avx512";
    case Isa::avx512vl: return "avx512vl";
  }
  return "?";
}

bool accumulate_isa(Isa isa, const double* x, size_t ldx, const double* y, size_t ldy,
                    size_t n_sites, size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  const KernelSet* ks = kernel_set(isa);
  if (!ks) return false;
  run(*ks, {x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower, nullptr, 0});
  return true;
}

void accumulate_lower_packed_ref(const double* packed, size_t n_sites, size_t n, double* acc,
                                 size_t ldc) {
  lower_packed_ref({nullptr, 0, nullptr, 0, n_sites, n, n, acc, ldc, true, packed,
                    lower_panel_width()});
}

bool accumulate_lower_packed_isa(Isa isa, const double* packed, size_t n_sites, size_t n,
                                 double* acc, size_t ldc) {
  const KernelSet* ks = kernel_set(isa);
  if (!ks) return false;
  run(*ks, {nullptr, 0, nullptr, 0, n_sites, n, n, acc, ldc, true, packed, lower_panel_width()});
  return true;
}

}  // namespace gram
