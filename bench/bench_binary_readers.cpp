// Speed of the binary block readers (QEL and NIMS, both NIMS layouts): data
// decoded per second from a file in the page cache. A binary run should be
// bound by its processing, not by reading, so this aims well above 1 GB/s.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/binary.hpp"
#include "common/console.hpp"
#include "input/nims_block_reader.hpp"
#include "input/nims_header.hpp"
#include "input/qel_block_reader.hpp"
#include "input/qel_header.hpp"
#include "input/qel_writer.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kScans = 2000000;  // 4.3 hours at 128 Hz

// A recording of nch channels written once per process and removed at exit.
class GeneratedRecording {
 public:
  explicit GeneratedRecording(int nch)
      : path_((fs::temp_directory_path() / ("qv_bench_qel_" + std::to_string(nch) + "ch.bin")).string()) {
    qv::QelHeaderFields h;
    h.position = qv::qel_position_text(-31.5, 138.6);
    h.date_time = qv::qel_date_time_text(2014, 3, 14, 10, 0, 0.0);
    h.sampfreq = 128;
    h.mask = (1u << nch) - 1;
    std::vector<std::int32_t> v(static_cast<std::size_t>(kScans) * static_cast<std::size_t>(nch));
    unsigned seed = 1;
    for (auto& x : v) {
      seed = seed * 1664525u + 1013904223u;
      x = static_cast<std::int32_t>(seed >> 8) - 8388608;
    }
    qv::write_qel_file(path_, h, v);
  }
  ~GeneratedRecording() { fs::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void read_all(benchmark::State& state, int nch) {
  static GeneratedRecording five(5), six(6);
  const std::string& path = nch == 5 ? five.path() : six.path();
  const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
  std::ostringstream sink;
  std::istringstream none;
  qv::Console con(sink, sink, none);
  auto blk = std::make_unique<qv::SampleBlock>();
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    qv::Acquisition acq;
    qv::QelLayout layout;
    qv::rdhdrQEL(f, path, acq, layout, con);
    qv::QelBlockReader rd(f, path, layout, con);
    while (rd.read_block(*blk, nch) == qv::block_more) rows += blk->npts;
    benchmark::DoNotOptimize(blk->real.data());
    sink.str("");
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

// A NIMS recording of kScans scans in the word or the record layout, written
// once per process and removed at exit.
class NimsRecording {
 public:
  explicit NimsRecording(bool records)
      : path_((fs::temp_directory_path() / (records ? "qv_bench_nims_records.bin" : "qv_bench_nims_words.bin"))
                  .string()) {
    std::vector<std::int32_t> w(records ? qv::nims::record_words : 24, 0);
    w[0] = records ? qv::nims::record_marker : 0;
    w[4] = std::bit_cast<std::int32_t>(0.125f);
    for (int i : {6, 12}) {
      w[static_cast<std::size_t>(i)] = 2014;
      w[static_cast<std::size_t>(i + 1)] = w[static_cast<std::size_t>(i + 2)] = 1;
    }
    w[20] = 2147483647;
    unsigned seed = 3;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kScans) * qv::nims::channels; ++i) {
      seed = seed * 1664525u + 1013904223u;
      w.push_back(static_cast<std::int32_t>(seed));
    }
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::vector<unsigned char> bytes(w.size() * 4);
    for (std::size_t i = 0; i < w.size(); ++i) qv::put_i32le(&bytes[4 * i], w[i]);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~NimsRecording() { fs::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void read_nims(benchmark::State& state, bool records) {
  static NimsRecording words(false), recs(true);
  const std::string& path = records ? recs.path() : words.path();
  const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
  std::ostringstream sink;
  std::istringstream none;
  qv::Console con(sink, sink, none);
  auto blk = std::make_unique<qv::SampleBlock>();
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    qv::Acquisition acq;
    qv::NimsLayout layout;
    qv::mk_off(f, path, acq, layout, con);
    qv::NimsBlockReader rd(f, path, layout, con);
    while (rd.read_block(*blk, 5) == qv::block_more) {
    }
    benchmark::DoNotOptimize(blk->ints.data());
    sink.str("");
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_NimsWordLayout(benchmark::State& state) { read_nims(state, false); }
BENCHMARK(BM_NimsWordLayout)->Unit(benchmark::kMillisecond);

void BM_NimsRecordLayout(benchmark::State& state) { read_nims(state, true); }
BENCHMARK(BM_NimsRecordLayout)->Unit(benchmark::kMillisecond);

void BM_Qel5Channels(benchmark::State& state) { read_all(state, 5); }
BENCHMARK(BM_Qel5Channels)->Unit(benchmark::kMillisecond);

void BM_Qel6ChannelsDeliveringFive(benchmark::State& state) { read_all(state, 6); }
BENCHMARK(BM_Qel6ChannelsDeliveringFive)->Unit(benchmark::kMillisecond);

}  // namespace
