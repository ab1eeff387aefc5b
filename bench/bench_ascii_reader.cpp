// Speed of the ASCII block reader: sample text parsed per second, the hot
// path of every ASCII run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/console.hpp"
#include "common/text_reader.hpp"
#include "input/ascii_reader.hpp"

namespace {

namespace fs = std::filesystem;

// A file in the temporary folder, removed when the program ends.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() { fs::remove(path); }
};

// Five channels of real samples in the layout of a logger export: about 48
// bytes per line.
const std::string& generated_file() {
  static const TemporaryFile file{[] {
    const fs::path p = fs::temp_directory_path() / "qv_bench_ascii_5ch.asc";
    std::ofstream out(p, std::ios::binary);
    unsigned seed = 1;
    char line[160];
    for (int i = 0; i < 400000; ++i) {
      float v[5];
      for (float& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int>(seed >> 8) % 8000000 - 4000000) * 0.25f;
      }
      const int n = std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f %.2f\n", v[0], v[1], v[2], v[3], v[4]);
      out.write(line, n);
    }
    return p.string();
  }()};
  return file.path;
}

// Reads the whole file block by block; `header` runs the generic header
// reader first (three header lines in the file).
void read_all(benchmark::State& state, const std::string& path, bool header) {
  if (!fs::exists(path)) {
    state.SkipWithError(("missing " + path).c_str());
    return;
  }
  const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
  std::ostringstream sink;
  std::istringstream none;
  qv::Console con(sink, sink, none);
  qv::SampleBlock blk;
  std::int64_t rows = 0;
  for (auto _ : state) {
    qv::TextReader data;
    data.open(path);
    int nch = 5;
    if (header) {
      qv::Acquisition acq;
      qv::rdhdrASCII(data, true, "", acq, con);
      nch = acq.nch;
      sink.str("");
    }
    qv::AsciiBlockReader rd(std::move(data), true, con);
    while (rd.read_block(blk, nch) == qv::block_more) rows += blk.npts;
    rows += blk.npts;
    benchmark::DoNotOptimize(blk.real.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_AsciiReal5ChannelsGenerated(benchmark::State& state) { read_all(state, generated_file(), false); }
BENCHMARK(BM_AsciiReal5ChannelsGenerated)->Unit(benchmark::kMillisecond);

void BM_AsciiRealSA225Recording(benchmark::State& state) {
  read_all(state, std::string(QV_SHARED_DIR) + "/data/realmt/SA225-2_20180518T010000Z_10Hz_EX_EY_BX_BY_BZ_uV.asc",
           true);
}
BENCHMARK(BM_AsciiRealSA225Recording)->Unit(benchmark::kMillisecond);

}  // namespace
