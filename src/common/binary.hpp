// Binary decoding shared by the readers and writers of binary files: 32-bit
// little-endian words (the Fourier-coefficient file), big-endian header words
// and 24-bit big-endian two's-complement samples (the data logger), and reads
// at a byte offset whose failures name the file and the offset.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qv {

inline std::uint32_t get_u32le(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::int32_t get_i32le(const unsigned char* p) { return static_cast<std::int32_t>(get_u32le(p)); }
inline float get_f32le(const unsigned char* p) { return std::bit_cast<float>(get_u32le(p)); }

inline void put_u32le(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline void put_i32le(unsigned char* p, std::int32_t v) { put_u32le(p, static_cast<std::uint32_t>(v)); }
inline void put_f32le(unsigned char* p, float v) { put_u32le(p, std::bit_cast<std::uint32_t>(v)); }

// Big-endian (most significant byte first) words of the data logger's header.
inline std::uint32_t get_u32be(const unsigned char* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}
inline std::int32_t get_i32be(const unsigned char* p) { return static_cast<std::int32_t>(get_u32be(p)); }
inline std::int64_t get_i64be(const unsigned char* p) {
  return static_cast<std::int64_t>(std::uint64_t(get_u32be(p)) << 32 | get_u32be(p + 4));
}

// A 24-bit two's-complement sample, most significant byte first
// (-8388608..8388607).
inline std::int32_t get_i24be(const unsigned char* p) {
  // The three bytes in the top of a 32-bit word; the arithmetic shift back
  // down extends the sign (C++20 defines it), with no branch per sample.
  const std::uint32_t top = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8;
  return static_cast<std::int32_t>(top) >> 8;
}

// Reads n bytes from byte offset `offset` of an open binary file. Raises an
// Error naming the file (`name`), the offset and the bytes wanted when the
// file ends before them or cannot be read.
void read_at(std::FILE* f, const std::string& name, std::int64_t offset, unsigned char* buf, std::size_t n);

// Reads up to n bytes from byte offset `offset`; returns how many were there
// (fewer than n only where the file ends). Raises an Error naming the file and
// the offset when the file cannot be read.
std::size_t read_up_to(std::FILE* f, const std::string& name, std::int64_t offset, unsigned char* buf,
                       std::size_t n);

// Size of an open binary file in bytes; raises an Error naming it when the
// size cannot be found.
std::int64_t file_size(std::FILE* f, const std::string& name);

}  // namespace qv
