#include "names.h"

#include "fields.h"
#include "lines.h"

#include <unordered_map>

namespace prep {

namespace {
bool ends_with(const std::string& s, const std::string& suf) {
  return s.size() > suf.size() && s.compare(s.size() - suf.size(), suf.size(), suf) == 0;
}
}  // namespace

std::string name_from_path(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string n = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const char* s : {".gz", ".GZ"})
    if (ends_with(n, s)) { n.resize(n.size() - std::char_traits<char>::length(s)); break; }
  for (const char* s : {".cov", ".txt", ".bedGraph", ".bedgraph", ".bg", ".bed", ".tsv", ".csv", ".counts"})
    if (ends_with(n, s)) { n.resize(n.size() - std::char_traits<char>::length(s)); break; }
  return n;
}

std::string unusable_name(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name.size() > 200) return "is longer than 200 characters";
  if (name[0] == '.' || name[0] == '-') return "begins with '" + std::string(1, name[0]) + "'";
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '_' || c == '-' || c == '+';
    if (!ok)
      return "holds the character " + quoted(std::string_view(&c, 1)) +
             " (sample names may use letters, digits, '.', '_', '-' and '+')";
  }
  return {};
}

std::vector<std::string> read_names(const std::string& path, std::string& err) {
  std::vector<std::string> names;
  InputLines in;
  if (!in.open(path)) { err = "cannot open names file " + path + ": " + in.error() + "\n"; return {}; }
  std::string_view line;
  while (in.next(line)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    names.emplace_back(line);
  }
  if (in.failed()) { err = "cannot read names file " + path + ": " + in.error() + "\n"; return {}; }
  while (!names.empty() && names.back().empty()) names.pop_back();
  return names;
}

std::string check_names(const std::vector<std::string>& names, const std::vector<std::string>& origins) {
  std::unordered_map<std::string, size_t> seen;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string why = unusable_name(names[i]);
    if (!why.empty()) return "sample name " + quoted(names[i]) + " (" + origins[i] + ") " + why + "\n";
    auto [it, fresh] = seen.emplace(names[i], i);
    if (!fresh)
      return "sample name " + quoted(names[i]) + " is given twice (" + origins[it->second] + "; " + origins[i] +
             ")\n";
  }
  return {};
}

}  // namespace prep
