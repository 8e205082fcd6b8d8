#include "linereader.h"

#include "numparse.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

struct LineReader::Plain {
  std::ifstream in;
  std::string line;
};

// The buffer is allocated by open(); until then next() and next_field2()
// report nothing.
LineReader::LineReader(size_t buffer_size) : cap_(buffer_size < 64 ? 64 : buffer_size) {}

LineReader::~LineReader() { close(); }

LineReader::LineReader(LineReader&& o) noexcept
    : fd_(o.fd_), src_(o.src_), src_ctx_(o.src_ctx_), cap_(o.cap_), buf_(std::move(o.buf_)), data_(o.data_), map_(o.map_), map_len_(o.map_len_), win_(o.win_),
      mapping_(o.mapping_), size_(o.size_), begin_(o.begin_), end_(o.end_), scan_(o.scan_), eof_(o.eof_), err_(o.err_), lines_(o.lines_),
      read_total_(o.read_total_), regular_(o.regular_), plain_(std::move(o.plain_)) {
  o.fd_ = -1;
  o.map_ = nullptr;
  o.data_ = nullptr;
}

namespace {
size_t page_size() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}
}  // namespace

void LineReader::set_map_window(size_t bytes) {
  const size_t page = page_size();
  win_ = bytes == 0 ? 0 : std::max(4 * page, (bytes + page - 1) / page * page);
}

void LineReader::unmap() {
  if (map_) munmap(map_, map_len_);
  map_ = nullptr;
}

bool LineReader::open(const char* path) {
  close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool stat_ok = fstat(fd, &st) == 0;
  if (!stat_ok || S_ISDIR(st.st_mode)) {
    int e = stat_ok ? EISDIR : errno;
    ::close(fd);
    errno = e;
    return false;
  }
#ifdef METHPCA_PLAIN
  ::close(fd);
  if (!plain_) plain_ = std::make_unique<Plain>();
  plain_->in.clear();
  plain_->in.open(path);
  if (!plain_->in) {
    errno = EIO;
    return false;
  }
  fd = 0;  // marks the reader open; the stream does the reading
  if (buf_.empty()) buf_.resize(1);
#else
  // The buffer is allocated here, no larger than a regular file needs: a
  // reader of a small file does not pay for clearing a large buffer. One
  // byte more holds the sentinel, and kPad more the vector scan's overhang.
  size_t want = cap_;
  if (S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<unsigned long long>(st.st_size) < cap_)
    want = std::max<size_t>(64, static_cast<size_t>(st.st_size) + 1);
  if (buf_.size() < want + 1 + kPad) buf_.resize(want + 1 + kPad);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
#endif
  fd_ = fd;
  reset_buffer();
  eof_ = false;
  err_ = 0;
  lines_ = 0;
  read_total_ = 0;
  regular_ = S_ISREG(st.st_mode);
  size_ = regular_ && st.st_size > 0 ? static_cast<unsigned long long>(st.st_size) : 0;
#ifndef METHPCA_PLAIN
  mapping_ = win_ > 0 && size_ >= 4ull * win_;
#endif
  return true;
}

bool LineReader::open_at(const char* path, unsigned long long offset) {
  if (!open(path)) return false;
  if (!regular_) {
    close();
    errno = ESPIPE;
    return false;
  }
  if (offset == 0) return true;
#ifdef METHPCA_PLAIN
  plain_->in.seekg(static_cast<std::streamoff>(offset));
  if (!plain_->in) {
    close();
    errno = EIO;
    return false;
  }
#else
  if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    const int e = errno;
    close();
    errno = e;
    return false;
  }
  read_total_ = offset;
#endif
  return true;
}

unsigned long long LineReader::offset() const {
#ifdef METHPCA_PLAIN
  if (!plain_ || !plain_->in.is_open()) return 0;
  plain_->in.clear(plain_->in.rdstate() & ~std::ios::failbit & ~std::ios::eofbit);
  const auto pos = plain_->in.tellg();
  return pos < 0 ? 0 : static_cast<unsigned long long>(pos);
#else
  return read_total_ - (end_ - begin_);
#endif
}

