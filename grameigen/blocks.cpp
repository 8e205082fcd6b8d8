#include "blocks.h"

#include "numparse.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <new>
#include <unordered_map>

namespace ge {

namespace {

std::string range(long a, long b) {
  return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
}

std::string cells(long r0, long r1, long c0, long c1) {
  return "samples " + range(r0, r1) + " against samples " + range(c0, c1);
}

std::string describe(const BlockFile& b) {
  return b.rect ? cells(b.r0, b.r1, b.c0, b.c1) : cells(b.r0, b.r1, b.r0, b.r1);
}

// Reads a positive decimal number of at most 9 digits at `s[i]`, advancing i.
bool take_number(std::string_view s, size_t& i, long& v) {
  size_t start = i;
  v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 10) v = v * 10 + (s[i++] - '0');
  return i > start && i - start <= 9 && v >= 1;
}

bool take(std::string_view s, size_t& i, char c) {
  if (i < s.size() && s[i] == c) { ++i; return true; }
  return false;
}

// A number as printf writes one: [-+]digits[.digits][e[-+]digits], or .digits.
bool is_number(std::string_view f) {
  size_t i = 0, n = f.size();
  if (i < n && (f[i] == '-' || f[i] == '+')) ++i;
  size_t digits = 0;
  while (i < n && f[i] >= '0' && f[i] <= '9') { ++i; ++digits; }
  if (i < n && f[i] == '.') {
    ++i;
    while (i < n && f[i] >= '0' && f[i] <= '9') { ++i; ++digits; }
  }
  if (digits == 0) return false;
  if (i < n && (f[i] == 'e' || f[i] == 'E')) {
    ++i;
    if (i < n && (f[i] == '-' || f[i] == '+')) ++i;
    size_t e = 0;
    while (i < n && f[i] >= '0' && f[i] <= '9') { ++i; ++e; }
    if (e == 0) return false;
  }
  return i == n;
}

// The placements of a block: its own rectangle and, for a rect block, the mirror.
struct Rect { long r0, r1, c0, c1; };

int placements(const BlockFile& b, Rect out[2]) {
  if (!b.rect) { out[0] = {b.r0, b.r1, b.r0, b.r1}; return 1; }
  out[0] = {b.r0, b.r1, b.c0, b.c1};
  out[1] = {b.c0, b.c1, b.r0, b.r1};
  return 2;
}

bool within(const BlockFile& b, long n, std::string& err) {
  if (b.r1 <= n && b.c1 <= n) return true;
  err = "block file " + b.path + " covers " + describe(b) + ", but the sample list holds " + std::to_string(n) +
        " samples";
  return false;
}

// A name or value quoted in a message: at most 60 bytes, control bytes as '?'.
std::string shown(std::string_view s) {
  std::string o;
  for (char c : s.substr(0, 60)) o += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return s.size() > 60 ? o + "..." : o;
}

std::string g17(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

bool contains(const Rect& r, long i, long j) { return i >= r.r0 && i <= r.r1 && j >= r.c0 && j <= r.c1; }

}  // namespace

bool read_sample_list(const std::string& path, std::vector<std::string>& names, std::string& err,
                      SeenInput* seen) {
  names.clear();
  try {
    Input in;
    if (!in.open(path)) {
      err = "cannot open sample list " + path + ": " + std::strerror(errno);
      return false;
    }
    if (seen) *seen = {"the sample list " + path, in.id()};
    std::unordered_map<std::string, size_t> line_of;
    std::string_view line;
    while (in.next(line)) {
      const size_t at = names.size() + 1;
      if (line.find_first_of(",\"") != std::string_view::npos) {
        err = "sample list " + path + ": the name on line " + std::to_string(at) +
              " holds a comma or a double quote, which the eigenvector file cannot carry";
        return false;
      }
      if (static_cast<long>(at) > kMaxSamples) {
        err = "sample list " + path + " holds more than " + std::to_string(kMaxSamples) +
              " names, the most an analysis can hold";
        return false;
      }
      auto [it, fresh] = line_of.emplace(std::string(line), at);
      if (!fresh) {
        err = "sample list " + path + ": the name \"" + shown(line) + "\" on line " + std::to_string(at) +
              " is the name on line " + std::to_string(it->second) + " (a sample given twice)";
        return false;
      }
      names.emplace_back(line);
    }
    if (in.failed()) {
      err = "cannot read sample list " + path + ": " + in.reason();
      return false;
    }
  } catch (const std::bad_alloc&) {
    const size_t at = names.size() + 1;
    std::vector<std::string>().swap(names);  // gives the memory back for the message
    err = "out of memory while reading the sample list " + path + " (line " + std::to_string(at) + ")";
    return false;
  }
  return true;
}

int parse_block_name(std::string_view rest, Kind kind, BlockFile& b) {
  const std::string_view diag = kind == Kind::Std ? "diagst_" : "diag_";
  const std::string_view rect = kind == Kind::Std ? "rectst_" : "rect_";
  size_t i;
  if (rest.substr(0, diag.size()) == diag) {
    b.rect = false;
    i = diag.size();
  } else if (rest.substr(0, rect.size()) == rect) {
    b.rect = true;
    i = rect.size();
  } else {
    return 0;
  }
  if (rest.size() < 4 || rest.substr(rest.size() - 4) != ".csv") return 0;
  bool ok = take_number(rest, i, b.r0) && take(rest, i, '.') && take_number(rest, i, b.r1) && take(rest, i, '_');
  if (ok && b.rect) ok = take_number(rest, i, b.c0) && take(rest, i, '.') && take_number(rest, i, b.c1) && take(rest, i, '_');
  if (!b.rect) { b.c0 = b.r0; b.c1 = b.r1; }
  ok = ok && rest.substr(i) == ".csv" && b.r0 <= b.r1 && b.c0 <= b.c1;
  return ok ? 1 : -1;
}

bool find_blocks(const std::string& prefix, Kind kind, std::vector<BlockFile>& out, std::string& err) {
  out.clear();
  size_t slash = prefix.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : prefix.substr(0, slash + 1);
  std::string stem = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  DIR* d = opendir(folder.empty() ? "." : folder.c_str());
  if (!d) {
    err = "cannot list the folder " + (folder.empty() ? std::string(".") : folder) + " of block prefix \"" +
          prefix + "\": " + std::strerror(errno);
    return false;
  }
  std::string bad;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    if (name.substr(0, stem.size()) != stem) continue;
    BlockFile b;
    int r = parse_block_name(name.substr(stem.size()), kind, b);
    if (r < 0 && bad.empty()) bad = std::string(name);
    if (r <= 0) continue;
    b.name = std::string(name);
    b.path = folder + b.name;
    out.push_back(std::move(b));
  }
  closedir(d);
  if (!bad.empty()) {
    err = "block file " + folder + bad + ": the name does not follow " +
          (kind == Kind::Std ? "diagst_A.B_.csv or rectst_A.B_C.D_.csv" : "diag_A.B_.csv or rect_A.B_C.D_.csv") +
          " with sample positions A <= B, C <= D from 1";
    return false;
  }
  if (out.empty()) {
    err = std::string("no ") + (kind == Kind::Std ? "diagst_/rectst_" : "diag_/rect_") +
          " block files found for block prefix \"" + prefix + "\"";
    return false;
  }
  std::sort(out.begin(), out.end(), [](const BlockFile& a, const BlockFile& b) {
    if (a.r0 != b.r0) return a.r0 < b.r0;
    if (a.c0 != b.c0) return a.c0 < b.c0;
    if (a.rect != b.rect) return !a.rect;
    return a.name < b.name;
  });
  return true;
}

