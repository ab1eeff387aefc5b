// check_fc_pack: proof by exhaustion that the packing of Fourier coefficients
// (src/output/fc_pack.cpp), which takes shortcuts to the exponent and the
// mantissa, gives for every single-precision part exactly the word of the
// plain reduction: divide by 10 in single precision one step at a time while
// the magnitude is 1 or more (at most seven times, else the part cannot be
// packed), then take the nearest integer, halves away from zero, of
// 4096 t - 0.5 formed in single precision, held to -4096..4095.
//
// Every one of the 2^32 bit patterns x (normal, subnormal, zero of either
// sign, infinite, NaN) is packed as the real part and as the imaginary part,
// each beside a partner of 0.3 (whose own mantissa the shortcut finds) and
// beside 0 (whose mantissa needs the divisions, so the pair goes the long
// way): four words per pattern, each compared with the plain reduction.
//
//   build/check_fc_pack                  (all patterns, a few minutes on 2 cores)
//   build/check_fc_pack --stride 4099    (every 4099th pattern, a quick look)
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "output/fc_pack.hpp"

namespace {

// The plain reduction of one part: the exponent 0..7, or -1 when the part
// cannot be packed; m receives the mantissa.
int plain_part(float x, int& m) {
  if (std::isnan(x)) return -1;
  float t = x;
  int e = 0;
  while (std::fabs(t) >= 1.0f) {
    t = t / 10.0f;
    if (++e > 7) return -1;
  }
  const float v = 4096.0f * t - 0.5f;
  m = std::clamp(static_cast<int>(std::round(v)), -4096, 4095);
  return e;
}

struct Part {
  int e = -1, m = 0;
};

std::uint32_t plain_word(Part re, Part im) {
  if (re.e < 0 || im.e < 0) return qv::fc_sentinel;
  return static_cast<std::uint32_t>(re.e) + 8u * static_cast<std::uint32_t>(re.m + 4096) +
         65536u * static_cast<std::uint32_t>(im.e) + 524288u * static_cast<std::uint32_t>(im.m);
}

struct Tally {
  std::atomic<std::uint64_t> checked{0}, wrong{0};
  std::mutex print;
};

void report(Tally& tally, float x, float y, std::uint32_t got, std::uint32_t want) {
  if (tally.wrong.fetch_add(1) >= 10) return;
  const std::lock_guard<std::mutex> lock(tally.print);
  std::printf("differs: x = %a (0x%08x), y = %a: word 0x%08x, plain reduction 0x%08x\n", x, std::bit_cast<std::uint32_t>(x),
              y, got, want);
}

// Patterns first, first + stride, ... below 2^32.
void sweep(std::uint64_t first, std::uint64_t stride, Tally& tally) {
  const float partners[2] = {0.3f, 0.0f};
  Part pp[2];
  for (int i = 0; i < 2; ++i) pp[i].e = plain_part(partners[i], pp[i].m);
  std::uint64_t checked = 0;
  for (std::uint64_t bits = first; bits < (std::uint64_t(1) << 32); bits += stride) {
    const float x = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    Part px;
    px.e = plain_part(x, px.m);
    for (int i = 0; i < 2; ++i) {
      bool overflow = false;
      const std::uint32_t a = qv::pack_fc(x, partners[i], overflow);
      const std::uint32_t wa = plain_word(px, pp[i]);
      if (a != wa) report(tally, x, partners[i], a, wa);
      const std::uint32_t b = qv::pack_fc(partners[i], x, overflow);
      const std::uint32_t wb = plain_word(pp[i], px);
      if (b != wb) report(tally, partners[i], x, b, wb);
    }
    ++checked;
  }
  tally.checked += checked;
}

std::uint64_t number(const std::vector<std::string>& args, std::size_t& i) {
  if (i + 1 >= args.size()) throw qv::Error("option '" + args[i] + "' needs a positive whole number after it");
  const std::string& v = args[++i];
  if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos || std::stoul(v) == 0)
    throw qv::Error("option '" + args[i - 1] + "': expected a positive whole number below 10^9, found '" + v + "'");
  return std::stoul(v);
}

int run(const std::vector<std::string>& args) {
  std::uint64_t stride = 1;
  std::uint64_t threads = std::max(1u, std::thread::hardware_concurrency());
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--stride") stride = number(args, i);
    else if (args[i] == "--threads") threads = number(args, i);
    else throw qv::Error("unexpected argument '" + args[i] + "'; see --help");
  }
  threads = std::min<std::uint64_t>(threads, 64);
  Tally tally;
  std::vector<std::thread> pool;
  // Thread j takes patterns j*stride, (j + threads)*stride, ...
  for (std::uint64_t j = 0; j < threads; ++j)
    pool.emplace_back([&, j] { sweep(j * stride, threads * stride, tally); });
  for (auto& t : pool) t.join();
  std::printf("%llu patterns, each as real and as imaginary part beside 0.3 and beside 0: ",
              static_cast<unsigned long long>(tally.checked.load()));
  if (tally.wrong == 0) {
    std::printf("every word is that of the plain reduction\n");
    return 0;
  }
  std::printf("%llu words differ\n", static_cast<unsigned long long>(tally.wrong.load()));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  static constexpr const char* kUsage =
      "usage: check_fc_pack [--stride S] [--threads N]\n"
      "Packs every single-precision bit pattern (or every S-th) as the real and as the\n"
      "imaginary part of a coefficient, beside 0.3 and beside 0, and compares each word\n"
      "with that of the plain reduction (divisions by 10 one step at a time, then the\n"
      "rounded mantissa). Prints the first differences and a summary; exit status 0\n"
      "when every word agrees, 1 otherwise.\n"
      "  --stride S    check patterns 0, S, 2S, ... (default 1: all 2^32)\n"
      "  --threads N   threads to share the patterns (default: one per processor)\n"
      "  -h, --help    this text\n"
      "  --version     the version\n";
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::guarded_main({"check_fc_pack", kUsage}, args, std::cout, std::cerr, [&] { return run(args); });
}