#ifndef METHPCA_PLAIN
void LineReader::open_source(long (*read)(void* ctx, char* dst, size_t n), void* ctx) {
  close();
  if (buf_.size() < cap_ + 1 + kPad) buf_.resize(cap_ + 1 + kPad);
  src_ = read;
  src_ctx_ = ctx;
  fd_ = 0;
  reset_buffer();
  eof_ = false;
  err_ = 0;
  lines_ = 0;
}
#endif

void LineReader::close() {
#ifdef METHPCA_PLAIN
  if (plain_ && plain_->in.is_open()) plain_->in.close();
#else
  if (fd_ >= 0 && !src_) ::close(fd_);
#endif
  fd_ = -1;
  src_ = nullptr;
  src_ctx_ = nullptr;
  mapping_ = false;
  if (!buf_.empty()) reset_buffer();
}

bool LineReader::fill_mapped() {
  const size_t page = page_size();
  const unsigned long long at = read_total_ - (end_ - begin_);  // file offset of begin_
  const unsigned long long woff = at / page * page;
  const size_t b = static_cast<size_t>(at - woff);
  // Windows lie wholly inside the file, so no access passes its end.
  if (woff + win_ <= size_ && b + kPad + 1 < win_) {
    void* m = mmap(nullptr, win_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, static_cast<off_t>(woff));
    if (m != MAP_FAILED) {
      char* p = static_cast<char*>(m);
      // The valid bytes end at the last line feed that leaves kPad bytes of
      // the window after it.
      const void* nl = memrchr(p + b, '\n', win_ - kPad - b);
      const size_t e = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : 0;
      if (nl && woff + e > read_total_) {
        unmap();
        map_ = data_ = p;
        map_len_ = win_;
        begin_ = b;
        end_ = e;
        read_total_ = woff + e;
        return true;
      }
      munmap(m, win_);  // a line longer than the window
    }
  }
  // The rest is read: the unread bytes into the buffer, the file from after them.
  mapping_ = false;
  const size_t rest = end_ - begin_;
  if (buf_.size() < rest + 1 + kPad) buf_.resize(rest + 1 + kPad);
  std::memmove(buf_.data(), data_ + begin_, rest);
  unmap();
  data_ = buf_.data();
  begin_ = 0;
  end_ = rest;
  buf_[end_] = '\n';
  if (lseek(fd_, static_cast<off_t>(read_total_), SEEK_SET) < 0) {
    err_ = errno;
    eof_ = true;
    return false;
  }
  return fill();
}

bool LineReader::fill() {
  if (mapping_) return fill_mapped();
  if (begin_ > 0) {
    std::memmove(buf_.data(), data_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ + 1 + kPad == buf_.size()) {
    // A line longer than the buffer: the buffer grows, up to kMaxLine. A
    // longer line (a device or a binary file given as input, say) is a read
    // error of its own rather than memory exhausted.
    if (buf_.size() > kMaxLine) {
      err_ = EFBIG;
      eof_ = true;
      return false;
    }
    try {
      buf_.resize((buf_.size() - kPad) * 2 + kPad);
      data_ = buf_.data();
    } catch (const std::bad_alloc&) {
      err_ = ENOMEM;
      eof_ = true;
      return false;
    }
  }
  for (;;) {
    char* dst = buf_.data() + end_;
    const size_t room = buf_.size() - 1 - kPad - end_;
    ssize_t n = src_ ? src_(src_ctx_, dst, room) : ::read(fd_, dst, room);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      read_total_ += static_cast<unsigned long long>(n);
      buf_[end_] = '\n';
      return true;
    }
    buf_[end_] = '\n';
    if (n == 0) { eof_ = true; return false; }
    if (errno == EINTR) continue;
    err_ = errno;
    eof_ = true;
    return false;
  }
}

