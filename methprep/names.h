// Sample names: from input file names or a names file; every name must be a
// usable file stem, and names must be unique.
#pragma once

#include <string>
#include <vector>

namespace prep {

// The file name without folders and its known suffixes (".gz", then one of
// ".cov", ".txt", ".bedGraph", ...).
std::string name_from_path(const std::string& path);
// Why `name` cannot name a sample's files; empty when it can.
std::string unusable_name(const std::string& name);
// One name per line; a trailing '\r' is dropped, blank lines at the end are
// ignored. Error message in `err` on failure.
std::vector<std::string> read_names(const std::string& path, std::string& err);
// Error message naming the first unusable or repeated name, or empty.
// `origin(i)` describes where name i came from.
std::string check_names(const std::vector<std::string>& names, const std::vector<std::string>& origins);

}  // namespace prep
