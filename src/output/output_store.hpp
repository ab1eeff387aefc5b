// The output store: every accepted window's calibrated Fourier coefficients,
// from its transform until the end of the run, when the Fourier-coefficient
// file is written sorted by level and frequency. A window is kept as one
// record, its set record (level identifier, number of coefficients m, window
// number) followed by its m rows of coefficients (frequency index 1..m), in
// processing order. Records gather in a buffer of fixed size; a full buffer
// moves to a temporary file beside the output, so memory does not grow with
// the length of the recording. Per level the store counts the windows of
// each coefficient count, which fixes the size and place of every block of
// the file before the first coefficient is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/dec_setup.hpp"
#include "common/limits.hpp"
#include "common/window_array.hpp"
#include "output/temp_file.hpp"

namespace qv {

// Bytes of coefficients a run keeps in memory before it moves them to its
// temporary file (the buffer is never larger than the run can fill).
inline constexpr std::int64_t spill_budget_default = std::int64_t(8) << 20;

// One stored window.
struct SetRecord {
  int level_id = 0;  // levoff + level
  int ncoef = 0;     // rows (coefficients per channel) stored for the window
  int window = 0;    // window number on the level's time grid
};

// A record is a run of 32-bit words: level identifier, m, window number, then
// for k = 1..m the nch real parts and the nch imaginary parts of frequency
// index k, as the bits of single-precision values.
inline constexpr int store_head_words = 3;

struct OutputStore {
  // Set-up.
  int nch = 0;                           // channels per row
  int nd = 0, levoff = 0;                // levels levoff + 1 .. levoff + nd
  std::array<int, ndmx + 1> max_coef{};  // most coefficients a window of the level may store
  std::string spill_path;                // the temporary file, opened when the buffer first fills

  // Records in processing order: those that left the buffer in the file,
  // the newer ones in the buffer.
  std::unique_ptr<std::uint32_t[]> buf;
  std::size_t capacity = 0;  // words
  std::size_t used = 0;      // words holding records
  TempFile spill;
  std::int64_t spilled = 0;  // bytes in the file

  // Counts over the run.
  std::int64_t windows = 0;  // stored windows
  std::int64_t rows = 0;     // stored coefficient rows
  // Per level (1..nd), entry m: the windows that stored m coefficients.
  std::array<std::vector<std::int64_t>, ndmx + 1> ncoef_windows;

  // Reading back, one chunk at a time (output_store_next_chunk): the chunk's
  // records start at buf[0] and end at chunk_words; the offsets of those with
  // coefficients are listed level by level, level lev's at
  // chunk_records[chunk_level_first[lev] .. chunk_level_first[lev + 1]).
  std::size_t chunk_words = 0;
  std::unique_ptr<std::size_t[]> chunk_records;  // room for every record a buffer can hold
  std::array<std::size_t, ndmx + 2> chunk_level_first{};
  std::int64_t read_pos = 0;  // bytes of the file read so far
  std::size_t carry = 0;      // words of a record cut by the last read, behind the chunk
  bool reading = false, chunk_given = false;
};

// Reserves the store once at set-up: nch channels, the levels of the set-up
// (a window of level lev stores at most nfreq of its coefficients), room
// for max_sets windows but never more than budget bytes (and never less
// than one window of the largest level). spill_path is the temporary file
// that takes the coefficients when the buffer is full.
void output_store_allocate(OutputStore& store, const DecSetup& setup, int nch, int max_sets, std::int64_t budget,
                           const std::string& spill_path);

// Appends a window of level identifier level_id: its number and the first m
// coefficients of every channel of the window array. Raises an Error for a
// level outside the set-up or more coefficients than the level keeps, and
// when the temporary file cannot be written.
void store_fc(OutputStore& store, int level_id, int window, const WindowArray& w, int m);

// Whether some records have left memory for the temporary file.
inline bool output_store_spilled(const OutputStore& store) { return store.spill.is_open(); }

// Starts reading the records back in processing order, after the last window
// was stored. Records still in the buffer of a store that spilled follow
// the others into the file, so that the buffer can take the chunks.
void output_store_rewind(OutputStore& store);

// The next chunk of whole records (at most the buffer) and the index of its
// records by level. Returns false after the last. Raises an Error when the
// temporary file cannot be read or does not hold what was written.
bool output_store_next_chunk(OutputStore& store);

// Offsets (words into buf) of the current chunk's records of level lev that
// hold coefficients, in processing order.
inline std::span<const std::size_t> chunk_level_records(const OutputStore& store, int lev) {
  return {store.chunk_records.get() + store.chunk_level_first[lev],
          store.chunk_level_first[lev + 1] - store.chunk_level_first[lev]};
}

// The set record of the record at word offset `at` of the current chunk.
inline SetRecord stored_set(const OutputStore& store, std::size_t at) {
  const std::uint32_t* p = store.buf.get() + at;
  return {static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])};
}

// Row k (1-based) of the record at `at`: nch real parts, then nch imaginary
// parts, as the bits of single-precision values.
inline const std::uint32_t* stored_row(const OutputStore& store, std::size_t at, int k) {
  return store.buf.get() + at + store_head_words + static_cast<std::size_t>(k - 1) * 2 * store.nch;
}

}  // namespace qv