bool LineReader::next(std::string_view& line) {
  if (fd_ < 0) return false;
#ifdef METHPCA_PLAIN
  if (!std::getline(plain_->in, plain_->line)) {
    if (plain_->in.bad()) err_ = EIO;
    return false;
  }
  line = plain_->line;
  ++lines_;
  return true;
#else
  for (;;) {
    const char* base = data_;
    const void* nl = std::memchr(base + begin_ + scan_, '\n', end_ - begin_ - scan_);
    if (nl) {
      size_t pos = static_cast<size_t>(static_cast<const char*>(nl) - base);
      line = std::string_view(base + begin_, pos - begin_);
      begin_ = pos + 1;
      scan_ = 0;
      ++lines_;
      return true;
    }
    scan_ = end_ - begin_;
    if (eof_ || !fill()) {
      if (err_) return false;
      if (end_ == begin_) return false;  // nothing after the last line feed
      line = std::string_view(data_ + begin_, end_ - begin_);
      begin_ = end_;
      scan_ = 0;
      ++lines_;
      return true;
    }
  }
#endif
}

#if defined(__SSE2__) && !defined(METHPCA_PLAIN) && !defined(METHPCA_NO_LINE_SSE2)
#define METHPCA_LINE_SSE2 1
#include <emmintrin.h>

namespace {

// Up to eight digits at q as an integer: the word's first `len` bytes (1 to
// 8) are the digits, most significant first; the shift drops the bytes after
// them and puts zeros before them.
inline uint64_t eight_digits(const char* q, unsigned len) {
  uint64_t w;
  std::memcpy(&w, q, 8);
  w = (w - 0x3030303030303030ull) << (8 * (8 - len));
  w = w * 10 + (w >> 8);
  return (((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
          (((w >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
}

// The value of the `len` bytes at f (24 bytes readable there) when they are a
// plain decimal: digits and at most one point, at least one digit, eight
// digits at most on either side of the point. The value is
// num::exact_decimal of its digits, as num::parse_plain_decimal forms it, so
// it is the same double. False otherwise.
inline bool plain_field(const char* f, unsigned len, double& value) {
  if (len == 0 || len > 16) return false;
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f));
  const __m128i dx = _mm_sub_epi8(x, _mm_set1_epi8('0'));
  const uint32_t digit = static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(dx, _mm_set1_epi8(9)), dx)));
  const uint32_t in = (1u << len) - 1;
  const uint32_t dots = in & static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('.'))));
  if ((in & ~(digit | dots)) || (dots & (dots - 1))) return false;
  const unsigned ilen = dots ? static_cast<unsigned>(__builtin_ctz(dots)) : len;
  const unsigned flen = dots ? len - ilen - 1 : 0;
  if (ilen > 8 || flen > 8 || ilen + flen == 0) return false;
  static constexpr uint64_t kPow10U[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
  // One integer digit (a beta value's "0." or "1.") is the common case.
  const uint64_t ip = ilen == 1 ? static_cast<uint64_t>(f[0] - '0') : ilen ? eight_digits(f, ilen) : 0;
  const uint64_t m = flen ? ip * kPow10U[flen] + eight_digits(f + ilen + 1, flen) : ip;
  return num::exact_decimal(m, flen, value);
}

// read_field2 works in rounds of lines: the separators of kRound lines are
// found first, then the lines. A round's last 16-byte window may bring up to
// 15 separators more than asked for, so a round takes at most
// (2 * kRound + 15) / 2 = kRound + 7 ordinary lines.
constexpr unsigned kRound = 64;

// The AVX-512 line path (LineReader::read_field2_lines) finds the line feeds
// of up to kWideLines lines a round, 64 bytes at a time: at most
// kWideLines + 63 lines.
constexpr unsigned kWideLines = 64;

// Fields of ordinary lines, converted after their round: offset of the
// field in the buffer, its length, and the output slot.
struct Pending {
  static constexpr unsigned kMax = kWideLines + 64;
  uint32_t len[kMax];
  int64_t off[kMax];
  size_t slot[kMax];
  unsigned count = 0;
};

