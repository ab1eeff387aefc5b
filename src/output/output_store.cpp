#include "output/output_store.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "common/error.hpp"

namespace qv {

namespace {

std::size_t record_words(const OutputStore& s, int m) {
  return store_head_words + 2 * static_cast<std::size_t>(s.nch) * static_cast<std::size_t>(m);
}

// The buffer's records go to the end of the temporary file, which is
// created the first time.
void spill_buffer(OutputStore& s) {
  if (!s.spill.is_open()) {
    if (s.spill_path.empty())
      throw Error("output store: the buffer of " + std::to_string(s.capacity * 4) +
                  " bytes is full and no temporary file is named for the rest");
    s.spill.open(s.spill_path);
  }
  s.spill.write_at(s.spilled, s.buf.get(), s.used * 4);
  s.spilled += static_cast<std::int64_t>(s.used) * 4;
  s.used = 0;
}

[[noreturn]] void damaged(const OutputStore& s, std::size_t at) {
  if (s.spill.is_open()) {
    // The word's place in the file: the chunk started where the reads had
    // got to, less what they brought in for it.
    throw Error("the temporary file \"" + s.spill.path() +
                "\" does not hold the coefficient records that were written to it (a record at about byte offset " +
                std::to_string(s.read_pos) + " is not one)");
  }
  throw Error("output store: word " + std::to_string(at) + " does not start a window record");
}

// Finds the whole records among the first `total` words of the buffer and
// lists those with coefficients level by level.
void index_chunk(OutputStore& s, std::size_t total) {
  const std::uint32_t* b = s.buf.get();
  std::array<std::size_t, ndmx + 2> count{};
  std::size_t at = 0;
  while (at + store_head_words <= total) {
    const std::int64_t lev = static_cast<std::int64_t>(static_cast<std::int32_t>(b[at])) - s.levoff;
    const std::int64_t m = static_cast<std::int32_t>(b[at + 1]);
    if (lev < 1 || lev > s.nd || m < 0 || m > s.max_coef[lev]) damaged(s, at);
    const std::size_t words = record_words(s, static_cast<int>(m));
    if (at + words > total) break;
    if (m > 0) ++count[lev];
    at += words;
  }
  s.chunk_words = at;
  s.carry = total - at;
  s.chunk_level_first[0] = s.chunk_level_first[1] = 0;
  for (int lev = 1; lev <= ndmx; ++lev) s.chunk_level_first[lev + 1] = s.chunk_level_first[lev] + count[lev];
  std::array<std::size_t, ndmx + 1> next{};
  for (int lev = 1; lev <= ndmx; ++lev) next[lev] = s.chunk_level_first[lev];
  for (std::size_t r = 0; r < s.chunk_words;) {
    const int lev = static_cast<int>(static_cast<std::int32_t>(b[r]) - s.levoff);
    const int m = static_cast<std::int32_t>(b[r + 1]);
    if (m > 0) s.chunk_records[next[lev]++] = r;
    r += record_words(s, m);
  }
}

}  // namespace

void output_store_allocate(OutputStore& s, const DecSetup& setup, int nch, int max_sets, std::int64_t budget,
                           const std::string& spill_path) {
  if (nch < 1 || nch > nchmx || setup.nd < 0 || setup.nd > ndmx || max_sets < 1 || budget < 0)
    throw Error("output store: impossible size (" + std::to_string(nch) + " channels, " + std::to_string(setup.nd) +
                " levels, " + std::to_string(max_sets) + " windows, " + std::to_string(budget) + " bytes)");
  s.spill.close();
  s.nch = nch;
  s.nd = setup.nd;
  s.levoff = setup.levoff;
  s.spill_path = spill_path;
  int widest = 0;
  for (int lev = 0; lev <= ndmx; ++lev) {
    const bool in_setup = lev >= 1 && lev <= setup.nd;
    s.max_coef[lev] = in_setup ? std::max(0, setup.lev[lev].nfreq) : 0;
    widest = std::max(widest, s.max_coef[lev]);
    s.ncoef_windows[lev].assign(in_setup ? static_cast<std::size_t>(s.max_coef[lev]) + 1 : 0, 0);
  }
  // Room for max_sets of the largest windows, within the budget, but at
  // least for one window whatever the budget.
  const std::int64_t largest = static_cast<std::int64_t>(record_words(s, widest));
  const std::int64_t words = std::max(largest, std::min(budget / 4, largest * max_sets));
  s.capacity = static_cast<std::size_t>(words);
  // Uninitialised: only the words that records fill are ever touched, so a
  // short run costs the memory it uses, not the budget.
  s.buf.reset(new std::uint32_t[s.capacity]);
  s.chunk_records.reset(new std::size_t[s.capacity / record_words(s, 1) + 1]);
  s.used = 0;
  s.spilled = 0;
  s.windows = s.rows = 0;
  s.chunk_words = s.carry = 0;
  s.read_pos = 0;
  s.reading = s.chunk_given = false;
}

void store_fc(OutputStore& s, int level_id, int window, const WindowArray& w, int m) {
  const int nch = w.nch();
  w.require_coefficients(m, "output store");
  if (s.reading) throw Error("output store: window stored after the store was read back");
  if (nch > s.nch)
    throw Error("output store: " + std::to_string(nch) + " channels given, store holds " + std::to_string(s.nch));
  const std::int64_t lev = static_cast<std::int64_t>(level_id) - s.levoff;
  if (lev < 1 || lev > s.nd)
    throw Error("output store: level identifier " + std::to_string(level_id) + " is not one of the set-up's " +
                std::to_string(s.levoff + 1) + " to " + std::to_string(std::int64_t(s.levoff) + s.nd));
  if (m < 0 || m > s.max_coef[lev])
    throw Error("output store: a window of " + std::to_string(m) + " coefficients on level " + std::to_string(lev) +
                ", which keeps at most " + std::to_string(s.max_coef[lev]));
  const std::size_t words = record_words(s, m);
  if (s.used + words > s.capacity) spill_buffer(s);
  std::uint32_t* p = s.buf.get() + s.used;
  p[0] = static_cast<std::uint32_t>(level_id);
  p[1] = static_cast<std::uint32_t>(m);
  p[2] = static_cast<std::uint32_t>(window);
  p += store_head_words;
  const int ld = s.nch;
  for (int k = 1; k <= m; ++k, p += 2 * ld) {
    for (int c = 0; c < nch; ++c) {
      p[c] = std::bit_cast<std::uint32_t>(w.re(c, k));
      p[ld + c] = std::bit_cast<std::uint32_t>(w.im(c, k));
    }
    for (int c = nch; c < ld; ++c) p[c] = p[ld + c] = std::bit_cast<std::uint32_t>(0.0f);
  }
  s.used += words;
  ++s.windows;
  s.rows += m;
  ++s.ncoef_windows[lev][m];
}

void output_store_rewind(OutputStore& s) {
  if (s.spill.is_open() && s.used > 0) spill_buffer(s);
  s.reading = true;
  s.chunk_given = false;
  s.read_pos = 0;
  s.chunk_words = s.carry = 0;
}

bool output_store_next_chunk(OutputStore& s) {
  if (!s.reading) throw Error("output store: read back before output_store_rewind");
  std::size_t total = 0;
  if (!s.spill.is_open()) {
    // Everything is still in the buffer: one chunk.
    if (s.chunk_given) return false;
    s.chunk_given = true;
    total = s.used;
  } else {
    // A record the last read cut moves to the front; the rest of the buffer
    // is filled from the file.
    if (s.carry > 0) std::memmove(s.buf.get(), s.buf.get() + s.chunk_words, s.carry * 4);
    const std::int64_t left = s.spilled - s.read_pos;
    if (left == 0) {
      if (s.carry > 0) damaged(s, 0);
      s.chunk_words = 0;
      return false;
    }
    const std::size_t bytes = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(s.capacity - s.carry) * 4, left));
    s.spill.read_at(s.read_pos, s.buf.get() + s.carry, bytes);
    s.read_pos += static_cast<std::int64_t>(bytes);
    total = s.carry + bytes / 4;
  }
  index_chunk(s, total);
  // A full buffer holds at least one record: the buffer is never smaller
  // than the largest.
  if (s.spill.is_open() && s.chunk_words == 0) damaged(s, 0);
  return true;
}

}  // namespace qv
