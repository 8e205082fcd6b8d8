// Splits the sites read from the inputs by sample and chromosome into sorted
// temporary runs: one final run file per sample and chromosome, positions
// strictly ascending. Memory holds at most `chunk_records` sites at a time;
// beyond that the buffered sites go to sorted chunk files, merged into the
// final run when the input file ends. A position listed twice by one sample is
// an error naming the file and both lines.
#pragma once

#include "runfile.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace prep {

class Splitter {
 public:
  Splitter(size_t n_samples, size_t chunk_records);

  // Samples [first, first + count) are read from `path` next.
  void begin_file(const std::string& path, size_t first, size_t count);
  void add(size_t sample, int chrom, int32_t pos, uint32_t cov, double value, uint64_t line) {
    if (sample != last_sample_ || chrom != last_chrom_) select(sample, chrom);
    Bucket& b = *last_;
    if (!b.recs.empty() && pos <= b.recs.back().pos) b.increasing = false;
    b.recs.push_back(SiteAt{pos, cov, value, line});
    if (++buffered_ >= chunk_records_) spill();
  }
  // Turns every buffered site and chunk of the file into final runs.
  void end_file();

  // Chromosomes that any sample has sites on, ascending.
  std::vector<int> chromosomes() const;
  // Path of the final run of `sample` on `chrom`; empty when the sample has
  // no site there.
  std::string run_path(size_t sample, int chrom) const;

 private:
  struct Bucket {
    std::vector<SiteAt> recs;
    bool increasing = true;  // positions strictly ascending as added
    std::vector<std::string> chunks;
  };
  void select(size_t sample, int chrom);
  void spill();
  void sort_checked(Bucket& b, int chrom);
  void write_chunk(Bucket& b, int chrom);
  void finish(size_t sample, int chrom, Bucket& b);
  std::string merge_chunks(const std::vector<std::string>& chunks, int chrom, bool final_run,
                           const std::string& final_path);
  [[noreturn]] void duplicate(int chrom, int32_t pos, uint64_t line_a, uint64_t line_b);
  std::string next_temp(const char* ext);
  // Buffers of finished buckets, reused by the next ones so that memory is
  // not allocated and faulted in again for every input file.
  std::vector<SiteAt> take_buffer();
  void give_buffer(std::vector<SiteAt>& v);
  std::vector<std::vector<SiteAt>> pool_;
  size_t pool_records_ = 0;

  size_t n_samples_, chunk_records_;
  std::string path_;
  size_t first_ = 0, count_ = 0;
  std::vector<std::map<int, Bucket>> buckets_;  // per sample of the current file
  size_t last_sample_ = SIZE_MAX;
  int last_chrom_ = -1;
  Bucket* last_ = nullptr;
  size_t buffered_ = 0;
  uint64_t temp_seq_ = 0;
  std::map<int, std::vector<uint8_t>> has_run_;  // chrom -> per sample
};

}  // namespace prep