// The plain_field of a pending field, or when it is not a plain decimal the
// general parse (field 2 of an ordinary line is the whole field).
inline double field_value(const char* f, unsigned len) {
  double v;
  if (!plain_field(f, len, v)) v = num::parse_double(f, f + len);
  return v;
}

// Pending fields from `first` on, one at a time.
void convert_scalar(const char* base, const Pending& pd, double* out, size_t stride, unsigned first = 0) {
  for (unsigned i = first; i < pd.count; ++i)
    out[pd.slot[i] * stride] = field_value(base + pd.off[i], pd.len[i]);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define METHPCA_FIELDS_AVX512 1
#include <immintrin.h>
// GCC 12's AVX-512 headers leave the pass-through operand of unmasked
// intrinsics undefined on purpose, which -Wmaybe-uninitialized reports.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Eight fields at a time, one in each 64-bit lane, where a field is at most
// eight bytes of digits with at most one point and at least one digit (a
// beta value with up to six decimals, say): its digits, the point taken out,
// as an integer m < 10^8 and its digits after the point f, and the value
// m / 10^f: the one IEEE division exact_decimal does. `w` holds the eight
// bytes at each field's start, `len` the fields' lengths; lanes set in `ok`
// hold their field's value, the others are to be read the scalar way.
struct Eight {
  __m512d val;
  __mmask8 ok;
};
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd"))) inline Eight convert8(__m512i w, __m512i len) {
  const __m512i ones = _mm512_set1_epi64(-1), zero = _mm512_setzero_si512();
  const __m512i eight = _mm512_set1_epi64(8);
  const __m512d pow10 = _mm512_setr_pd(1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7);
  const __m512i valid = _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(len, 3)), ones);
  const __m512i d = _mm512_sub_epi8(w, _mm512_set1_epi8('0'));
  const __mmask64 kval = _mm512_movepi8_mask(valid);
  const __mmask64 kdig = _mm512_cmple_epu8_mask(d, _mm512_set1_epi8(9)) & kval;
  const __mmask64 kdot = _mm512_cmpeq_epi8_mask(w, _mm512_set1_epi8('.')) & kval;
  const __mmask8 other = _mm512_test_epi64_mask(_mm512_movm_epi8(kval & ~(kdig | kdot)), ones);
  const __m512i dot1 = _mm512_maskz_mov_epi8(kdot, _mm512_set1_epi8(1));
  const __m512i ndots = _mm512_sad_epu8(dot1, zero);
  const __mmask8 hasdot = _mm512_test_epi64_mask(dot1, dot1);
  // The point's byte: the lowest set bit of dot1 over 8 (no point: len).
  const __m512i low = _mm512_and_si512(dot1, _mm512_sub_epi64(zero, dot1));
  const __m512i at = _mm512_srli_epi64(_mm512_sub_epi64(_mm512_set1_epi64(63), _mm512_lzcnt_epi64(low)), 3);
  const __m512i p = _mm512_mask_mov_epi64(len, hasdot, at);
  const __m512i ndig = _mm512_mask_sub_epi64(len, hasdot, len, _mm512_set1_epi64(1));
  const __mmask8 ok = _mm512_cmple_epu64_mask(len, eight) & ~other &
                      _mm512_cmple_epu64_mask(ndots, _mm512_set1_epi64(1)) &
                      _mm512_test_epi64_mask(ndig, ndig);
  // Digits before the point one byte up, over the point: the digits then
  // end at byte len; moved to the top of the word, zeros below them.
  const __m512i p8 = _mm512_slli_epi64(p, 3);
  const __m512i before = _mm512_andnot_si512(_mm512_sllv_epi64(ones, p8), d);
  const __m512i after = _mm512_and_si512(_mm512_and_si512(d, valid),
                                         _mm512_sllv_epi64(ones, _mm512_add_epi64(p8, eight)));
  __m512i g = _mm512_mask_or_epi64(_mm512_and_si512(d, valid), hasdot, _mm512_slli_epi64(before, 8), after);
  g = _mm512_sllv_epi64(g, _mm512_slli_epi64(_mm512_sub_epi64(eight, len), 3));
  // eight_digits on each lane.
  g = _mm512_add_epi64(_mm512_mullo_epi64(g, _mm512_set1_epi64(10)), _mm512_srli_epi64(g, 8));
  const __m512i lo = _mm512_and_si512(g, _mm512_set1_epi64(0x000000FF000000FFll));
  const __m512i hi = _mm512_and_si512(_mm512_srli_epi64(g, 16), _mm512_set1_epi64(0x000000FF000000FFll));
  const __m512i m = _mm512_srli_epi64(
      _mm512_add_epi64(_mm512_mullo_epi64(lo, _mm512_set1_epi64(100 + (1000000ll << 32))),
                       _mm512_mullo_epi64(hi, _mm512_set1_epi64(1 + (10000ll << 32)))),
      32);
  const __m512i frac = _mm512_maskz_sub_epi64(hasdot, _mm512_sub_epi64(len, p), _mm512_set1_epi64(1));
  return {_mm512_div_pd(_mm512_cvtepu64_pd(m), _mm512_permutexvar_pd(frac, pow10)), ok};
}

