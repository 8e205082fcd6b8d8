// Chromosome names to the system's chromosome numbers. Built-in rule:
// chr1..chr22 or 1..22 -> 1-22, X -> 23, Y -> 24, M/MT -> 25 (with or without
// "chr"). A map file of "name,number" lines adds names or overrides the rule;
// a selection (--chroms) keeps a subset. Names that map to nothing are dropped
// and counted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace prep {

class ChromMap {
 public:
  // Loads "name,number" lines. Returns an error message, empty on success.
  std::string load_map(const std::string& path);
  // Keeps only the chromosomes of `list`: comma-separated numbers, ranges
  // "a-b" and names (mapped as input names are). Error message or empty.
  std::string select(const std::string& list);

  // Chromosome number of `name`, or 0 when it is dropped.
  int lookup(std::string_view name) const;
  // Counts a line of a dropped name.
  void count_dropped(std::string_view name);
  // Lines per dropped name, over all inputs.
  const std::map<std::string, uint64_t>& dropped() const { return dropped_; }

  static int builtin(std::string_view name);
  // True when `name` has a number (built-in or mapped), selected or not.
  bool mapped(std::string_view name) const { return resolve(name) > 0; }

 private:
  int resolve(std::string_view name) const;  // map, then the built-in rule
  std::unordered_map<std::string, int> map_;
  std::vector<bool> selected_;  // indexed by number; empty: all kept
  std::map<std::string, uint64_t> dropped_;
  // Cache of the last name looked up: input files name one chromosome for
  // long stretches.
  mutable std::string last_name_;
  mutable int last_number_ = -1;
};

}  // namespace prep
