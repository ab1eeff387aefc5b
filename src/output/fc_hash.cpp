#include "output/fc_hash.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/error.hpp"

namespace qv {

namespace {

inline std::uint64_t splitmix64(std::uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t word_sum(std::uint64_t first_word, const unsigned char* p, std::size_t words) {
  std::uint64_t s = 0;
  for (std::size_t i = 0; i < words; ++i, p += 4) {
    const std::uint32_t w = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                            std::uint32_t(p[3]) << 24;
    s += splitmix64(((first_word + i) << 32) | w);
  }
  return s;
}

}  // namespace

void FcHash::add(std::int64_t offset, const unsigned char* bytes, std::size_t n) {
  if (offset < 0 || offset % 4 != 0 || n % 4 != 0)
    throw Error("Fourier-coefficient file hash: " + std::to_string(n) + " bytes at byte offset " +
                std::to_string(offset) + " are not whole 4-byte words");
  sum += word_sum(static_cast<std::uint64_t>(offset) / 4, bytes, n / 4);
}

std::string fc_hash_hex(std::uint64_t h) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

FcFileDigest fc_file_digest(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw Error("cannot open \"" + path + "\" (" + std::strerror(errno) + ")");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(f, std::fclose);
  constexpr std::size_t kChunk = std::size_t(1) << 20;  // a multiple of 4
  std::unique_ptr<unsigned char[]> buf(new unsigned char[kChunk]);
  FcFileDigest d;
  FcHash h;
  for (;;) {
    const std::size_t got = std::fread(buf.get(), 1, kChunk, f);
    if (got % 4 != 0 || (got < kChunk && std::ferror(f)))
      throw Error("cannot read \"" + path + "\" at byte offset " + std::to_string(d.size + std::int64_t(got - got % 4)) +
                  (std::ferror(f) ? std::string(" (") + std::strerror(errno) + ")" : std::string(": its size is no multiple of 4 bytes")));
    h.add(d.size, buf.get(), got);
    d.size += static_cast<std::int64_t>(got);
    if (got < kChunk) break;
  }
  d.hash = h.sum;
  return d;
}

}  // namespace qv