// The eight bytes at base + off(l) for l < 8, by eight loads rather than one
// gather (a gather is 15-20% slower for the whole round on Zen 4).
template <class Off>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd"))) inline __m512i words8(const char* base, Off off) {
  auto word = [&](unsigned l) {
    long long u;
    std::memcpy(&u, base + off(l), 8);
    return u;
  };
  const __m128i q0 = _mm_insert_epi64(_mm_cvtsi64_si128(word(0)), word(1), 1);
  const __m128i q1 = _mm_insert_epi64(_mm_cvtsi64_si128(word(2)), word(3), 1);
  const __m128i q2 = _mm_insert_epi64(_mm_cvtsi64_si128(word(4)), word(5), 1);
  const __m128i q3 = _mm_insert_epi64(_mm_cvtsi64_si128(word(6)), word(7), 1);
  return _mm512_inserti64x4(
      _mm512_castsi256_si512(_mm256_inserti128_si256(_mm256_castsi128_si256(q0), q1, 1)),
      _mm256_inserti128_si256(_mm256_castsi128_si256(q2), q3, 1), 1);
}

// convert8's eight values stored lane by lane at dst(l), a lane it did not
// decide as field_value(base + off(l), len(l)).
template <class Dst, class Off, class Len>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd"))) inline void store8(
    const Eight& e, Dst dst, const char* base, Off off, Len len) {
  alignas(64) double v[8];
  _mm512_store_pd(v, e.val);
  for (unsigned l = 0; l < 8; ++l) *dst(l) = (e.ok >> l) & 1 ? v[l] : field_value(base + off(l), len(l));
}

// The fields of Pending, eight at a time by convert8; other fields the scalar way.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd"))) void convert_avx512(
    const char* base, const Pending& pd, double* out, size_t stride) {
  unsigned i = 0;
  for (; i + 8 <= pd.count; i += 8) {
    const __m512i len = _mm512_cvtepu32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pd.len + i)));
    auto off = [&](unsigned l) { return pd.off[i + l]; };
    store8(convert8(words8(base, off), len), [&](unsigned l) { return out + pd.slot[i + l] * stride; },
           base, off, [&](unsigned l) { return pd.len[i + l]; });
  }
  convert_scalar(base, pd, out, stride, i);
}

bool has_avx512_fields() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512cd");
}
bool has_avx512_lines() {
  return has_avx512_fields() && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2");
}
// 0: one field at a time; 1: fields eight at a time; 2: lines found with
// AVX-512 too (see LineReader::wide_level).
unsigned highest_wide_level() { return has_avx512_lines() ? 2 : has_avx512_fields() ? 1 : 0; }
unsigned wide_level = highest_wide_level();

