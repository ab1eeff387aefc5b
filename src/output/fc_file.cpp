#include "output/fc_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/binary.hpp"
#include "common/error.hpp"
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
    : path_(path), tmp_(path + ".part"), log_tmp_(path + ".log.part") {
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
  // The temporary name is private to this station's output; a stale one
  // left by a run that was killed is simply overwritten.
  file_ = std::fopen(tmp_.c_str(), "wb");
  if (!file_)
    throw Error("cannot create the Fourier-coefficient file \"" + tmp_ + "\" (" + reason() +
                "); the output folder must exist and be writable");
  std::remove(log_tmp_.c_str());
}

FcFileWriter::~FcFileWriter() {
  if (file_) std::fclose(file_);
  if (log_) std::fclose(log_);
  if (!committed_) {
    std::remove(tmp_.c_str());
    std::remove(log_tmp_.c_str());
  }
}

void FcFileWriter::put(const unsigned char* bytes, std::size_t n) {
  if (n && std::fwrite(bytes, 1, n, file_) != n)
    throw Error("cannot write the Fourier-coefficient file \"" + tmp_ + "\" (" + reason() + ")");
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
  header_done_ = true;
}

void FcFileWriter::log_overflow(int id, int findex, float reduced_real, int row, int channel) {
  if (!log_) {
    log_ = std::fopen(log_tmp_.c_str(), "w");
    if (!log_)
      throw Error("cannot create the diagnostic file \"" + log_tmp_ + "\" (" + reason() + ")");
  }
  ++overflows_;
  const std::string line = " id,ifreq,xt1,i,j = " + std::to_string(id) + " " + std::to_string(findex) + " " +
                           Console::num(reduced_real) + " " + std::to_string(row) + " " +
                           std::to_string(channel) + "\n";
  if (std::fputs(line.c_str(), log_) < 0)
    throw Error("cannot write the diagnostic file \"" + log_tmp_ + "\" (" + reason() + ")");
}

void FcFileWriter::write_blocks(int nd, int levoff, std::span<const SetRecord> sets, const OutputStore& store,
                                const AmplitudeSums& amp) {
  if (!header_done_ || blocks_done_)
    throw Error("Fourier-coefficient file \"" + path_ + "\": blocks written out of order");
  if (nd < 0 || nd > ndmx) throw Error("Fourier-coefficient file: impossible level count " + std::to_string(nd));
  const std::size_t nsets = sets.size();

  // Work arrays, sized once from the number of stored windows: the first,
  // last and current row of each window, and one block's records.
  std::vector<std::int64_t> first(nsets), last(nsets), cur(nsets);
  std::vector<std::size_t> gathered(nsets);
  std::vector<unsigned char> rec((nsets + 2) * static_cast<std::size_t>(reclen_));

  std::int64_t row = 0;
  for (std::size_t s = 0; s < nsets; ++s) {
    if (sets[s].ncoef < 0 || sets[s].ncoef > nfmx_)
      throw Error("Fourier-coefficient file: set " + std::to_string(s + 1) + " claims " +
                  std::to_string(sets[s].ncoef) + " coefficients (at most " + std::to_string(nfmx_) + ")");
    first[s] = row;
    row += sets[s].ncoef;
    last[s] = row - 1;
  }
  if (row > store.pos)
    throw Error("Fourier-coefficient file: the set table refers to " + std::to_string(row) +
                " stored rows, the store holds " + std::to_string(store.pos));
  if (nsets > 0 && row > 0 && store.nch < nch_)
    throw Error("Fourier-coefficient file: the store holds " + std::to_string(store.nch) + " channels, the file " +
                std::to_string(nch_));

  const std::size_t L = static_cast<std::size_t>(reclen_);
  for (int lev = 1; lev <= nd; ++lev) {
    const int id = levoff + lev;
    std::size_t ng = 0;
    for (std::size_t s = 0; s < nsets; ++s)
      if (sets[s].level_id == id && sets[s].ncoef > 0) {
        gathered[ng++] = s;
        cur[s] = first[s];
      }
    for (int F = 1; F <= nfmx_; ++F) {
      std::fill(rec.begin(), rec.begin() + 2 * L, 0);
      float scale[nchmx];
      for (int c = 0; c < nch_; ++c) scale[c] = mean_amplitude(amp, lev, F, c);

      int n = 0;
      for (std::size_t g = 0; g < ng; ++g) {
        const std::size_t s = gathered[g];
        const std::int64_t r = cur[s];
        if (r > last[s] || store.findex[r] != F) continue;
        ++cur[s];
        ++n;
        unsigned char* p = &rec[(n + 1) * L];
        put_i32le(p, sets[s].window);
        const float* re = &store.re[r * store.nch];
        const float* im = &store.im[r * store.nch];
        for (int c = 0; c < nch_; ++c) {
          // Scaled by the level's mean amplitude so that the 13-bit mantissa
          // resolves every coefficient relative to the typical size at its
          // frequency. A part that is exactly zero stays zero: on a dead
          // channel every coefficient and so the mean amplitude is 0, and 0/0
          // would turn true zeros into unpackable values.
          const float x = re[c] == 0.0f ? 0.0f : re[c] * 1000.0f / scale[c];
          const float y = im[c] == 0.0f ? 0.0f : im[c] * 1000.0f / scale[c];
          bool overflow = false;
          float xt1 = 0;
          const std::uint32_t w = pack_fc(x, y, overflow, &xt1);
          if (overflow) log_overflow(id, F, xt1, n, c + 1);
          put_u32le(p + 4 + 4 * c, w);
        }
      }
      put_i32le(&rec[0], id);
      put_i32le(&rec[4], F);
      put_i32le(&rec[8], n);
      for (int c = 0; c < nch_; ++c) put_f32le(&rec[L + 4 * c], scale[c]);
      put(rec.data(), (static_cast<std::size_t>(n) + 2) * L);
    }
  }
  blocks_done_ = true;
}

void FcFileWriter::commit() {
  if (!blocks_done_ || committed_)
    throw Error("Fourier-coefficient file \"" + path_ + "\": committed before it was complete");
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed)
    throw Error("cannot write the Fourier-coefficient file \"" + tmp_ + "\" (" + reason() + ")");
  if (log_) {
    const bool ok = std::fclose(log_) == 0;
    log_ = nullptr;
    if (!ok) throw Error("cannot write the diagnostic file \"" + log_tmp_ + "\" (" + reason() + ")");
  }
  std::error_code ec;
  std::filesystem::rename(tmp_, path_, ec);
  if (ec)
    throw Error("cannot rename \"" + tmp_ + "\" to the Fourier-coefficient file \"" + path_ + "\" (" +
                ec.message() + ")");
  committed_ = true;
  if (overflows_ > 0) {
    std::filesystem::rename(log_tmp_, log_path(), ec);
    if (ec) {
      std::remove(log_tmp_.c_str());
      throw Error("cannot rename \"" + log_tmp_ + "\" to \"" + log_path() + "\" (" + ec.message() + ")");
    }
  } else {
    // A diagnostic file of an earlier run would describe a file that no
    // longer exists.
    std::filesystem::remove(log_path(), ec);
  }
}

}  // namespace qv
