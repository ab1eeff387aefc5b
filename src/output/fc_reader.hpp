// Reading a Fourier-coefficient file back: its header fields, the index of its
// frequency blocks, and the coefficient records of a block, decoded. Anything
// that does not have the file's structure is refused with an Error naming the
// file, the byte offset and what was expected there.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/limits.hpp"
#include "output/fc_header.hpp"

namespace qv {

struct FcBlockInfo {
  int level_id = 0;          // levoff + level
  int findex = 0;            // frequency index, 1..nfmx
  int n = 0;                 // coefficient records (windows) in the block
  std::int64_t offset = 0;   // byte offset of the block's first record
  std::array<float, nchmx> scale{};  // mean amplitudes A(1..nch)
};

struct FcCoefRecord {
  int window = 0;                          // window number
  std::array<std::uint32_t, nchmx> word{};  // packed coefficient of each channel
};

class FcReader {
 public:
  // Opens the file, parses the header and indexes every block.
  explicit FcReader(const std::string& path);
  ~FcReader();
  FcReader(const FcReader&) = delete;
  FcReader& operator=(const FcReader&) = delete;

  const std::string& name() const { return name_; }
  std::int64_t size() const { return size_; }
  int record_length() const { return reclen_; }
  // Header fields; those that did not fit into records 1-20 keep their
  // defaults and header_complete() is false.
  const FcHeader& header() const { return hdr_; }
  bool header_complete() const { return complete_; }
  const std::string& header_text() const { return text_; }  // 20 L characters
  // The body's levels are levoff() + 1 .. levoff() + body_levels(); the reader
  // took only identifiers within fc_level_id_min .. fc_level_id_max, so this
  // arithmetic cannot overflow.
  int levoff() const { return levoff_; }
  int body_levels() const { return nbody_; }  // levels with blocks (those of the set-up)
  const std::vector<FcBlockInfo>& blocks() const { return blocks_; }
  // Position (1-based) of a level identifier in the header's level lists; 0
  // when it is not listed.
  int listed(int level_id) const;

  // Reads the n coefficient records of a block into out (resized to n).
  void read_records(const FcBlockInfo& b, std::vector<FcCoefRecord>& out);

 private:
  [[noreturn]] void fail(std::int64_t offset, const std::string& what) const;
  void parse_header();
  void index_blocks();

  std::string name_;
  std::FILE* file_ = nullptr;
  std::int64_t size_ = 0;
  int reclen_ = 0;
  FcHeader hdr_;
  bool complete_ = false;
  std::string text_;
  int ids_read_ = 0;  // level identifiers that fit into the header records
  int levoff_ = 0, nbody_ = 0;
  std::vector<FcBlockInfo> blocks_;
};

// The coefficient a packed word stands for: unpacked, times the block's mean
// amplitude of the channel, divided by 1000. The sentinel gives NaN.
void decode_fc(std::uint32_t word, float scale, float& re, float& im);

}  // namespace qv
