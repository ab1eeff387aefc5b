// Whole runs over small stations, one of whose files the input replaces: the
// test station "_small" (a generic ASCII recording), the sample station's
// set-up with a short QEL binary recording, and a short NIMS binary
// recording. Every run starts in a fresh folder with the station's files and
// no answers at the console. A run that ends with status 0 must leave exactly
// one Fourier-coefficient file, and FcReader must read it back with every
// block's records; a run that fails must leave none (nor a temporary one). A
// message of the run's last-resort handlers (an exception other than Error,
// or an allocation that failed) is a finding too.
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

#include "driver/run.hpp"
#include "fuzz/harnesses/support.hpp"
#include "input/qel_writer.hpp"
#include "output/fc_reader.hpp"
#include "support/nims_file.hpp"

namespace qv::fuzz {

namespace {

namespace fs = std::filesystem;

struct Station {
  std::vector<std::string> args;
  std::map<std::string, std::string> files;  // name in the station's folder -> content
};

std::string read_source(const std::string& relative) {
  const fs::path p = fs::path(QV_SOURCE_DIR) / relative;
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Four blocks of five channels in two packets of 1024 + 2 x 3840 bytes, at 128 Hz.
std::string qel_recording() {
  QelHeaderFields h;
  h.position = qel_position_text(-31.5, 138.6);
  h.date_time = qel_date_time_text(2014, 3, 14, 9, 59, 59.0);
  h.sampfreq = 128;
  h.stamp = 50000000;
  h.mask = 0x1F;
  h.data_bytes = 2 * qel::scans_per_block * 5 * qel::bytes_per_sample;
  const auto header = encode_qel_header(h);
  std::string bytes;
  for (int packet = 0; packet < 2; ++packet) {
    bytes.append(reinterpret_cast<const char*>(header.data()), header.size());
    for (int s = 0; s < 2 * qel::scans_per_block; ++s)
      for (int c = 0; c < 5; ++c) {
        const int n = packet * 2 * qel::scans_per_block + s;
        const auto v = static_cast<std::uint32_t>((n * 7919 + c * 104729) % 20011 - 10005);
        bytes += static_cast<char>(v >> 16);
        bytes += static_cast<char>(v >> 8);
        bytes += static_cast<char>(v);
      }
  }
  return bytes;
}

std::string nims_recording() {
  testing_support::NimsFile nf;
  nf.dr = 0.0078125f;
  nf.scans = 256;
  std::string bytes;
  for (const std::int32_t w : nf.words())
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>(static_cast<std::uint32_t>(w) >> (8 * k));
  return bytes;
}

const std::vector<Station>& stations() {
  static const std::vector<Station> s = [] {
    const std::string small = "tests/stations/_small/", sample = "examples/sample_station/";
    std::vector<Station> v(3);
    v[0].args = {"-A", "-f:st.asc"};
    for (const char* name : {"st.asc", "st.sp", "decset.cfg", "pwset.cfg"}) v[0].files[name] = read_source(small + name);
    v[1].args = {"-f:st.bin"};
    v[1].files = {{"st.bin", qel_recording()},
                  {"st.sp", read_source(sample + "sample_qel.sp")},
                  {"decset.cfg", read_source(sample + "decset.cfg")},
                  {"pwset.cfg", read_source(sample + "pwset.cfg")}};
    v[2].args = {"-B", "-f:st.bin"};
    v[2].files = {{"st.bin", nims_recording()},
                  {"st.sp", read_source(sample + "sample.sp")},
                  {"decset.cfg", read_source(small + "decset.cfg")},
                  {"pwset.cfg", read_source(small + "pwset.cfg")}};
    return v;
  }();
  return s;
}

// The file byte 0 of an input picks: a station and the name of the file the
// rest of the input stands for (a bad-record file where the station has none).
struct Target {
  int station;
  const char* file;
};
constexpr Target station_targets[] = {
    {0, "st.asc"}, {0, "st.sp"},   {0, "decset.cfg"}, {0, "pwset.cfg"}, {0, "st.bad"},
    {1, "st.bin"}, {1, "st.sp"},   {1, "decset.cfg"}, {1, "pwset.cfg"}, {1, "st.bad"},
    {2, "st.bin"}, {2, "st.sp"},
};

// Files of the run's output in a folder: a Fourier-coefficient file, or any
// name that begins with one (its lock, its temporary files, its .log).
std::vector<fs::path> fc_files(const fs::path& dir) {
  static const std::regex fc(".*\\.f[0-9](\\..*)?");
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (std::regex_match(e.path().filename().string(), fc)) found.push_back(e.path());
  return found;
}

}  // namespace

int station_run(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const Target target = station_targets[in.byte() % std::size(station_targets)];
  const Station& station = stations()[static_cast<std::size_t>(target.station)];
  const std::string_view file = in.rest();

  const fs::path dir = fresh_folder("station");
  for (const auto& [name, content] : station.files) write_file(dir / name, content);
  write_file(dir / target.file, file);

  QuietConsole q;
  int status = 0;
  {
    const InFolder inside(dir);
    status = run_main(station.args, q.con);
  }
  const std::string err = q.err.str();
  if (verbose()) std::fprintf(stderr, "status %d: %s", status, err.c_str());
  if (err.find("qel_vort: internal error") != std::string::npos ||
      err.find("qel_vort: not enough memory") != std::string::npos)
    finding("the run ended in a last-resort handler: " + err);

  std::vector<fs::path> left = fc_files(dir);
  if (status != 0) {
    if (!left.empty()) finding("a failed run left " + left[0].filename().string() + ": " + err);
    return 0;
  }
  static const std::regex result("\\.f[0-9]");
  std::erase_if(left, [](const fs::path& p) { return p.extension() == ".log" || p.extension() == ".json"; });
  if (left.size() != 1 || !std::regex_match(left[0].extension().string(), result))
    finding("a successful run left " + std::to_string(left.size()) + " files of its output: " +
            (left.empty() ? std::string("none") : left[0].filename().string()));
  try {
    FcReader fc(left[0].string());
    std::vector<FcCoefRecord> records;
    for (const FcBlockInfo& b : fc.blocks()) fc.read_records(b, records);
  } catch (const Error& e) {
    finding(std::string("FcReader refuses the file the run wrote: ") + e.what());
  }
  return 0;
}

}  // namespace qv::fuzz
