// Inputs of grameigen: the sample list and the inner-product block files of
// one or more block prefixes, placed into the whole sample-by-sample matrix.
// Every function reports a failure through `err` (one line, no line feed) and
// returns false; nothing here prints or exits.
#pragma once

#include "input.h"
#include "matrix.h"

#include <string>
#include <string_view>
#include <vector>

namespace ge {

// Which blocks: "diagst_"/"rectst_" (standardized) or "diag_"/"rect_" (centred).
enum class Kind { Std, Cen };

// One block file. Samples are 1-based positions in the sample list, ranges
// inclusive. A diagonal block covers rows r0..r1 against the same samples; a
// rectangular one covers rows r0..r1 against columns c0..c1 and, mirrored,
// c0..c1 against r0..r1.
struct BlockFile {
  std::string path;  // folder part of the prefix + file name
  std::string name;  // file name alone
  bool rect = false;
  long r0 = 0, r1 = 0, c0 = 0, c1 = 0;  // for a diagonal block c0 = r0, c1 = r1
  // When set, read_block refuses a file whose identity, once opened, is not
  // `id` (the path was pointed elsewhere after the files were compared).
  bool have_id = false;
  FileId id;
};

// An input already read, for the check that no file is reached twice.
struct SeenInput {
  std::string what;  // "the sample list samples.txt", say
  FileId id;
};

// The most samples an analysis can hold: LAPACK counts the n x n cells of its
// arrays in a 32-bit int.
constexpr long kMaxSamples = 46340;

// The sample list, read as the shared `read_sample` counts it: every line is a
// name, an empty line inside the list included; only the empty piece after a
// final line feed is no name. A name holding a comma or a double quote is
// refused: the eigenvector file could not carry it back to the loadings programs.
// So is a name given twice (it would be one sample counted twice), a list of
// more than kMaxSamples names, and a list that does not fit in memory.
// `seen`, when given, receives the list's identity.
bool read_sample_list(const std::string& path, std::vector<std::string>& names, std::string& err,
                      SeenInput* seen = nullptr);

// Parses `rest`, a file name with the prefix's stem already removed.
// Returns 1 for a block file name of `kind` (filling the ranges and `rect`),
// 0 for a name that is not one of `kind`, -1 for a name that starts like one
// ("diagst_" ... ".csv") but does not follow the pattern.
int parse_block_name(std::string_view rest, Kind kind, BlockFile& b);

// Lists the block files of `kind` under `prefix` (folder part up to the last
// '/', then the file-name stem), sorted by their sample ranges.
bool find_blocks(const std::string& prefix, Kind kind, std::vector<BlockFile>& out, std::string& err);

// Reads one block file into `m`, checking that it holds as many lines and
// values per line as its name says, each value a finite number, and for a
// diagonal block that its two triangles hold the same values, bit for bit
// (a block that is not symmetric is not an inner-product block).
bool read_block(const BlockFile& b, Matrix& m, std::string& err);

// Places the blocks of one prefix into the n x n matrix `whole` (set, not
// added: `whole` is sized here), checking that every cell is covered exactly
// once. `values[i]` holds the contents of `files[i]`.
bool place_blocks(const std::vector<BlockFile>& files, const std::vector<Matrix>& values, long n,
                  Matrix& whole, std::string& err);

// Reads and places the blocks of every prefix, adding the prefixes cell by cell
// in the order given. `used` receives the files read, prefix by prefix.
// Before any block is read, every block file is known by its identity: one
// file reached twice (two prefixes naming one folder, a link), or one of the
// `earlier` inputs, is refused, since it would be added twice.
bool assemble(const std::vector<std::string>& prefixes, Kind kind, long n, Matrix& sum,
              std::vector<BlockFile>& used, std::string& err, const std::vector<SeenInput>& earlier = {});

}  // namespace ge