// Offsets of a window's `count` separators: their byte indices (packed, one
// byte each, by vpcompressb) plus the window's offset `at`, 16 at a time.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd,avx512vl,avx512vbmi2"))) inline void
store_offsets(int32_t* dst, __m512i packed, unsigned count, __m512i at) {
  _mm512_storeu_si512(dst, _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm512_castsi512_si128(packed)), at));
  if (count > 16) {  // more than 16 in 64 bytes: short lines or odd ones
    _mm512_storeu_si512(dst + 16, _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(packed, 1)), at));
    _mm512_storeu_si512(dst + 32, _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(packed, 2)), at));
    _mm512_storeu_si512(dst + 48, _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(packed, 3)), at));
  }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace
#endif

unsigned LineReader::set_wide_level(unsigned level) {
#ifdef METHPCA_FIELDS_AVX512
  const unsigned was = wide_level;
  wide_level = std::min(level, highest_wide_level());
  return was;
#else
  (void)level;
  return 0;
#endif
}

#ifdef METHPCA_FIELDS_AVX512
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // as for convert_avx512
#endif
// read_field2 with the line feeds and commas of 64 bytes at a time found by
// compare masks and compressed into their offsets (AVX-512 VBMI2), and the
// lines paired with them eight at a time: eight lines in a row are ordinary
// ("<field 1>,<field 2>\n") when the i-th comma from the first line's start
// lies between the (i-1)-th and the i-th line feed for each of them and the
// ninth comma comes after the eighth line feed. Any other line is read on its
// own, as the SSE2 rounds read it. (AVX-512 VBMI2 and VL.)
__attribute__((target("avx512f,avx512bw,avx512dq,avx512cd,avx512vl,avx512vbmi2"))) size_t
LineReader::read_field2_lines(double* out, size_t stride, size_t n, char* empty, size_t estride) {
  constexpr unsigned kCap = kWideLines + 64;
  int32_t commas[kCap + 16], feeds_at[kCap + 17];
  // feeds[t] ends line t; feeds[-1] = feeds_at[0] is the byte before the
  // round's first line.
  int32_t* const feeds = feeds_at + 1;
  const __m512i idx = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48,
                                      47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32,
                                      31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                                      15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i lf = _mm512_set1_epi8('\n'), comma = _mm512_set1_epi8(',');
  size_t k = 0;
  while (k < n) {
    const char* const base = data_;
    const int32_t start = static_cast<int32_t>(begin_), end = static_cast<int32_t>(end_);
    // Offsets of the commas and line feeds before the sentinel at `end` (a
    // line ending there may go on), whole windows of 64 bytes (the buffer
    // stays readable kPad bytes past the sentinel).
    unsigned nc = 0, nf = 0;
    for (int32_t q = start; q < end && nf < kWideLines && nc < kWideLines; q += 64) {
      const __m512i x = _mm512_loadu_si512(base + q);
      const __mmask64 in = end - q >= 64 ? ~__mmask64{0} : (__mmask64{1} << (end - q)) - 1;
      const __mmask64 mc = _mm512_cmpeq_epi8_mask(x, comma) & in, mf = _mm512_cmpeq_epi8_mask(x, lf) & in;
      const __m512i at = _mm512_set1_epi32(q);
      const __m512i pc = _mm512_maskz_compress_epi8(mc, idx), pf = _mm512_maskz_compress_epi8(mf, idx);
      const unsigned cc = static_cast<unsigned>(__builtin_popcountll(mc));
      const unsigned cf = static_cast<unsigned>(__builtin_popcountll(mf));
      store_offsets(commas + nc, pc, cc, at);
      store_offsets(feeds + nf, pf, cf, at);
      nc += cc;
      nf += cf;
    }
    if (nf == 0) {
      // No line ends among the buffered bytes: next_field2 reads on.
      std::string_view line;
      if (!next_field2(line, out[k * stride])) return k;
      if (empty) empty[k * estride] = line.empty();
      ++k;
      continue;
    }
    feeds[-1] = start - 1;
    Pending pd;
    unsigned t = 0, c = 0;  // next line, next comma
    const size_t k0 = k;
    while (t < nf && k < n) {
      if (t + 8 <= nf && c + 8 <= nc && k + 8 <= n) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(commas + c));
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(feeds + t));
        const __m256i fp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(feeds_at + t));
        const __mmask8 ok = _mm256_cmpgt_epi32_mask(a, fp) & _mm256_cmpgt_epi32_mask(f, a);
        if (ok == 0xff && (c + 8 == nc || commas[c + 8] > feeds[t + 7])) {
          // Eight ordinary lines: their fields converted here, straight
          // from the offsets, and stored a row stride apart.
          const __m256i a1 = _mm256_add_epi32(a, _mm256_set1_epi32(1));
          const __m512i len = _mm512_cvtepi32_epi64(_mm256_sub_epi32(f, a1));
          const int32_t* const fc = commas + c;
          auto off = [&](unsigned l) { return fc[l] + 1; };
          const Eight e = convert8(words8(base, off), len);
          double* o = out + k * stride;
          if (e.ok == 0xff) {
            const __m256d lo = _mm512_castpd512_pd256(e.val), hi = _mm512_extractf64x4_pd(e.val, 1);
            const __m128d q0 = _mm256_castpd256_pd128(lo), q1 = _mm256_extractf128_pd(lo, 1);
            const __m128d q2 = _mm256_castpd256_pd128(hi), q3 = _mm256_extractf128_pd(hi, 1);
            _mm_storel_pd(o, q0);
            _mm_storeh_pd(o + stride, q0);
            _mm_storel_pd(o + 2 * stride, q1);
            _mm_storeh_pd(o + 3 * stride, q1);
            _mm_storel_pd(o + 4 * stride, q2);
            _mm_storeh_pd(o + 5 * stride, q2);
            _mm_storel_pd(o + 6 * stride, q3);
            _mm_storeh_pd(o + 7 * stride, q3);
          } else {
            store8(e, [&](unsigned l) { return o + l * stride; }, base, off,
                   [&](unsigned l) { return static_cast<unsigned>(feeds[t + l] - off(l)); });
          }
          if (empty)
            for (unsigned l = 0; l < 8; ++l) empty[(k + l) * estride] = 0;
          t += 8;
          c += 8;
          k += 8;
          continue;
        }
      }
      // Line t on its own: [feeds[t - 1] + 1, feeds[t]).
      const int32_t b = feeds_at[t] + 1, e = feeds[t];
      if (c < nc && commas[c] < e && (c + 1 == nc || commas[c + 1] > e)) {
        pd.off[pd.count] = commas[c] + 1;
        pd.len[pd.count] = static_cast<uint32_t>(e - commas[c] - 1);
        pd.slot[pd.count++] = k;
        if (empty) empty[k * estride] = 0;
        ++c;
      } else {
        out[k * stride] = field2_value(std::string_view(base + b, static_cast<size_t>(e - b)));
        if (empty) empty[k * estride] = e == b;
        while (c < nc && commas[c] < e) ++c;
      }
      ++t;
      ++k;
    }
    convert_avx512(base, pd, out, stride);
    prefetch_step(static_cast<size_t>(feeds_at[t] + 1 - start));
    begin_ = static_cast<size_t>(feeds_at[t]) + 1;  // after line t - 1
    scan_ = 0;
    lines_ += k - k0;
  }
  return k;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

