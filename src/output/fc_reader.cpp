#include "output/fc_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "common/binary.hpp"
#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"
#include "output/fc_pack.hpp"

namespace qv {

namespace {

// Walks the fixed-width fields of the header text.
class Fields {
 public:
  explicit Fields(std::string_view t) : t_(t) {}
  std::size_t pos() const { return pos_; }
  // True when the next w characters are stored.
  bool has(std::size_t w) const { return pos_ + w <= t_.size(); }
  std::string_view take(std::size_t w) {
    std::string_view s = t_.substr(pos_, w);
    pos_ += w;
    return s;
  }

 private:
  std::string_view t_;
  std::size_t pos_ = 0;
};

}  // namespace

void decode_fc(std::uint32_t word, float scale, float& re, float& im) {
  unpack_fc(word, re, im);
  re = re * scale / 1000.0f;
  im = im * scale / 1000.0f;
}

FcReader::FcReader(const std::string& path) : name_(path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) throw Error("cannot open \"" + path + "\" (" + std::strerror(errno) + ")");
  try {
    size_ = file_size(file_, name_);
    parse_header();
    index_blocks();
  } catch (...) {
    std::fclose(file_);
    file_ = nullptr;
    throw;
  }
}

FcReader::~FcReader() {
  if (file_) std::fclose(file_);
}

void FcReader::fail(std::int64_t offset, const std::string& what) const {
  throw Error("\"" + name_ + "\" is not a Fourier-coefficient file: " + what + " (byte offset " +
              std::to_string(offset) + ")");
}

int FcReader::listed(int level_id) const {
  for (int i = 1; i <= hdr_.nlevels; ++i)
    if (hdr_.level_id[i] == level_id) return i;
  return 0;
}

void FcReader::parse_header() {
  // The first field fixes the channel count and with it the record length.
  unsigned char first[8] = {};
  if (size_ < 8) fail(0, "the file has only " + std::to_string(size_) + " bytes");
  read_at(file_, name_, 0, first, 8);
  std::int64_t v = 0;
  if (std::memcmp(first, "nch", 3) != 0 ||
      !parse_int(trim(std::string_view(reinterpret_cast<const char*>(first) + 3, 5)), v))
    fail(0, "the header does not start with \"nch\" and a channel count");
  if (v < 2 || v > nchmx) fail(3, "channel count " + std::to_string(v) + " (expected 2 to 6)");
  hdr_.nch = static_cast<int>(v);
  reclen_ = 4 * hdr_.nch + 4;
  if (size_ % reclen_ != 0)
    fail(size_, "its size of " + std::to_string(size_) + " bytes is not a multiple of the record length " +
                    std::to_string(reclen_));
  if (size_ < 20 * reclen_) fail(size_, "the file ends inside the 20 header records");
  text_.assign(static_cast<std::size_t>(20 * reclen_), ' ');
  read_at(file_, name_, 0, reinterpret_cast<unsigned char*>(text_.data()), text_.size());

  Fields f(text_);
  f.take(8);
  auto label = [&](std::string_view want) {
    const std::size_t at = f.pos();
    if (f.take(want.size()) != want) fail(static_cast<std::int64_t>(at), "expected \"" + std::string(want) + "\"");
  };
  auto integer = [&](std::size_t w, const char* what, std::int64_t lo, std::int64_t hi) {
    const std::size_t at = f.pos();
    std::int64_t x = 0;
    if (!parse_int(trim(f.take(w)), x) || x < lo || x > hi)
      fail(static_cast<std::int64_t>(at), std::string("unreadable or impossible ") + what);
    return static_cast<int>(x);
  };
  auto real = [&](std::size_t w) {
    float x = 0;
    return parse_real(trim(f.take(w)), x) ? x : std::numeric_limits<float>::quiet_NaN();
  };

  // Counts, then the lists; a header cut off at 20 L characters simply ends.
  label("nd");
  hdr_.nlevels = integer(6, "number of listed levels", 0, ndmx);
  label("nfmx");
  hdr_.nfmx = integer(8, "nfmx", 0, nwmx / 2);
  if (!f.has(4)) return;
  label("mwin");
  for (int i = 1; i <= hdr_.nlevels; ++i) {
    if (!f.has(16)) return;
    hdr_.level_id[i] = integer(8, "level identifier", -1000000000, 1000000000);
    hdr_.nwin[i] = integer(8, "window length", 1, nwmx);
    ids_read_ = i;
  }
  if (!f.has(4)) return;
  label("dr  ");
  for (int i = 1; i <= hdr_.nlevels; ++i) {
    if (!f.has(12)) return;
    hdr_.dr[i] = real(12);
  }
  if (!f.has(8)) return;
  label("ch,orien");
  for (int c = 0; c < hdr_.nch; ++c) {
    if (!f.has(20)) return;
    hdr_.chid[c] = std::string(f.take(6));
    hdr_.orient[c] = real(6);
    hdr_.tilt[c] = real(8);
  }
  if (!f.has(20)) return;
  label("scor");
  hdr_.lat = real(8);
  hdr_.lon = real(8);
  if (!f.has(12)) return;
  label("decl");
  hdr_.decl = real(8);
  complete_ = true;
}

