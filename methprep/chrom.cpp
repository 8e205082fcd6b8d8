#include "chrom.h"

#include "fields.h"
#include "lines.h"

namespace prep {

int ChromMap::builtin(std::string_view name) {
  if (name.substr(0, 3) == "chr") name.remove_prefix(3);
  if (name == "X") return 23;
  if (name == "Y") return 24;
  if (name == "M" || name == "MT") return 25;
  if (name.empty() || name.size() > 2 || name[0] == '0') return 0;
  int n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 22 ? n : 0;
}

int ChromMap::resolve(std::string_view name) const {
  auto it = map_.find(std::string(name));
  return it != map_.end() ? it->second : builtin(name);
}

int ChromMap::lookup(std::string_view name) const {
  if (last_number_ >= 0 && name == last_name_) return last_number_;
  int n = resolve(name);
  if (n > 0 && !selected_.empty() && (static_cast<size_t>(n) >= selected_.size() || !selected_[n]))
    n = 0;
  last_name_.assign(name);
  last_number_ = n;
  return n;
}

void ChromMap::count_dropped(std::string_view name) {
  auto it = dropped_.find(std::string(name));
  if (it == dropped_.end()) dropped_.emplace(std::string(name), 1);
  else ++it->second;
}

std::string ChromMap::load_map(const std::string& path) {
  InputLines in;
  if (!in.open(path)) return "cannot open chromosome map " + path + ": " + in.error() + "\n";
  std::string_view line;
  std::vector<std::string_view> f;
  while (in.next(line)) {
    split_fields(line, ',', f);
    if (f.size() == 1 && f[0].empty()) continue;  // blank line
    int64_t n = 0;
    if (f.size() != 2 || f[0].empty())
      return at_line(path, in.line_no(), "expected \"name,number\"");
    if (!to_int64(f[1], n) || n < 1 || n > 1000000)
      return at_line(path, in.line_no(), "chromosome number " + quoted(f[1]) + " is not a whole number from 1 to 1000000");
    std::string key(f[0]);
    auto it = map_.find(key);
    if (it != map_.end() && it->second != n)
      return at_line(path, in.line_no(), "name " + quoted(f[0]) + " is mapped twice");
    map_[key] = static_cast<int>(n);
  }
  if (in.failed()) return "cannot read chromosome map " + path + ": " + in.error() + "\n";
  last_number_ = -1;
  return {};
}

std::string ChromMap::select(const std::string& list) {
  std::vector<std::string_view> items;
  split_fields(list, ',', items);
  std::vector<bool> sel;
  auto mark = [&sel](int64_t n) {
    if (sel.size() <= static_cast<size_t>(n)) sel.resize(static_cast<size_t>(n) + 1, false);
    sel[static_cast<size_t>(n)] = true;
  };
  for (std::string_view item : items) {
    if (item.empty()) return "--chroms: empty item in " + quoted(list) + "\n";
    int64_t a = 0, b = 0;
    size_t dash = item.find('-');
    if (to_int64(item, a) && a >= 1 && a <= 1000000) {
      mark(a);
    } else if (dash != std::string_view::npos && to_int64(item.substr(0, dash), a) &&
               to_int64(item.substr(dash + 1), b) && a >= 1 && b >= a && b <= 1000000) {
      for (int64_t n = a; n <= b; ++n) mark(n);
    } else if (int n = resolve(item); n > 0) {
      mark(n);
    } else {
      return "--chroms: " + quoted(item) + " is not a chromosome number, range or known name\n";
    }
  }
  selected_ = std::move(sel);
  last_number_ = -1;
  return {};
}

}  // namespace prep