size_t LineReader::read_field2(double* out, size_t stride, size_t n, char* empty, size_t estride) {
  struct Rest {  // what the rounds left of prefetch_along's range, at the end
    LineReader& r;
    ~Rest() {
      r.prefetch_step(static_cast<size_t>(r.pf_end_ - r.pf_));
      r.pf_ = r.pf_end_ = nullptr;
    }
  } rest{*this};
  size_t k = 0;
#ifdef METHPCA_LINE_SSE2
  if (fd_ < 0) return 0;
#ifdef METHPCA_FIELDS_AVX512
  if (wide_level == 2) return read_field2_lines(out, stride, n, empty, estride);
#endif
  // In rounds: first the separators (commas and line feeds) among the
  // buffered bytes, from a mask per 16 bytes; then each line from them. An
  // ordinary line is a comma and then a line feed; finding where a line
  // starts does not wait for the line before it to be parsed, so the lines
  // of a round are worked on side by side, and their fields are converted
  // together at the end of the round.
  const char* seps[2 * kRound + 16];
  const __m128i lf = _mm_set1_epi8('\n'), comma = _mm_set1_epi8(',');
  while (k < n) {
    const char* const base = data_;
    const char* const e = base + end_;  // the sentinel; a line ending there may go on
    const char* p = base + begin_;
    const unsigned want = 2 * static_cast<unsigned>(std::min<size_t>(kRound, n - k));
    unsigned got = 0;
    for (const char* q = p; got < want && q < e; q += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, lf), _mm_cmpeq_epi8(x, comma))));
      while (m) {
        seps[got++] = q + __builtin_ctz(m);
        m &= m - 1;
      }
    }
    while (got && seps[got - 1] >= e) --got;  // the sentinel, or stale bytes after it
    const size_t k0 = k;
    Pending pd;
    for (unsigned i = 0; k < n;) {
      if (i + 1 < got && *seps[i] == ',' && *seps[i + 1] == '\n') {
        // "<field 1>,<field 2>\n": field 2 lies between the two.
        const char* f = seps[i] + 1;
        const char* end = seps[i + 1];
        // Converted after the round, several at a time.
        pd.off[pd.count] = f - base;
        pd.len[pd.count] = static_cast<uint32_t>(end - f);
        pd.slot[pd.count++] = k;
        if (empty) empty[k * estride] = 0;
        p = end + 1;
        i += 2;
      } else {
        // Any other line, read as next_field2 reads it, when its end is among
        // the separators found.
        unsigned j = i;
        while (j < got && *seps[j] != '\n') ++j;
        if (j == got) break;
        const size_t len = static_cast<size_t>(seps[j] - p);
        out[k * stride] = field2_value(std::string_view(p, len));
        if (empty) empty[k * estride] = len == 0;
        p = seps[j] + 1;
        i = j + 1;
      }
      ++k;
    }
