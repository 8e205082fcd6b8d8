#include "split.h"

#include "fields.h"
#include "sysutil.h"

#include <algorithm>
#include <queue>

namespace prep {

namespace {
// Chunk files merged at once when a sample's sites did not fit in memory.
constexpr size_t kMergeFanIn = 64;
}  // namespace

Splitter::Splitter(size_t n_samples, size_t chunk_records)
    : n_samples_(n_samples), chunk_records_(chunk_records < 1 ? 1 : chunk_records) {}

void Splitter::begin_file(const std::string& path, size_t first, size_t count) {
  path_ = path;
  first_ = first;
  count_ = count;
  buckets_.assign(count, {});
  last_sample_ = SIZE_MAX;
  last_chrom_ = -1;
  last_ = nullptr;
  buffered_ = 0;
}

void Splitter::select(size_t sample, int chrom) {
  last_sample_ = sample;
  last_chrom_ = chrom;
  auto [it, fresh] = buckets_[sample - first_].try_emplace(chrom);
  last_ = &it->second;
  if (fresh || last_->recs.capacity() == 0) last_->recs = take_buffer();
}

std::vector<SiteAt> Splitter::take_buffer() {
  if (pool_.empty()) return {};
  std::vector<SiteAt> v = std::move(pool_.back());
  pool_.pop_back();
  pool_records_ -= v.capacity();
  v.clear();
  return v;
}

void Splitter::give_buffer(std::vector<SiteAt>& v) {
  // Keep at most twice the chunk size in spare buffers.
  if (v.capacity() > 0 && pool_records_ + v.capacity() <= 2 * chunk_records_) {
    pool_records_ += v.capacity();
    pool_.push_back(std::move(v));
  }
  std::vector<SiteAt>().swap(v);
}

std::string Splitter::next_temp(const char* ext) {
  return tmp_dir() + "t" + std::to_string(temp_seq_++) + ext;
}

void Splitter::duplicate(int chrom, int32_t pos, uint64_t line_a, uint64_t line_b) {
  uint64_t first = std::min(line_a, line_b), later = std::max(line_a, line_b);
  fatal(at_line(path_, later,
                "position " + std::to_string(pos) + " of chromosome " + std::to_string(chrom) +
                    " is listed twice (also on line " + std::to_string(first) + ")"));
}

void Splitter::sort_checked(Bucket& b, int chrom) {
  if (!b.increasing) {
    std::sort(b.recs.begin(), b.recs.end(), [](const SiteAt& x, const SiteAt& y) {
      return x.pos != y.pos ? x.pos < y.pos : x.line < y.line;
    });
    for (size_t i = 1; i < b.recs.size(); ++i)
      if (b.recs[i].pos == b.recs[i - 1].pos)
        duplicate(chrom, b.recs[i].pos, b.recs[i - 1].line, b.recs[i].line);
  }
}

void Splitter::write_chunk(Bucket& b, int chrom) {
  sort_checked(b, chrom);
  std::string p = next_temp(".chunk");
  RunWriter<SiteAt> w;
  w.open(p);
  for (const SiteAt& r : b.recs) w.put(r);
  w.close();
  b.chunks.push_back(p);
  give_buffer(b.recs);
  b.increasing = true;
}

void Splitter::spill() {
  for (auto& per_sample : buckets_)
    for (auto& [chrom, b] : per_sample)
      if (!b.recs.empty()) write_chunk(b, chrom);
  buffered_ = 0;
}

// Merges sorted chunk files by (position, line). With final_run the result is
// the sample's run (Site records, duplicates rejected) at final_path;
// otherwise a new chunk whose path is returned.
std::string Splitter::merge_chunks(const std::vector<std::string>& chunks, int chrom,
                                   bool final_run, const std::string& final_path) {
  std::vector<RunReader<SiteAt>> in;
  in.reserve(chunks.size());
  using Head = std::pair<SiteAt, size_t>;
  auto later = [](const Head& a, const Head& b) {
    return a.first.pos != b.first.pos ? a.first.pos > b.first.pos : a.first.line > b.first.line;
  };
  std::priority_queue<Head, std::vector<Head>, decltype(later)> heap(later);
  for (size_t i = 0; i < chunks.size(); ++i) {
    in.emplace_back(1 << 12);
    in.back().open(chunks[i]);
    SiteAt r;
    if (in.back().next(r)) heap.push({r, i});
  }
  std::string out_path = final_run ? final_path : next_temp(".chunk");
  RunWriter<Site> site_out;
  RunWriter<SiteAt> chunk_out;
  if (final_run) site_out.open(out_path);
  else chunk_out.open(out_path);
  bool have_prev = false;
  SiteAt prev{};
  while (!heap.empty()) {
    auto [r, i] = heap.top();
    heap.pop();
    if (have_prev && r.pos == prev.pos) duplicate(chrom, r.pos, prev.line, r.line);
    if (final_run) site_out.put(Site{r.pos, r.cov, r.value});
    else chunk_out.put(r);
    prev = r;
    have_prev = true;
    SiteAt nxt;
    if (in[i].next(nxt)) heap.push({nxt, i});
  }
  if (final_run) site_out.close();
  else chunk_out.close();
  for (auto& r : in) r.close();
  for (const auto& c : chunks) remove_tree(c);
  return out_path;
}

void Splitter::finish(size_t sample, int chrom, Bucket& b) {
  std::string final_path = tmp_dir() + "c" + std::to_string(chrom) + "_s" + std::to_string(sample) + ".run";
  if (b.chunks.empty()) {
    sort_checked(b, chrom);
    RunWriter<Site> w;
    w.open(final_path);
    for (const SiteAt& r : b.recs) w.put(Site{r.pos, r.cov, r.value});
    w.close();
  } else {
    if (!b.recs.empty()) write_chunk(b, chrom);
    // Fan in at most kMergeFanIn chunks at a time, or fewer under a low
    // open-file limit.
    long limit = raise_open_file_limit();
    size_t fan = kMergeFanIn;
    if (limit > 0 && static_cast<size_t>(limit) < fan + 16) fan = limit > 20 ? static_cast<size_t>(limit) - 16 : 2;
    std::vector<std::string> chunks = std::move(b.chunks);
    while (chunks.size() > fan) {
      std::vector<std::string> group(chunks.begin(), chunks.begin() + static_cast<long>(fan));
      std::string merged = merge_chunks(group, chrom, false, {});
      chunks.erase(chunks.begin(), chunks.begin() + static_cast<long>(fan));
      chunks.push_back(merged);
    }
    merge_chunks(chunks, chrom, true, final_path);
  }
  give_buffer(b.recs);
  auto& has = has_run_[chrom];
  if (has.empty()) has.assign(n_samples_, 0);
  has[sample] = 1;
}

void Splitter::end_file() {
  for (size_t k = 0; k < count_; ++k)
    for (auto& [chrom, b] : buckets_[k]) finish(first_ + k, chrom, b);
  buckets_.clear();
  last_ = nullptr;
  last_sample_ = SIZE_MAX;
  buffered_ = 0;
}

std::vector<int> Splitter::chromosomes() const {
  std::vector<int> out;
  for (const auto& [chrom, has] : has_run_) out.push_back(chrom);
  return out;
}

std::string Splitter::run_path(size_t sample, int chrom) const {
  auto it = has_run_.find(chrom);
  if (it == has_run_.end() || !it->second[sample]) return {};
  return tmp_dir() + "c" + std::to_string(chrom) + "_s" + std::to_string(sample) + ".run";
}

}  // namespace prep