void FcReader::index_blocks() {
  const std::int64_t L = reclen_;
  const int nfmx = hdr_.nfmx;
  std::vector<unsigned char> buf(static_cast<std::size_t>(2 * L));
  std::int64_t off = 20 * L;
  if (nfmx == 0 && off < size_) fail(off, "records after the header although nfmx is 0");
  int expect_f = 1;
  while (off < size_) {
    if (off + 2 * L > size_) fail(off, "the file ends inside a block header");
    read_at(file_, name_, off, buf.data(), buf.size());
    FcBlockInfo b;
    b.level_id = get_i32le(&buf[0]);
    b.findex = get_i32le(&buf[4]);
    b.n = get_i32le(&buf[8]);
    b.offset = off;
    if (blocks_.empty()) {
      // The first block names the file's first level, levoff + 1; every later
      // identifier is counted from it. It must be one the header's fields can
      // hold and, when the header lists levels, lie at most ndmx levels before
      // the first of them, else it is no level of this file.
      int lo = fc_level_id_min, hi = fc_level_id_max;
      if (ids_read_ > 0) {
        lo = std::max(lo, hdr_.level_id[1] - (ndmx - 1));
        hi = std::min(hi, hdr_.level_id[1]);
      }
      if (b.level_id < lo || b.level_id > hi)
        fail(off, "the first block's level identifier is " + std::to_string(b.level_id) + "; expected " +
                      std::to_string(lo) + " to " + std::to_string(hi));
      levoff_ = b.level_id - 1;
    }
    const int expect_id = levoff_ + 1 + static_cast<int>(blocks_.size() / nfmx);
    if (b.level_id != expect_id || b.findex != expect_f)
      fail(off, "expected the block of level " + std::to_string(expect_id) + " and frequency index " +
                    std::to_string(expect_f) + ", found " + std::to_string(b.level_id) + " and " +
                    std::to_string(b.findex));
    for (std::int64_t i = 12; i < L; ++i)
      if (buf[i] != 0) fail(off + i, "non-zero padding in a block header record");
    for (std::int64_t i = 4 * hdr_.nch; i < L; ++i)
      if (buf[L + i] != 0) fail(off + L + i, "non-zero padding in a scale record");
    if (b.n < 0 || b.n > (size_ - off) / L - 2)
      fail(off + 8, "the block declares " + std::to_string(b.n) + " coefficient records; " +
                        std::to_string(std::max<std::int64_t>((size_ - off) / L - 2, 0)) + " follow in the file");
    for (int c = 0; c < hdr_.nch; ++c) b.scale[c] = get_f32le(&buf[L + 4 * c]);
    blocks_.push_back(b);
    off += (2 + static_cast<std::int64_t>(b.n)) * L;
    if (++expect_f > nfmx) {
      expect_f = 1;
      if (++nbody_ > ndmx) fail(off, "more than " + std::to_string(ndmx) + " levels of blocks");
    }
  }
  if (expect_f != 1)
    fail(off, "the file ends after frequency index " + std::to_string(expect_f - 1) + " of level " +
                  std::to_string(levoff_ + nbody_ + 1) + "; " + std::to_string(nfmx) + " blocks expected");
  for (int i = 1; i <= ids_read_; ++i)
    if (hdr_.level_id[i] <= levoff_ || hdr_.level_id[i] > levoff_ + nbody_)
      fail(8, "the header lists level " + std::to_string(hdr_.level_id[i]) + ", which has no blocks");
}

void FcReader::read_records(const FcBlockInfo& b, std::vector<FcCoefRecord>& out) {
  const std::size_t L = static_cast<std::size_t>(reclen_);
  std::vector<unsigned char> buf(static_cast<std::size_t>(b.n) * L);
  if (b.n > 0) read_at(file_, name_, b.offset + 2 * static_cast<std::int64_t>(L), buf.data(), buf.size());
  out.resize(static_cast<std::size_t>(b.n));
  for (int i = 0; i < b.n; ++i) {
    const unsigned char* p = &buf[static_cast<std::size_t>(i) * L];
    out[i].window = get_i32le(p);
    out[i].word.fill(0);
    for (int c = 0; c < hdr_.nch; ++c) out[i].word[c] = get_u32le(p + 4 + 4 * c);
  }
}

}  // namespace qv