#ifdef METHPCA_FIELDS_AVX512
    if (wide_level >= 1) convert_avx512(base, pd, out, stride); else
#endif
    convert_scalar(base, pd, out, stride);
    prefetch_step(static_cast<size_t>(p - base) - begin_);
    begin_ = static_cast<size_t>(p - base);
    scan_ = 0;
    lines_ += k - k0;
    if (k == n) break;
    if (k != k0) continue;  // the round ran out of separators: find more
    // No line ends among the buffered bytes: next_field2 reads on.
    std::string_view line;
    if (!next_field2(line, out[k * stride])) return k;
    if (empty) empty[k * estride] = line.empty();
    ++k;
  }
#else
  std::string_view line;
  for (; k < n && next_field2(line, out[k * stride]); ++k)
    if (empty) empty[k * estride] = line.empty();
#endif
  return k;
}

void LineReader::prefetch_step(size_t bytes) {
#ifdef METHPCA_LINE_SSE2
  const char* e = pf_ + std::min(bytes, static_cast<size_t>(pf_end_ - pf_));
  for (; pf_ < e; pf_ += 64) _mm_prefetch(pf_, _MM_HINT_T0);
  if (pf_ > pf_end_) pf_ = pf_end_;
#else
  (void)bytes;
#endif
}

bool LineReader::next_field2_slow(std::string_view& line, double& value) {
  if (!next(line)) return false;
  value = field2_value(line);
  return true;
}

double LineReader::field2_value(std::string_view line) {
  const char* b = line.data();
  const char* e = b + line.size();
  if (const void* c = std::memchr(b, ',', line.size())) {
    b = static_cast<const char*>(c) + 1;
    if (const void* c2 = std::memchr(b, ',', static_cast<size_t>(e - b)))
      e = static_cast<const char*>(c2);
  }
  return num::parse_double(b, e);
}
