#include "output/fc_file.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <exception>
#include <optional>
#include <span>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/binary.hpp"
#include "common/error.hpp"
#include "common/flush_to_zero.hpp"
#include "output/fc_pack.hpp"

namespace qv {

namespace {

std::string reason() { return std::strerror(errno); }

// Mean amplitude A(c, F) of a level; zero beyond the level's nfreq.
float mean_amplitude(const AmplitudeSums& amp, int lev, int findex, int c) {
  if (lev < 1 || lev > ndmx) return 0.0f;
  const std::vector<float>& a = amp.lev[lev];
  const std::size_t i = static_cast<std::size_t>(findex - 1) * nchmx + c;
  return i < a.size() ? a[i] : 0.0f;
}

}  // namespace

FcFileWriter::FcFileWriter(const std::string& path, int& nch, Console& con)
    : con_(&con),
      path_(path),
      fc_(path, "Fourier-coefficient file"),
      log_file_(path + ".log", "diagnostic file"),
      meta_(path + ".json", "metadata file") {
  if (nch == 6) {
    con.say("out_pack warning: nch=", nch);
    nch = 5;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  // The output folder (paths file line 6) is named, not created: a typing
  // error there must not scatter results into new folders.
  const fs::path folder = fs::path(path_).parent_path();
  if (!folder.empty()) {
    const fs::file_type type = fs::status(folder, ec).type();
    if (type == fs::file_type::not_found)
      throw Error("the output folder \"" + folder.string() + "\" of the Fourier-coefficient file \"" + path_ +
                  "\" does not exist");
    if (type != fs::file_type::directory && type != fs::file_type::none)
      throw Error("the output folder \"" + folder.string() + "\" of the Fourier-coefficient file \"" + path_ +
                  "\" is not a folder");
  }
  if (!lock_.take(path_))
    con.err() << "qel_vort: warning: the file system of \"" << path_
              << "\" offers no file locks, so a second run on this output at the same time would not be "
                 "stopped; each file it writes is still one run's, whole\n";
  const fs::file_status old = fs::status(path_, ec);
  if (old.type() == fs::file_type::directory)
    throw Error("Fourier-coefficient file \"" + path_ + "\" is a folder");
  // The new file is renamed over the old one, which the folder's permissions
  // allow whatever the file's own say (and root may write anything), so a
  // result someone made read-only to keep it is respected here, explicitly.
  if (fs::exists(old) && (old.permissions() & fs::perms::owner_write) == fs::perms::none)
    throw Error("the Fourier-coefficient file \"" + path_ +
                "\" exists and is read-only (its owner has no write permission); it is left as it is: make it " +
                "writable or move it away to write a new one");
  fc_.create();
  file_ = fc_.stream();
  // The .log goes in place before the file it describes; without overflows
  // an earlier one is removed with it, since it would describe another file.
  set_.add(log_file_);
  set_.add(meta_);
  set_.add(fc_);
}

FcFileWriter::~FcFileWriter() {
  if (committed_ && held_ && held_->discard_pending())
    con_->err() << "qel_vort: warning: an interrupt came after the Fourier-coefficient file \"" << path_
                << "\" was in place, too late to stop the run: the file is complete\n";
}

void FcFileWriter::put(const unsigned char* bytes, std::size_t n) {
  if (n && std::fwrite(bytes, 1, n, file_) != n)
    throw Error("cannot write the Fourier-coefficient file \"" + path_ + "\" (" + reason() + ")");
  // Every byte of the file is written once, at file_pos_.
  hash_.add(file_pos_, bytes, n);
  size_ = std::max(size_, file_pos_ + static_cast<std::int64_t>(n));
}

void FcFileWriter::write_metadata(const std::string& text) {
  if (!blocks_done_ || committed_ || meta_.created())
    throw Error("metadata file \"" + meta_.final_path() + "\" written out of order");
  meta_.create();
  if (std::fwrite(text.data(), 1, text.size(), meta_.stream()) != text.size())
    throw Error("cannot write the metadata file \"" + meta_.final_path() + "\" (" + reason() + ")");
}

void FcFileWriter::write_header(const FcHeader& h) {
  if (!file_ || header_done_) throw Error("Fourier-coefficient file \"" + path_ + "\": header written twice");
  // With one channel a record (8 bytes) could not hold a block's first
  // record (level, frequency index, count: 12 bytes).
  if (h.nch < 2 || h.nch > nchmx || h.nfmx < 0 || h.nfmx > nwmx / 2)
    throw Error("Fourier-coefficient file \"" + path_ + "\": cannot write " + std::to_string(h.nch) +
                " channels with nfmx " + std::to_string(h.nfmx) + " (2 to 6 channels needed)");
  nch_ = h.nch;
  nfmx_ = h.nfmx;
  reclen_ = 4 * nch_ + 4;
  // A blank buffer of fixed capacity receives the fields; records 1-20 take
  // its first 20 L characters, so text beyond that is lost.
  std::string buf(fc_header_capacity, ' ');
  const std::string text = fc_header_text(h);
  buf.replace(0, std::min(text.size(), buf.size()), text, 0, std::min(text.size(), buf.size()));
  put(reinterpret_cast<const unsigned char*>(buf.data()), static_cast<std::size_t>(20 * reclen_));
  file_pos_ = 20 * reclen_;
  header_done_ = true;
}

void FcFileWriter::log_overflow(int id, int findex, float reduced_real, int row, int channel) {
  if (!log_) {
    log_file_.create();
    log_ = log_file_.stream();
  }
  ++overflows_;
  const std::string line = " id,ifreq,xt1,i,j = " + std::to_string(id) + " " + std::to_string(findex) + " " +
                           Console::num(reduced_real) + " " + std::to_string(row) + " " +
                           std::to_string(channel) + "\n";
  if (std::fputs(line.c_str(), log_) < 0)
    throw Error("cannot write the diagnostic file \"" + log_path() + "\" (" + reason() + ")");
}

// What one packer of the records holds: its staging buffer, the hash of
// the words it wrote and the end of its last write, and its overflow lines,
// which wait for their place in the .log.
struct FcFileWriter::Packer {
  std::size_t from = 0, to = 0;  // the blocks it packs, [from, to) in file order
  std::vector<unsigned char> stage;
  FcHash hash;
  std::int64_t end = 0;
  DeferredOverflows* deferred = nullptr;
};

// Records go to their place by position, beside the stream that wrote the
// header and the block heads (flushed before), so that two packers may
// write at once; each adds its words to its own hash.
void FcFileWriter::put_records(Packer& packer, std::int64_t offset, const unsigned char* bytes, std::size_t n) {
  const int fd = ::fileno(file_);
  for (std::size_t done = 0; done < n;) {
    const ssize_t w = ::pwrite(fd, bytes + done, n - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = ENOSPC;
    if (w <= 0)
      throw Error("cannot write the Fourier-coefficient file \"" + path_ + "\" at byte offset " +
                  std::to_string(offset + static_cast<std::int64_t>(done)) + " (" + reason() + ")");
    done += static_cast<std::size_t>(w);
  }
  packer.hash.add(offset, bytes, n);
  packer.end = std::max(packer.end, offset + static_cast<std::int64_t>(n));
}

void FcFileWriter::put_at(std::int64_t offset, const unsigned char* bytes, std::size_t n) {
  if (offset != file_pos_ && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
    throw Error("cannot write the Fourier-coefficient file \"" + path_ + "\" at byte offset " + std::to_string(offset) +
                " (" + reason() + ")");
  file_pos_ = offset;
  put(bytes, n);
  file_pos_ += static_cast<std::int64_t>(n);
}

namespace {

// An overflow line waiting for its place: level identifier, frequency index,
// the real part as reduced so far (its bits), row and channel.
constexpr std::size_t kLogEntryBytes = 20;
constexpr std::size_t kLogEntries = 4096;  // entries per read or write of the scratch file

}  // namespace

// The blocks that receive records: frequency indices 1..top[lev] of every
// level. Their record counts follow from the windows the store counted by
// coefficient count: a window of m coefficients has a row in the blocks
// F = 1..m. Per such block (index first[lev] + F - 1) its records' count,
// the byte offset of its first record, the records written and the overflow
// lines it put in the scratch file.
struct FcFileWriter::BlockPlan {
  int nd = 0;  // levels of the file
  std::array<int, ndmx + 1> top{};
  std::array<std::size_t, ndmx + 2> first{};
  std::vector<std::int64_t> count, start, written, overflowing;
  std::size_t blocks() const { return count.size(); }
};

// One packer's overflow lines, gathered in a buffer and written to
// the scratch file when it is full, in the order they are met.
class FcFileWriter::DeferredOverflows {
 public:
  DeferredOverflows(TempFile& scratch, std::string scratch_path)
      : scratch_(scratch), path_(std::move(scratch_path)), buf_(kLogEntries * kLogEntryBytes) {}
  void add(int id, int findex, float reduced_real, std::int64_t row, int channel) {
    unsigned char* e = &buf_[buffered_ * kLogEntryBytes];
    put_i32le(e, id);
    put_i32le(e + 4, findex);
    put_f32le(e + 8, reduced_real);
    put_i32le(e + 12, static_cast<std::int32_t>(row));
    put_i32le(e + 16, channel);
    if (++buffered_ == kLogEntries) flush();
  }
  void flush() {
    if (buffered_ == 0) return;
    if (!scratch_.is_open()) scratch_.open(path_);
    scratch_.write_at(entries_ * static_cast<std::int64_t>(kLogEntryBytes), buf_.data(), buffered_ * kLogEntryBytes);
    entries_ += static_cast<std::int64_t>(buffered_);
    buffered_ = 0;
  }
  std::int64_t entries() const { return entries_; }
  TempFile& scratch() { return scratch_; }

 private:
  TempFile& scratch_;
  std::string path_;
  std::vector<unsigned char> buf_;
  std::size_t buffered_ = 0;
  std::int64_t entries_ = 0;
};

void FcFileWriter::check_blocks_call(int nd, int levoff, const OutputStore& store) const {
  if (!header_done_ || blocks_done_)
    throw Error("Fourier-coefficient file \"" + path_ + "\": blocks written out of order");
  if (nd < 0 || nd > ndmx) throw Error("Fourier-coefficient file: impossible level count " + std::to_string(nd));
  if (store.windows > 0 && (store.nd != nd || store.levoff != levoff || store.nch < nch_))
    throw Error("Fourier-coefficient file: the store holds levels " + std::to_string(store.levoff + 1) + " to " +
                std::to_string(store.levoff + store.nd) + " of " + std::to_string(store.nch) +
                " channels, the file levels " + std::to_string(levoff + 1) + " to " + std::to_string(levoff + nd) +
                " of " + std::to_string(nch_));
}

FcFileWriter::BlockPlan FcFileWriter::plan_blocks(int nd, int levoff, const OutputStore& store) const {
  BlockPlan plan;
  plan.nd = nd;
  for (int lev = 1; lev <= nd; ++lev) {
    if (lev <= store.nd) {
      const std::vector<std::int64_t>& hist = store.ncoef_windows[lev];
      for (std::size_t m = static_cast<std::size_t>(nfmx_) + 1; m < hist.size(); ++m)
        if (hist[m] > 0)
          throw Error("Fourier-coefficient file: a window of level " + std::to_string(levoff + lev) + " holds " +
                      std::to_string(m) + " coefficients (at most " + std::to_string(nfmx_) + ")");
      plan.top[lev] = std::min(nfmx_, store.max_coef[lev]);
    }
    plan.first[lev + 1] = plan.first[lev] + static_cast<std::size_t>(plan.top[lev]);
  }
  const std::size_t nblocks = plan.first[nd + 1];
  plan.count.assign(nblocks, 0);
  plan.start.assign(nblocks, 0);
  plan.written.assign(nblocks, 0);
  plan.overflowing.assign(nblocks, 0);
  for (int lev = 1; lev <= nd; ++lev) {
    std::int64_t windows = 0;  // with at least F coefficients
    for (int F = static_cast<int>(store.ncoef_windows[lev].size()) - 1; F >= 1; --F) {
      windows += store.ncoef_windows[lev][F];
      if (F <= plan.top[lev]) plan.count[plan.first[lev] + F - 1] = windows;
    }
  }
  return plan;
}

// Every block's first two records, in file order, leaving room for its
// coefficient records, whose offsets go into the plan.
void FcFileWriter::write_block_heads(BlockPlan& plan, int nd, int levoff, const AmplitudeSums& amp) {
  const std::int64_t L = reclen_;
  std::vector<unsigned char> head(2 * static_cast<std::size_t>(L));
  std::int64_t pos = 20 * L;
  for (int lev = 1; lev <= nd; ++lev) {
    const int id = levoff + lev;
    for (int F = 1; F <= nfmx_; ++F) {
      const std::size_t b = plan.first[lev] + F - 1;
      const std::int64_t n = F <= plan.top[lev] ? plan.count[b] : 0;
      if (n > INT32_MAX)
        throw Error("Fourier-coefficient file: block of level " + std::to_string(id) + " and frequency index " +
                    std::to_string(F) + " would hold " + std::to_string(n) + " records");
      std::fill(head.begin(), head.end(), 0);
      put_i32le(&head[0], id);
      put_i32le(&head[4], F);
      put_i32le(&head[8], static_cast<std::int32_t>(n));
      for (int c = 0; c < nch_; ++c) put_f32le(&head[L + 4 * c], mean_amplitude(amp, lev, F, c));
      put_at(pos, head.data(), head.size());
      if (F <= plan.top[lev]) plan.start[b] = pos + 2 * L;
      pos += (2 + n) * L;
    }
  }
}

// The records of one chunk's windows recs in block (lev, F): packed into
// stage and written as runs behind the block's records so far. Overflow
// lines wait in the packer's scratch file.
void FcFileWriter::pack_block(BlockPlan& plan, const OutputStore& store, std::span<const std::size_t> recs,
                              int lev, int F, int levoff, const AmplitudeSums& amp, Packer& packer) {
  std::vector<unsigned char>& stage = packer.stage;
  DeferredOverflows& deferred = *packer.deferred;
  const std::int64_t L = reclen_;
  const std::size_t stage_records = stage.size() / static_cast<std::size_t>(L);
  const int id = levoff + lev;
  const std::size_t b = plan.first[lev] + F - 1;
  float scale[nchmx];
  for (int c = 0; c < nch_; ++c) scale[c] = mean_amplitude(amp, lev, F, c);
  std::int64_t row = plan.written[b];  // records of the block so far
  std::int64_t staged_from = row;
  std::size_t staged = 0;
  // A block takes one row of each record, and records lie a window's
  // coefficients apart, beyond what the processor fetches ahead by itself:
  // the rows some records ahead are asked for while this one is packed.
  constexpr std::size_t ahead = 8;
  for (std::size_t i = 0; i < recs.size(); ++i) {
    const std::size_t at = recs[i];
    if (i + ahead < recs.size()) {
      __builtin_prefetch(store.buf.get() + recs[i + ahead]);
      __builtin_prefetch(stored_row(store, recs[i + ahead], F));
    }
    const SetRecord set = stored_set(store, at);
    if (set.ncoef < F) continue;
    const std::uint32_t* w = stored_row(store, at, F);
    unsigned char* p = &stage[staged * static_cast<std::size_t>(L)];
    put_i32le(p, set.window);
    ++row;
    for (int c = 0; c < nch_; ++c) {
      const float re = std::bit_cast<float>(w[c]);
      const float im = std::bit_cast<float>(w[store.nch + c]);
      // Scaled by the level's mean amplitude so that the 13-bit mantissa
      // resolves every coefficient relative to the typical size at its
      // frequency. A part that is exactly zero stays zero: on a dead
      // channel every coefficient and so the mean amplitude is 0, and 0/0
      // would turn true zeros into unpackable values.
      const float x = re == 0.0f ? 0.0f : re * 1000.0f / scale[c];
      const float y = im == 0.0f ? 0.0f : im * 1000.0f / scale[c];
      bool overflow = false;
      float xt1 = 0;
      const std::uint32_t word = pack_fc(x, y, overflow, &xt1);
      if (overflow) {
        ++plan.overflowing[b];
        deferred.add(id, F, xt1, row, c + 1);
      }
      put_u32le(p + 4 + 4 * c, word);
    }
    if (++staged == stage_records) {
      put_records(packer, plan.start[b] + staged_from * L, stage.data(), staged * static_cast<std::size_t>(L));
      staged_from = row;
      staged = 0;
    }
  }
  put_records(packer, plan.start[b] + staged_from * L, stage.data(), staged * static_cast<std::size_t>(L));
  plan.written[b] = row;
}

// The packer's blocks of the chunk the store holds now.
void FcFileWriter::pack_chunk(BlockPlan& plan, const OutputStore& store, int levoff, const AmplitudeSums& amp,
                              Packer& packer) {
  const int nlev = std::min(plan.nd, store.nd);
  for (int lev = 1; lev <= nlev; ++lev) {
    const std::span<const std::size_t> recs = chunk_level_records(store, lev);
    if (recs.empty()) continue;
    for (int F = 1; F <= plan.top[lev]; ++F) {
      const std::size_t b = plan.first[lev] + F - 1;
      if (b >= packer.from && b < packer.to) pack_block(plan, store, recs, lev, F, levoff, amp, packer);
    }
  }
}

// The chunk by two packers at once, each with its own blocks: the second on
// a thread of its own, in this thread's floating-point mode (the scaling of
// a coefficient by its mean amplitude must round as it would here). An
// error of either stops both; the first one met is raised.
void FcFileWriter::pack_chunk_on_two_threads(BlockPlan& plan, const OutputStore& store, int levoff,
                                             const AmplitudeSums& amp, Packer& first, Packer& second) {
  const bool flush_to_zero = flush_to_zero_bits() != 0;
  std::exception_ptr failed;
  std::thread helper([&] {
    try {
      std::optional<FlushToZeroScope> mode;
      if (flush_to_zero) mode.emplace();
      pack_chunk(plan, store, levoff, amp, second);
    } catch (...) {
      failed = std::current_exception();
    }
  });
  try {
    pack_chunk(plan, store, levoff, amp, first);
  } catch (...) {
    helper.join();
    throw;
  }
  helper.join();
  if (failed) std::rethrow_exception(failed);
}

void FcFileWriter::write_blocks(int nd, int levoff, OutputStore& store, const AmplitudeSums& amp, int packers) {
  check_blocks_call(nd, levoff, store);
  BlockPlan plan = plan_blocks(nd, levoff, store);
  write_block_heads(plan, nd, levoff, amp);
  if (std::fflush(file_) != 0)
    throw Error("cannot write the Fourier-coefficient file \"" + path_ + "\" (" + reason() + ")");

  // The coefficient records, chunk by chunk of the store in processing order:
  // each block's records of a chunk are packed and written as one run behind
  // those of the chunks before. Overflow lines are met chunk by chunk (and,
  // with two packers, in two streams): they wait in scratch files for their
  // order (level, frequency, row).
  const auto L = static_cast<std::size_t>(reclen_);
  const std::size_t stage_records = std::max<std::size_t>(1, (std::size_t(1) << 16) / L);
  const bool two = packers == 2;
  DeferredOverflows deferred[2] = {{log_spill_, path_ + ".log.spill"}, {log_spill_second_, path_ + ".log.spill"}};
  Packer packer[2];
  for (int k = 0; k < 2; ++k) {
    packer[k].stage.resize(k == 0 || two ? stage_records * L : 0);
    packer[k].deferred = &deferred[k];
  }
  // The second packer takes the later blocks holding about half the records.
  std::int64_t total = 0, before = 0;
  for (const std::int64_t n : plan.count) total += n;
  std::size_t split = 0;
  while (two && split < plan.blocks() && 2 * (before + plan.count[split]) <= total) before += plan.count[split++];
  packer[0].to = two ? split : plan.blocks();
  packer[1].from = split;
  packer[1].to = two ? plan.blocks() : split;

  output_store_rewind(store);
  while (output_store_next_chunk(store)) {
    if (two) pack_chunk_on_two_threads(plan, store, levoff, amp, packer[0], packer[1]);
    else pack_chunk(plan, store, levoff, amp, packer[0]);
  }
  for (std::size_t b = 0; b < plan.blocks(); ++b)
    if (plan.written[b] != plan.count[b])
      throw Error("Fourier-coefficient file: a block of " + std::to_string(plan.count[b]) + " records received " +
                  std::to_string(plan.written[b]) + " from the store");
  for (const Packer& p : packer) {
    hash_.sum += p.hash.sum;  // a sum: the order of the packers does not matter
    size_ = std::max(size_, p.end);
  }
  DeferredOverflows* sources[2] = {&deferred[0], &deferred[1]};
  for (DeferredOverflows* d : sources) d->flush();
  if (deferred[0].entries() + deferred[1].entries() > 0)
    order_overflow_lines(sources, plan.overflowing, plan.first, levoff);
  blocks_done_ = true;
}

// The overflow lines that waited lie in the scratch files of the packers in
// the order each met them, chunk after chunk; a block's lines are all in one
// packer's file, one run per chunk. The runs move behind the first file's
// entries to their block's place, and the lines are then written in file
// order.
void FcFileWriter::order_overflow_lines(std::span<DeferredOverflows* const> sources,
                                        const std::vector<std::int64_t>& per_block,
                                        const std::array<std::size_t, ndmx + 2>& first, int levoff) {
  const std::int64_t E = static_cast<std::int64_t>(kLogEntryBytes);
  std::int64_t entries = 0;
  for (const DeferredOverflows* d : sources) entries += d->entries();
  if (!log_spill_.is_open()) log_spill_.open(path_ + ".log.spill");
  const std::int64_t base = sources[0]->entries();  // the ordered entries follow the first packer's
  std::vector<std::int64_t> next(per_block.size());
  std::int64_t at = base;
  for (std::size_t b = 0; b < per_block.size(); ++b) {
    next[b] = at;
    at += per_block[b];
  }
  std::vector<unsigned char> buf(kLogEntries * kLogEntryBytes);
  for (DeferredOverflows* d : sources) {
    TempFile& from = d->scratch();
    auto block_of = [&](const unsigned char* e) {
      const std::int64_t lev = std::int64_t(get_i32le(e)) - levoff;
      const int F = get_i32le(e + 4);
      if (lev < 1 || lev > ndmx || F < 1 || first[lev] + static_cast<std::size_t>(F) > first[lev + 1])
        throw Error("the temporary file \"" + from.path() + "\" of overflow lines does not hold what was written");
      return first[lev] + static_cast<std::size_t>(F) - 1;
    };
    for (std::int64_t done = 0; done < d->entries();) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(d->entries() - done, kLogEntries));
      from.read_at(done * E, buf.data(), n * kLogEntryBytes);
      for (std::size_t i = 0; i < n;) {
        const std::size_t b = block_of(&buf[i * kLogEntryBytes]);
        std::size_t j = i + 1;
        while (j < n && block_of(&buf[j * kLogEntryBytes]) == b) ++j;
        log_spill_.write_at(next[b] * E, &buf[i * kLogEntryBytes], (j - i) * kLogEntryBytes);
        next[b] += static_cast<std::int64_t>(j - i);
        i = j;
      }
      done += static_cast<std::int64_t>(n);
    }
  }
  for (std::int64_t done = 0; done < entries;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(entries - done, kLogEntries));
    log_spill_.read_at((base + done) * E, buf.data(), n * kLogEntryBytes);
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char* e = &buf[i * kLogEntryBytes];
      log_overflow(get_i32le(e), get_i32le(e + 4), get_f32le(e + 8), get_i32le(e + 12), get_i32le(e + 16));
    }
    done += static_cast<std::int64_t>(n);
  }
  log_spill_.close();
  log_spill_second_.close();
}

void FcFileWriter::commit() {
  if (!blocks_done_ || committed_)
    throw Error("Fourier-coefficient file \"" + path_ + "\": committed before it was complete");
  // From here to the end of the run interrupts wait: one that has come
  // already stops the run before anything changes; one that comes later
  // finds the result in place and is set aside (see the destructor).
  held_.emplace();
  held_->let_pending_act();
  file_ = log_ = nullptr;  // closed by the set
  const std::vector<std::string> warnings = set_.publish();
  committed_ = true;
  lock_.release();
  for (const std::string& w : warnings) con_->err() << "qel_vort: warning: " << w << '\n';
}

}  // namespace qv
