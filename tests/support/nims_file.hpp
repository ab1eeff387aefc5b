// Test support: a NIMS binary recording written word by word, in the word
// layout (header words, then the scans) or the record layout (the header in
// record 1 of 1280 words, then one record per 256 scans).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace qv::testing_support {

struct NimsFile {
  bool record_layout = false;
  float dr = 0.125f;
  std::array<std::int32_t, 6> start{2013, 3, 1, 0, 0, 0};
  std::array<std::int32_t, 6> ref{2013, 3, 1, 0, 0, 0};
  std::int32_t msval = 2147483647;
  std::vector<std::array<std::int32_t, 3>> gaps;
  int claimed_gaps = -1;  // word 22 when it should not be gaps.size()
  int scans = 512;
  int extra_words = 0;                       // words of a cut scan after the last whole one
  std::vector<std::pair<int, int>> missing;  // (scan, channel) written as msval

  // The recorded value of scan s (from 0), channel c (from 0).
  std::int32_t sample(int s, int c) const {
    for (const auto& m : missing)
      if (m.first == s && m.second == c) return msval;
    return static_cast<std::int32_t>((s * 7919 + c * 104729) % 20011) - 10005 + 1000 * c;
  }

  std::vector<std::int32_t> words() const {
    std::vector<std::int32_t> w(22, 0);
    w[0] = record_layout ? 5108 : 0;
    w[4] = std::bit_cast<std::int32_t>(dr);
    for (int i = 0; i < 6; ++i) {
      w[static_cast<std::size_t>(6 + i)] = start[static_cast<std::size_t>(i)];
      w[static_cast<std::size_t>(12 + i)] = ref[static_cast<std::size_t>(i)];
    }
    w[18] = scans;
    w[20] = msval;
    w[21] = claimed_gaps >= 0 ? claimed_gaps : static_cast<std::int32_t>(gaps.size());
    for (const auto& g : gaps) w.insert(w.end(), g.begin(), g.end());
    if (record_layout) w.resize(1280, 0);
    else w.resize(w.size() + 2, 0);  // words 3 ngaps + 23 and 24 are not read
    for (int s = 0; s < scans; ++s)
      for (int c = 0; c < 5; ++c) w.push_back(sample(s, c));
    for (int i = 0; i < extra_words; ++i) w.push_back(sample(scans, i));
    return w;
  }

  // Little-endian 32-bit words.
  void write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    for (std::int32_t v : words()) {
      const auto u = static_cast<std::uint32_t>(v);
      const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                         static_cast<char>(u >> 24)};
      out.write(b, 4);
    }
  }
};

}  // namespace qv::testing_support
