// Writing the Fourier-coefficient file: fixed records of L = 4 nch + 4 bytes,
// little-endian, no record markers. Records 1-20 hold the text header; then
// for every level identifier levoff+1..levoff+nd and frequency index
// 1..nfmx one block: (D, F, n), the mean amplitudes A(1..nch), and n records
// of window number and nch packed coefficient words.
//
// The new file, its overflow list "<file>.log" and its metadata file
// "<file>.json" are a set of staged files (staged_files.hpp): private files in
// the output folder until commit() puts them in place, the list first, then
// the metadata, the file last. A run that stops early
// (by an error, an exception or an interrupt) leaves the previous result as
// it was and no partial file, and a run on the same output at the same time
// is refused by the output's lock (output_lock.hpp), held from set-up to
// the commit.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/amplitude_sums.hpp"
#include "common/console.hpp"
#include "output/fc_hash.hpp"
#include "output/fc_header.hpp"
#include "output/interrupt_cleanup.hpp"
#include "output/output_lock.hpp"
#include "output/output_store.hpp"
#include "output/staged_files.hpp"
#include "output/temp_file.hpp"

namespace qv {

class FcFileWriter {
 public:
  // Set-up of the file (out_pack). nch is the channel count of the input; 6
  // is reported ("out_pack warning: nch=") and set to 5. Takes the output's
  // lock and creates the new file now, so that another run on the same
  // output or a folder that cannot be written stops the run before any data
  // is processed; so do an output folder that does not exist or is not a
  // folder, and an old file of the name whose owner may not write it. The
  // console takes the warnings of the set-up and of the commit.
  FcFileWriter(const std::string& path, int& nch, Console& con);
  // Without commit(), removes every file of the run: the earlier result
  // stays as it was. After it, an interrupt that came meanwhile is set
  // aside with a warning: the run has done its work.
  ~FcFileWriter();
  FcFileWriter(const FcFileWriter&) = delete;
  FcFileWriter& operator=(const FcFileWriter&) = delete;

  // Records 1-20 (write_fc_header). The record length is taken from h.nch,
  // the final channel count of the run.
  void write_header(const FcHeader& h);

  // The blocks (write_fc_blocks), after write_header: levels levoff+1 ..
  // levoff+nd of the set-up (also those switched off or without windows),
  // frequency indices 1..nfmx of the header. store holds the windows in
  // processing order and is read back once, chunk by chunk; amp are the
  // averaged amplitude sums. Every block's size and place follow from the
  // store's counts, so each chunk's records of a block are written straight
  // to their place. Coefficients that cannot be packed are written as the
  // sentinel word and reported in "<file name>.log", in file order. With
  // packers 2 a second thread packs and writes the later half of the
  // blocks; the file and its .log are the same as with one.
  void write_blocks(int nd, int levoff, OutputStore& store, const AmplitudeSums& amp, int packers = 1);

  // The file's size in bytes and its hash (fc_hash.hpp), formed while it
  // was written; complete after write_blocks.
  std::int64_t size() const { return size_; }
  std::uint64_t hash() const { return hash_.sum; }

  // The metadata file "<file>.json", after write_blocks: its text, written
  // whole. A run that writes none has an earlier one removed at the commit,
  // since it would describe another file.
  void write_metadata(const std::string& text);

  // Puts the .log (if any), the metadata and then the file in place over the old ones and
  // gives up the lock. An old .log of an earlier run is removed when this run
  // had no overflow. Raises an Error when the set cannot be put in place;
  // the earlier files are then as they were. What fails after the file is
  // in place is a warning on the console.
  void commit();

  const std::string& path() const { return path_; }
  std::string log_path() const { return path_ + ".log"; }
  int record_length() const { return reclen_; }
  long overflows() const { return overflows_; }

 private:
  struct BlockPlan;
  class DeferredOverflows;
  struct Packer;
  void check_blocks_call(int nd, int levoff, const OutputStore& store) const;
  BlockPlan plan_blocks(int nd, int levoff, const OutputStore& store) const;
  void write_block_heads(BlockPlan& plan, int nd, int levoff, const AmplitudeSums& amp);
  void pack_chunk(BlockPlan& plan, const OutputStore& store, int levoff, const AmplitudeSums& amp, Packer& packer);
  void pack_chunk_on_two_threads(BlockPlan& plan, const OutputStore& store, int levoff, const AmplitudeSums& amp,
                                 Packer& first, Packer& second);
  void pack_block(BlockPlan& plan, const OutputStore& store, std::span<const std::size_t> recs, int lev, int F,
                  int levoff, const AmplitudeSums& amp, Packer& packer);
  void put(const unsigned char* bytes, std::size_t n);
  void put_at(std::int64_t offset, const unsigned char* bytes, std::size_t n);
  void put_records(Packer& packer, std::int64_t offset, const unsigned char* bytes, std::size_t n);
  void log_overflow(int id, int findex, float reduced_real, int row, int channel);
  void order_overflow_lines(std::span<DeferredOverflows* const> sources, const std::vector<std::int64_t>& per_block,
                            const std::array<std::size_t, ndmx + 2>& first, int levoff);

  // Declared first, ended last: from the commit to the end, interrupts wait.
  std::optional<InterruptsHeld> held_;
  Console* con_;
  std::string path_;
  OutputLock lock_;
  StagedFile fc_, log_file_, meta_;
  StagedSet set_;               // the .log, the metadata, then the file
  std::FILE* file_ = nullptr;   // fc_'s stream
  std::FILE* log_ = nullptr;    // log_file_'s, once an overflow needs it
  std::int64_t file_pos_ = 0;  // where the next put writes
  std::int64_t size_ = 0;      // bytes written, up to the end of the last
  FcHash hash_;
  TempFile log_spill_;         // the first packer's overflow lines, before they are ordered
  TempFile log_spill_second_;  // the second packer's
  int nch_ = 0;        // channels per record (final count)
  int nfmx_ = 0;
  int reclen_ = 0;     // bytes per record
  bool header_done_ = false, blocks_done_ = false, committed_ = false;
  long overflows_ = 0;
};

}  // namespace qv
