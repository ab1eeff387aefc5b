// The 64-bit hash that ties a Fourier-coefficient file to its metadata file
// (<file>.json), so that a reader never takes the metadata of another run.
// The file is a run of 4-byte little-endian words (its records are 4 nch + 4
// bytes); word j (byte offset 4 j) with value w contributes
//   x = j * 2^32 + w,  z = splitmix64(x)
// and the hash is the sum of every z modulo 2^64, written as 16 hexadecimal
// digits. A sum does not depend on the order in which the words arrive, so
// the writer forms it while it puts the blocks in place in any order, and any
// reader forms it in one pass (tools/qvfc.py does with numpy).
//
// splitmix64 (Steele, Lea & Flood 2014, the finaliser of Java's
// SplittableRandom): z = x + 0x9E3779B97F4A7C15;
//   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
//   z = (z ^ (z >> 27)) * 0x94D049BB133111EB;  z ^ (z >> 31).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

struct FcHash {
  std::uint64_t sum = 0;

  // Adds n bytes written at byte offset `offset`; both are multiples of 4,
  // and every word of the file is added once. Raises an Error otherwise.
  void add(std::int64_t offset, const unsigned char* bytes, std::size_t n);
};

// The hash as 16 lower-case hexadecimal digits.
std::string fc_hash_hex(std::uint64_t h);

// The hash and size in bytes of a whole file, read from the start. Raises an
// Error naming the file when it cannot be read or its size is no multiple of 4.
struct FcFileDigest {
  std::uint64_t hash = 0;
  std::int64_t size = 0;
};
FcFileDigest fc_file_digest(const std::string& path);

}  // namespace qv
