// grameigen's block-file reader. The first input byte gives the block's shape
// (1 to 4 lines, 1 to 4 values per line, diagonal or rectangular), the rest
// is the file. read_block must accept exactly the files of that many lines
// (a carriage return before a line feed allowed) of that many values, each a
// number as printf writes it with a finite value, a diagonal block with the
// same doubles (bit for bit) in its two triangles, and store strtod's values.
// parse_block_name gets the same bytes as a file name, read_sample_list the
// same bytes as a sample list (every line a name, none holding a comma, a
// double quote or a NUL byte, none given twice).
#include "blocks.h"
#include "fuzz_util.h"

#include <bit>
#include <cmath>
#include <set>

namespace {

// [-+] mantissa [eE [-+] digits], the mantissa digits with at most one '.'
// and at least one digit.
bool printf_number(const std::string& f) {
  size_t e = f.find_first_of("eE");
  std::string mant = f.substr(0, e), expo = e == std::string::npos ? std::string() : f.substr(e + 1);
  auto all_digits = [](const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!mant.empty() && (mant[0] == '-' || mant[0] == '+')) mant.erase(0, 1);
  const size_t dot = mant.find('.');
  if (dot != std::string::npos) mant.erase(dot, 1);
  if (!all_digits(mant)) return false;
  if (e == std::string::npos) return true;
  if (!expo.empty() && (expo[0] == '-' || expo[0] == '+')) expo.erase(0, 1);
  return all_digits(expo);
}

// The model: true and the values when the file is a valid block.
bool model(const std::string& text, long rows, long cols, bool diagonal, std::vector<double>& vals) {
  std::vector<std::string> lines = fz::lines_of(text);
  if (static_cast<long>(lines.size()) != rows) return false;
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    size_t b = 0;
    for (;;) {
      size_t c = line.find(',', b);
      fields.push_back(line.substr(b, c == std::string::npos ? c : c - b));
      if (c == std::string::npos) break;
      b = c + 1;
    }
    if (static_cast<long>(fields.size()) != cols) return false;
    for (const std::string& f : fields) {
      if (!printf_number(f)) return false;
      const double v = std::strtod(f.c_str(), nullptr);
      if (!std::isfinite(v)) return false;
      vals.push_back(v);
    }
  }
  if (diagonal)
    for (long r = 0; r < rows; ++r)
      for (long c = 0; c < r; ++c)
        if (std::bit_cast<uint64_t>(vals[static_cast<size_t>(r * cols + c)]) !=
            std::bit_cast<uint64_t>(vals[static_cast<size_t>(c * cols + r)]))
          return false;
  return true;
}

// The sample-list model: true and the names when the list is accepted.
bool list_model(const std::string& text, std::vector<std::string>& names) {
  if (text.find('\0') != std::string::npos) return false;
  std::set<std::string> seen;
  for (const std::string& line : fz::lines_of(text)) {
    if (line.find_first_of(",\"") != std::string::npos || !seen.insert(line).second) return false;
    names.push_back(line);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t shape = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  ge::BlockFile b;
  b.rect = shape & 16;
  b.r0 = 1;
  b.r1 = 1 + (shape & 3);
  b.c0 = b.rect ? 1 + ((shape >> 5) & 3) : b.r0;
  b.c1 = b.rect ? b.c0 + ((shape >> 2) & 3) : b.r1;
  b.path = fz::as_file(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const long rows = b.r1 - b.r0 + 1, cols = b.c1 - b.c0 + 1;

  std::vector<double> want;
  const bool valid = model(text, rows, cols, !b.rect, want);
  Matrix m;
  std::string err;
  const bool ok = ge::read_block(b, m, err);
  if (ok != valid) fz::finding(ok ? "read_block accepts" : "read_block refuses", fz::show(text) + " / " + err);
  if (ok != err.empty()) fz::finding("read_block: message and result disagree", err);
  if (ok) {
    if (static_cast<long>(m.rows()) != rows || static_cast<long>(m.cols()) != cols) fz::finding("read_block shape");
    for (long r = 0; r < rows; ++r)
      for (long c = 0; c < cols; ++c)
        if (!fz::same(m[r][c], want[static_cast<size_t>(r * cols + c)])) fz::finding("read_block value", fz::show(text));
  }

  // The same bytes as a sample list.
  std::vector<std::string> want_names, names;
  const bool list_valid = list_model(text, want_names);
  const bool list_ok = ge::read_sample_list(b.path, names, err);
  if (list_ok != list_valid) fz::finding(list_ok ? "read_sample_list accepts" : "read_sample_list refuses", fz::show(text) + " / " + err);
  if (list_ok && names != want_names) fz::finding("read_sample_list names", fz::show(text));

  // The same bytes as a block file name (after the prefix's stem).
  for (ge::Kind kind : {ge::Kind::Std, ge::Kind::Cen}) {
    ge::BlockFile nb;
    const int r = ge::parse_block_name(text, kind, nb);
    if (r == 1 && !(nb.r0 >= 1 && nb.r0 <= nb.r1 && nb.c0 >= 1 && nb.c0 <= nb.c1 && nb.r1 < 1000000000 &&
                    nb.c1 < 1000000000))
      fz::finding("parse_block_name range", fz::show(text));
    if (r == 1 && !nb.rect && (nb.c0 != nb.r0 || nb.c1 != nb.r1)) fz::finding("parse_block_name diagonal");
  }
  return 0;
}
