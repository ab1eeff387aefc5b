#include "output/fc_dump.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "output/fc_pack.hpp"

namespace qv {

namespace {

std::string num(float v) {
  if (std::isnan(v)) return "nan";
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string padded(const std::string& s, int w) {
  return static_cast<int>(s.size()) >= w ? s : std::string(w - s.size(), ' ') + s;
}

std::string fmt(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

}  // namespace

namespace {

// Unit of a channel's coefficients. The program multiplies every channel by
// its scale factor, 1/S for a magnetic channel and 1/(S G km of line) for an
// electric one (identifier beginning with E), where S counts per unit; with
// the usual S per nT and per mV that is nT and mV/km. The taper has unit
// energy and the response table carries sqrt(dr), so the coefficients are
// spectral amplitudes: unit per sqrt(Hz).
std::string coefficient_unit(const std::string& chid) {
  const bool electric = !chid.empty() && (chid[0] == 'E' || chid[0] == 'e');
  return electric ? "mV/km/sqrt(Hz)" : "nT/sqrt(Hz)";
}

std::string range(const std::string& a, const std::string& b) { return a == b ? a : a + " to " + b; }

std::string left(const std::string& s, int w) {
  return static_cast<int>(s.size()) >= w ? s + " " : s + std::string(w - s.size(), ' ');
}

// The file's size, channels, levels and station.
void print_header_summary(FcReader& fc, std::ostream& out) {
  const FcHeader& h = fc.header();
  out << "Fourier-coefficient file " << fc.name() << "\n";
  out << "  size            " << fc.size() << " bytes in records of " << fc.record_length() << " bytes\n";
  out << "  channels        " << h.nch << "\n";
  out << "  levels listed   " << h.nlevels << " of " << fc.body_levels() << " (identifiers " << fc.levoff() + 1
      << " to " << fc.levoff() + fc.body_levels() << ")\n";
  out << "  nfmx            " << h.nfmx << " frequency blocks per level\n";
  out << "  channel   id      orient    tilt   coefficients in\n";
  for (int c = 0; c < h.nch; ++c)
    out << "  " << padded(std::to_string(c + 1), 7) << "   " << h.chid[c] << padded(fmt("%.1f", h.orient[c]), 8)
        << padded(fmt("%.2f", h.tilt[c]), 8) << "   " << coefficient_unit(h.chid[c]) << "\n";
  out << "  (units: scale factors in counts per mV on E... channels, per nT on the others)\n";
  out << "  latitude        " << fmt("%.4f", h.lat) << "\n";
  out << "  longitude       " << fmt("%.4f", h.lon) << "\n";
  if (fc.header_complete()) out << "  declination     " << fmt("%.4f", h.decl) << "\n";
  else out << "  (the header text is longer than its 20 records; the fields after the last one shown are lost)\n";
}

// Per level: window length, sample interval, blocks, windows and records.
void print_level_table(FcReader& fc, std::ostream& out) {
  const FcHeader& h = fc.header();
  out << "\n  level    nwin        dr (s)   blocks  with data  windows  records\n";
  const auto& blocks = fc.blocks();
  const std::size_t nfmx = static_cast<std::size_t>(h.nfmx);
  for (int l = 0; l < fc.body_levels(); ++l) {
    const int id = fc.levoff() + 1 + l;
    int with_data = 0, windows = 0;
    long records = 0;
    for (std::size_t b = l * nfmx; b < (l + 1) * nfmx; ++b) {
      if (blocks[b].n > 0) ++with_data;
      if (blocks[b].n > windows) windows = blocks[b].n;
      records += blocks[b].n;
    }
    const int i = fc.listed(id);
    out << "  " << padded(std::to_string(id), 5) << padded(i ? std::to_string(h.nwin[i]) : "-", 8)
        << padded(i ? fmt("%.6g", h.dr[i]) : "-", 14) << padded(std::to_string(h.nfmx), 9)
        << padded(std::to_string(with_data), 11) << padded(std::to_string(windows), 9)
        << padded(std::to_string(records), 9) << "\n";
  }
}

// Per level: the frequency indices with coefficients, their frequencies and
// periods, and the window numbers stored. Returns the lines of the window
// times (with meta present), which follow the table.
std::string print_frequency_table(FcReader& fc, std::ostream& out, const FcMetadata* meta) {
  const FcHeader& h = fc.header();
  const auto& blocks = fc.blocks();
  const std::size_t nfmx = static_cast<std::size_t>(h.nfmx);
  // Frequency index F of a level lies at F / (nwin dr) Hz. The indices with
  // coefficients, their frequencies and periods, and the windows stored.
  out << "\n  level  findex   frequencies (Hz)          periods (s)               window numbers\n";
  std::vector<FcCoefRecord> recs;
  std::string times;
  for (int l = 0; l < fc.body_levels(); ++l) {
    const int id = fc.levoff() + 1 + l;
    const int i = fc.listed(id);
    int first_f = 0, last_f = 0;
    bool any_window = false;
    int wmin = 0, wmax = 0;
    for (std::size_t b = l * nfmx; b < (l + 1) * nfmx; ++b) {
      if (blocks[b].n == 0) continue;
      if (first_f == 0) first_f = blocks[b].findex;
      last_f = blocks[b].findex;
      fc.read_records(blocks[b], recs);
      for (const FcCoefRecord& r : recs) {
        if (!any_window || r.window < wmin) wmin = r.window;
        if (!any_window || r.window > wmax) wmax = r.window;
        any_window = true;
      }
    }
    std::string findex = "-", freqs = "-", periods = "-", windows = "-";
    if (first_f > 0) {
      findex = first_f == last_f ? std::to_string(first_f) : std::to_string(first_f) + "-" + std::to_string(last_f);
      windows = range(std::to_string(wmin), std::to_string(wmax));
      const double df = i ? 1.0 / (double(h.nwin[i]) * h.dr[i]) : 0.0;  // hertz per index
      if (i && std::isfinite(df) && df > 0) {
        freqs = range(fmt("%.6g", first_f * df), fmt("%.6g", last_f * df));
        periods = range(fmt("%.6g", 1.0 / (first_f * df)), fmt("%.6g", 1.0 / (last_f * df)));
      }
    }
    out << "  " << padded(std::to_string(id), 5) << padded(findex, 8) << "   " << left(freqs, 26) << left(periods, 26)
        << windows << "\n";
    if (meta && meta->present) {
      const auto rule = meta->window_time.find(id);
      std::string first = "-", last = "-";
      if (any_window && rule != meta->window_time.end()) {
        first = unix_to_iso(window_unix_s(rule->second, wmin), 6);
        last = unix_to_iso(window_unix_s(rule->second, wmax), 6);
      }
      times += "  " + padded(std::to_string(id), 5) + "   " + left(first, 31) + last + "\n";
    }
  }
  return times;
}

}  // namespace

void print_fc_summary(FcReader& fc, std::ostream& out, const FcMetadata* meta) {
  print_header_summary(fc, out);
  print_level_table(fc, out);
  const std::string times = print_frequency_table(fc, out, meta);
  if (!meta) return;
  if (!meta->present) {
    out << "\n  window times (UTC) not known: " << meta->why_absent << "\n";
    return;
  }
  out << "\n  window times (UTC: the instant each window's coefficients refer to; from " << meta->path << ")\n";
  out << "  level   first window                   last window\n" << times;
}

void print_fc_csv(FcReader& fc, std::ostream& out, const FcMetadata* meta) {
  const FcHeader& h = fc.header();
  const bool times = meta && meta->present;
  out << "level,findex,freq_hz,window,channel,re,im" << (times ? ",start_utc" : "") << "\n";
  std::vector<FcCoefRecord> recs;
  for (const FcBlockInfo& b : fc.blocks()) {
    if (b.n == 0) continue;
    fc.read_records(b, recs);
    const int i = fc.listed(b.level_id);
    const std::string freq =
        (i && h.nwin[i] > 0 && h.dr[i] > 0) ? num(static_cast<float>(b.findex / (double(h.nwin[i]) * h.dr[i]))) : "";
    const std::string prefix = std::to_string(b.level_id) + "," + std::to_string(b.findex) + "," + freq + ",";
    const auto rule = times ? meta->window_time.find(b.level_id) : std::map<int, FcWindowTime>::const_iterator();
    const bool timed = times && rule != meta->window_time.end();
    for (const FcCoefRecord& r : recs) {
      std::string when;
      if (times) when = ',';
      if (timed) when += unix_to_iso(window_unix_s(rule->second, r.window), 6);
      for (int c = 0; c < h.nch; ++c) {
        float re = 0, im = 0;
        decode_fc(r.word[c], b.scale[c], re, im);
        out << prefix << r.window << "," << c + 1 << "," << num(re) << "," << num(im) << when << "\n";
      }
    }
  }
}

namespace {

constexpr const char* kFcdumpUsage =
    "usage: fcdump [--csv] FILE\n"
    "  shows the header and a table per level of a Fourier-coefficient file;\n"
    "  with --csv every decoded coefficient (level,findex,freq_hz,window,channel,re,im,\n"
    "  and start_utc when the metadata file FILE.json is beside it)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "Exit status: 0 when the file was read whole, 1 otherwise.\n";

}  // namespace

int fcdump_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const ProgramInfo info{"fcdump", kFcdumpUsage};
  return guarded_main(info, args, out, err, [&] {
    bool csv = false;
    std::string name;
    if (args.size() == 1 && args[0] != "--csv") {
      name = args[0];
    } else if (args.size() == 2 && args[0] == "--csv") {
      csv = true;
      name = args[1];
    } else {
      err << kFcdumpUsage;
      return 1;
    }
    FcReader fc(name);
    const FcMetadata meta = read_fc_metadata(name);
    if (csv) print_fc_csv(fc, out, &meta);
    else print_fc_summary(fc, out, &meta);
    out.flush();
    return 0;
  });
}

}  // namespace qv