namespace {

bool read_block_lines(const BlockFile& b, Matrix& m, std::string& err) {
  const long rows = b.r1 - b.r0 + 1, cols = b.c1 - b.c0 + 1;
  const std::string what = "block file " + b.path + " (" + describe(b) + ", " + std::to_string(rows) + " lines of " +
                           std::to_string(cols) + " values)";
  Input in;
  if (!in.open(b.path)) {
    err = "cannot open " + what + ": " + std::strerror(errno);
    return false;
  }
  if (b.have_id && !(in.id() == b.id)) {
    err = what + " is no longer the file it was when the block files were listed";
    return false;
  }
  sizeMatrix(m, rows, cols);
  std::string_view line;
  long r = 0;
  while (in.next(line)) {
    if (r == rows) {
      err = what + " holds more lines than that";
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      err = what + ": line " + std::to_string(r + 1) + " is empty";
      return false;
    }
    long c = 0;
    size_t start = 0;
    for (;;) {
      size_t comma = line.find(',', start);
      std::string_view field = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
      if (c == cols) {
        err = what + ": line " + std::to_string(r + 1) + " holds more values than that";
        return false;
      }
      double v = num::parse_double(field.data(), field.data() + field.size());
      if (!is_number(field) || !std::isfinite(v)) {
        err = what + ": line " + std::to_string(r + 1) + ", value " + std::to_string(c + 1) + " \"" +
              std::string(field.substr(0, 40)) + "\" is not a finite number";
        return false;
      }
      m[r][c++] = v;
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (c != cols) {
      err = what + ": line " + std::to_string(r + 1) + " holds " + std::to_string(c) + " values";
      return false;
    }
    ++r;
  }
  if (in.failed()) {
    err = "cannot read " + what + ": " + in.reason();
    return false;
  }
  if (r != rows) {
    err = what + " holds " + std::to_string(r) + " lines";
    return false;
  }
  if (!b.rect)
    for (long i = 0; i < rows; ++i)
      for (long j = i + 1; j < cols; ++j)
        if (std::bit_cast<uint64_t>(m[i][j]) != std::bit_cast<uint64_t>(m[j][i])) {
          err = what + " is not symmetric: line " + std::to_string(i + 1) + ", value " + std::to_string(j + 1) +
                " is " + g17(m[i][j]) + " but line " + std::to_string(j + 1) + ", value " + std::to_string(i + 1) +
                " is " + g17(m[j][i]);
          return false;
        }
  return true;
}

}  // namespace

bool read_block(const BlockFile& b, Matrix& m, std::string& err) {
  try {
    return read_block_lines(b, m, err);
  } catch (const std::bad_alloc&) {
    m = Matrix();  // gives the memory back for the message
    err = "out of memory while reading block file " + b.path;
    return false;
  }
}

bool place_blocks(const std::vector<BlockFile>& files, const std::vector<Matrix>& values, long n, Matrix& whole,
                  std::string& err) {
  sizeMatrix(whole, n, n);
  const size_t nn = static_cast<size_t>(n);
  std::vector<int32_t> owner(nn * nn, -1);
  for (size_t f = 0; f < files.size(); ++f) {
    const BlockFile& b = files[f];
    if (!within(b, n, err)) return false;
    if (b.rect && b.r0 <= b.c1 && b.c0 <= b.r1) {
      err = "block file " + b.path + " covers " + describe(b) +
            ": its row and column samples overlap, so the block and its mirror would cover cells twice";
      return false;
    }
    Rect mine[2];
    int k = placements(b, mine);
    for (int p = 0; p < k; ++p) {
      const Rect& q = mine[p];
      for (long i = q.r0; i <= q.r1; ++i)
        for (long j = q.c0; j <= q.c1; ++j) {
          size_t cell = static_cast<size_t>(i - 1) * nn + static_cast<size_t>(j - 1);
          if (owner[cell] >= 0) {
            // Name the shared cells: the intersection of the two placements.
            Rect theirs[2];
            int kt = placements(files[owner[cell]], theirs);
            Rect t = theirs[0];
            for (int u = 0; u < kt; ++u)
              if (contains(theirs[u], i, j)) t = theirs[u];
            err = "block files " + files[owner[cell]].path + " and " + b.path + " overlap: both cover " +
                  cells(std::max(q.r0, t.r0), std::min(q.r1, t.r1), std::max(q.c0, t.c0), std::min(q.c1, t.c1));
            return false;
          }
          owner[cell] = static_cast<int32_t>(f);
          // The mirror of a rect block is its transpose.
          whole[i - 1][j - 1] = p == 0 ? values[f][i - b.r0][j - b.c0] : values[f][j - b.r0][i - b.c0];
        }
    }
  }
  // Gaps: report the first uncovered cell, grown to the largest rectangle of
  // uncovered cells to its right and below it.
  for (size_t cell = 0; cell < nn * nn; ++cell) {
    if (owner[cell] >= 0) continue;
    size_t i = cell / nn, j = cell % nn, j1 = j, i1 = i;
    while (j1 + 1 < nn && owner[i * nn + j1 + 1] < 0) ++j1;
    for (;;) {
      if (i1 + 1 >= nn) break;
      bool all = true;
      for (size_t c = j; c <= j1; ++c) all = all && owner[(i1 + 1) * nn + c] < 0;
      if (!all) break;
      ++i1;
    }
    size_t missing = static_cast<size_t>(std::count(owner.begin(), owner.end(), -1));
    err = "the block files leave a gap: no file covers " +
          cells(static_cast<long>(i + 1), static_cast<long>(i1 + 1), static_cast<long>(j + 1), static_cast<long>(j1 + 1)) +
          " (" + std::to_string(missing) + " of " + std::to_string(nn * nn) + " cells uncovered)";
    return false;
  }
  return true;
}

namespace {

// Lists the block files of every prefix and checks their ranges against the
// list and their identities against one another and the earlier inputs.
bool list_all(const std::vector<std::string>& prefixes, Kind kind, long n, const std::vector<SeenInput>& earlier,
              std::vector<std::vector<BlockFile>>& lists, std::string& err) {
  lists.assign(prefixes.size(), {});
  std::vector<SeenInput> seen = earlier;
  for (size_t p = 0; p < prefixes.size(); ++p) {
    if (!find_blocks(prefixes[p], kind, lists[p], err)) return false;
    // Ranges first, so that a name far beyond the list sizes nothing.
    for (const BlockFile& b : lists[p])
      if (!within(b, n, err)) return false;
    for (BlockFile& b : lists[p]) {
      if (!file_id(b.path, b.id)) {
        err = "cannot open block file " + b.path + ": " + std::strerror(errno);
        return false;
      }
      b.have_id = true;
      const std::string what = "block file " + b.path + " (block prefix \"" + prefixes[p] + "\")";
      for (const SeenInput& s : seen)
        if (s.id == b.id) {
          err = what + " is the same file as " + s.what + ": a file reached twice would be added twice";
          return false;
        }
      seen.push_back({what, b.id});
    }
  }
  return true;
}

}  // namespace

bool assemble(const std::vector<std::string>& prefixes, Kind kind, long n, Matrix& sum, std::vector<BlockFile>& used,
              std::string& err, const std::vector<SeenInput>& earlier) {
  used.clear();
  std::vector<std::vector<BlockFile>> lists;
  if (!list_all(prefixes, kind, n, earlier, lists, err)) return false;
  try {
    sizeMatrix(sum, n, n);
    Matrix whole;
    for (size_t p = 0; p < prefixes.size(); ++p) {
      const std::vector<BlockFile>& files = lists[p];
      std::vector<Matrix> values(files.size());
      for (size_t f = 0; f < files.size(); ++f)
        if (!read_block(files[f], values[f], err)) return false;
      if (!place_blocks(files, values, n, whole, err)) {
        err += " (block prefix \"" + prefixes[p] + "\")";
        return false;
      }
      for (size_t i = 0; i < sum.cells.size(); ++i) sum.cells[i] = sum.cells[i] + whole.cells[i];
      used.insert(used.end(), files.begin(), files.end());
    }
  } catch (const std::bad_alloc&) {
    sum = Matrix();
    err = "out of memory while assembling the " + std::to_string(n) + " x " + std::to_string(n) +
          " matrix from the block files";
    return false;
  }
  return true;
}

}  // namespace ge
