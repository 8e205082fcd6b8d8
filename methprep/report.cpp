#include "report.h"

#include "outfile.h"
#include "workspace.h"

#include <cstdio>

namespace prep {

namespace {
void commit_or_die(OutFile& f) {
  if (!f.commit()) fatal("cannot write output file " + f.path() + ": " + f.error() + "\n", 255);
}
void open_or_die(OutFile& f, const std::string& path) {
  if (!f.open(path)) fatal("cannot write output file " + path + ": " + f.error() + "\n", 255);
}
}  // namespace

void write_samples(const std::vector<std::string>& names) {
  OutFile f;
  open_or_die(f, stage_dir() + "samples.txt");
  for (const auto& n : names) {
    f.write(n);
    f.put('\n');
  }
  commit_or_die(f);
}

void write_manifest(const std::vector<ChromStats>& stats, const ChromMap& chroms,
                    const std::vector<std::string>& names) {
  OutFile f;
  open_or_die(f, stage_dir() + "manifest.tsv");
  f.write("chromosome\tstatus\tsites_seen\tsites_kept\tdropped_for_coverage\tfilled_total");
  for (const auto& n : names) {
    f.write("\tfilled:");
    f.write(n);
  }
  f.put('\n');
  for (const ChromStats& s : stats) {
    uint64_t total = 0;
    for (uint64_t v : s.filled) total += v;
    std::string row = std::to_string(s.chrom) + (s.kept > 0 ? "\tkept\t" : "\tno site kept\t") +
                      std::to_string(s.seen) + "\t" + std::to_string(s.kept) + "\t" +
                      std::to_string(s.dropped_coverage) + "\t" + std::to_string(total);
    for (uint64_t v : s.filled) row += "\t" + std::to_string(v);
    f.write(row);
    f.put('\n');
  }
  for (const auto& [name, lines] : chroms.dropped()) {
    std::string status = chroms.mapped(name) ? "not selected" : "unknown name";
    std::string row = name + "\t" + status + "\t" + std::to_string(lines) + "\t0\t0\t0";
    for (size_t k = 0; k < names.size(); ++k) row += "\t0";
    f.write(row);
    f.put('\n');
  }
  commit_or_die(f);
}

void print_summary(const std::vector<ChromStats>& stats, const ChromMap& chroms, size_t n_samples,
                   const std::string& out_dir, uint64_t other_code) {
  uint64_t seen = 0, kept = 0, filled = 0;
  size_t written = 0;
  for (const ChromStats& s : stats) {
    uint64_t f = 0;
    for (uint64_t v : s.filled) f += v;
    std::printf("chromosome %d: %llu sites seen, %llu kept, %llu dropped for coverage, %llu values filled in\n",
                s.chrom, static_cast<unsigned long long>(s.seen), static_cast<unsigned long long>(s.kept),
                static_cast<unsigned long long>(s.dropped_coverage), static_cast<unsigned long long>(f));
    seen += s.seen;
    kept += s.kept;
    filled += f;
    if (s.kept > 0) ++written;
  }
  for (const auto& [name, lines] : chroms.dropped())
    std::printf("dropped chromosome %s: %llu lines\n", name.c_str(), static_cast<unsigned long long>(lines));
  if (other_code > 0)
    std::printf("skipped %llu lines of other modification codes or contexts\n",
                static_cast<unsigned long long>(other_code));
  std::string dir = out_dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::printf("%zu samples, %zu chromosomes written, %llu of %llu sites kept, %llu values filled in\n", n_samples,
              written, static_cast<unsigned long long>(kept), static_cast<unsigned long long>(seen),
              static_cast<unsigned long long>(filled));
  std::printf("wrote %ssamples.txt, %smeth/chrN/<sample>.csv, %smanifest.tsv\n", dir.c_str(), dir.c_str(),
              dir.c_str());
  std::fflush(stdout);
}

}  // namespace prep
