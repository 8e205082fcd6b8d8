// The eigen-result readers. The first input byte gives K (0 to 5), the rest
// is the file, read as eigenvalue file and as eigenvector file. Data lines:
// after the header, up to the first empty line. A row that read_eigenvec
// must refuse (fewer than K component fields) is predicted and not read,
// since the reader ends the run there; so is a name two rows hold. The
// eigenvector reader takes the rows read_n_sample kept (the file is read once).
#include "eigen_readers.h"
#include "fuzz_util.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int K = data[0] % 6;
  ++data;
  --size;
  std::vector<std::string> rows;
  {
    std::vector<std::string> lines = fz::lines_of({reinterpret_cast<const char*>(data), size});
    for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) rows.push_back(std::move(lines[i]));
  }
  const char* path = fz::as_file(data, size);

  read_eigenval(path);
  if (eigen_val.size() != rows.size()) fz::finding("read_eigenval count");
  for (size_t r = 0; r < rows.size(); ++r)
    if (!fz::same(eigen_val[r], fz::atof_of(rows[r]))) fz::finding("read_eigenval", fz::show(rows[r]));

  n_sample = -1;
  read_n_sample(path);
  if (n_sample != static_cast<int>(rows.size())) fz::finding("read_n_sample");

  // Model of read_eigenvec: the name between the first two double quotes of
  // field 1 (no quote: the field; one quote: the text after it), then K fields.
  std::vector<std::string> names(rows.size());
  std::vector<std::vector<double>> vec(rows.size(), std::vector<double>(K, 0.0));
  size_t named = 0;  // rows read_eigenvec takes a name from
  for (size_t i = 0; i < rows.size(); ++i, named = i) {
    const std::string& line = rows[i];
    size_t c = line.find(',');
    if (c == std::string::npos) {
      if (K > 0) return 0;  // refused with a message and status 255
      break;
    }
    const std::string field = line.substr(0, c);
    const size_t q1 = field.find('"');
    if (q1 == std::string::npos) {
      names[i] = field;
    } else {
      const size_t q2 = field.find('"', q1 + 1);
      names[i] = q2 == std::string::npos ? field.substr(q1 + 1) : field.substr(q1 + 1, q2 - q1 - 1);
    }
    for (int k = 0; k < K; ++k) {
      if (c == std::string::npos) return 0;  // refused
      const size_t start = c + 1;
      c = line.find(',', start);
      vec[i][k] = fz::atof_of(line.substr(start, c == std::string::npos ? c : c - start));
    }
  }
  // Two rows of one name are refused with a message and status 255.
  {
    std::vector<std::string> sorted(names.begin(), names.begin() + static_cast<long>(named));
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return 0;
  }
  sizeMatrix(eigen_vec, n_sample, K);
  read_eigenvec(path, K);
  if (sample_names != names) fz::finding("read_eigenvec names");
  for (size_t i = 0; i < rows.size(); ++i)
    for (int k = 0; k < K; ++k)
      if (!fz::same(eigen_vec[i][k], vec[i][k]))
        fz::finding("read_eigenvec", "row " + std::to_string(i) + " " + fz::show(rows[i]));
  return 0;
}
