#include "transfer/coefficient_source.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <limits>
#include <numbers>

#include "common/console.hpp"
#include "common/error.hpp"
#include "common/text.hpp"
#include "dsp/window_prep.hpp"

namespace qv::tf {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Harmonics apart for which the taper's correlation is kept; beyond the
// main lobe of the prolate taper (c = pi) it is below 10^-4.
constexpr int kCorrelationSpan = 12;

// |rho(m)|^2 for white noise under the taper w of n samples: rho(m) is the
// transform of w^2 at m harmonics over its value at 0.
std::vector<double> taper_correlation(int n) {
  std::vector<float> w(static_cast<std::size_t>(n));
  taper_weights(n, w.data());
  double w2 = 0;
  for (float v : w) w2 += double(v) * v;
  std::vector<double> rho2;
  for (int m = 0; m <= kCorrelationSpan && m <= n / 2; ++m) {
    std::complex<double> s = 0;
    for (int t = 0; t < n; ++t)
      s += double(w[t]) * w[t] * std::polar(1.0, -2.0 * std::numbers::pi * m * t / n);
    rho2.push_back(std::norm(s / w2));
  }
  return rho2;
}

std::vector<ChannelInfo> header_channels(const FcHeader& h) {
  std::vector<ChannelInfo> out;
  for (int c = 0; c < h.nch; ++c) {
    ChannelInfo ch;
    ch.number = c + 1;
    ch.id = std::string(trim(h.chid[c]));
    ch.electric = !h.chid[c].empty() && (h.chid[c][0] == 'E' || h.chid[c][0] == 'e');
    ch.azimuth_deg = h.orient[c];
    ch.tilt_deg = h.tilt[c];
    out.push_back(ch);
  }
  return out;
}

std::vector<ChannelInfo> metadata_channels(const FcMetadata& m, const std::string& path) {
  std::vector<ChannelInfo> out;
  try {
    for (const nlohmann::json& c : m.doc.at("channels")) {
      ChannelInfo ch;
      ch.number = c.at("number").get<int>();
      ch.id = c.at("id").get<std::string>();
      ch.electric = c.at("kind").get<std::string>() == "electric";
      ch.azimuth_deg = c.at("orientation_deg").get<double>();
      ch.tilt_deg = c.at("tilt_deg").get<double>();
      if (c.contains("line_length_m") && c["line_length_m"].is_number()) ch.line_length_m = c["line_length_m"];
      out.push_back(ch);
    }
  } catch (const nlohmann::json::exception& e) {
    throw Error("metadata file \"" + path + ".json\": its channels cannot be read (" + e.what() + ")");
  }
  return out;
}

// The exact sample interval of every level from the metadata (the file
// header holds it to four digits only).
double metadata_dr(const FcMetadata& m, int level_id, double fallback) {
  for (const nlohmann::json& l : m.doc.at("levels"))
    if (l.at("level_id").get<int>() == level_id && l.at("sample_interval_s").is_number())
      return l.at("sample_interval_s").get<double>();
  return fallback;
}

bool same_channels(const std::vector<ChannelInfo>& a, const std::vector<ChannelInfo>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].id != b[i].id || a[i].electric != b[i].electric || a[i].azimuth_deg != b[i].azimuth_deg ||
        a[i].tilt_deg != b[i].tilt_deg)
      return false;
  return true;
}

}  // namespace

CoefficientSource::~CoefficientSource() = default;

CoefficientSource::CoefficientSource(const std::vector<std::string>& paths, std::vector<std::string>& warnings)
    : paths_(paths), first_unix_(kNaN), last_unix_(kNaN) {
  if (paths.empty()) throw Error("no coefficient file given");
  int with_meta = 0;
  for (const std::string& p : paths) {
    files_.push_back(std::make_unique<FcReader>(p));
    meta_.push_back(read_fc_metadata(p));
    if (meta_.back().present) ++with_meta;
  }
  has_metadata_ = with_meta == static_cast<int>(paths.size());
  if (!has_metadata_)
    warnings.push_back(
        (with_meta == 0 ? std::string("no metadata file beside ") + paths.front()
                        : std::string("not every coefficient file has its metadata file")) +
        ": channel kinds and orientations are taken from the file header (identifiers beginning with E are "
        "electric, tilts of 45 degrees or more vertical), sample intervals from its four digits, units as mV/km "
        "and nT, and window times are not known");

  // Channels and levels of the first file; every other must have the same.
  const FcReader& first = *files_.front();
  channels_ = has_metadata_ ? metadata_channels(meta_.front(), paths.front()) : header_channels(first.header());
  const FcHeader& h = first.header();
  for (int i = 1; i <= h.nlevels; ++i) {
    LevelInfo l;
    l.level_id = h.level_id[i];
    l.nwin = h.nwin[i];
    l.dr = has_metadata_ ? metadata_dr(meta_.front(), l.level_id, h.dr[i]) : h.dr[i];
    levels_.push_back(l);
  }
  check_same_setup();

  // Harmonics and windows of every level, and windows that two files hold.
  // Window numbers count from each recording's reference time, which need
  // not be the same (an ASCII recording counts from midnight of its day), so
  // with the metadata the files are compared by the times of their windows;
  // without it, by window numbers alone.
  window_base_.assign(files_.size(), {});
  for (LevelInfo& l : levels_) count_level_windows(l);
}

// Every file must share the first one's channels, levels, window lengths and
// sample intervals, and none may be given twice.
void CoefficientSource::check_same_setup() const {
  const FcHeader& h = files_.front()->header();
  const std::vector<std::string>& paths = paths_;
  for (std::size_t f = 0; f < files_.size(); ++f) {
    const FcHeader& g = files_[f]->header();
    bool same = g.nch == h.nch && g.nlevels == h.nlevels;
    for (int i = 1; same && i <= h.nlevels; ++i)
      same = g.level_id[i] == h.level_id[i] && g.nwin[i] == h.nwin[i] && g.dr[i] == h.dr[i];
    if (same && has_metadata_) same = same_channels(metadata_channels(meta_[f], paths[f]), channels_);
    if (same && !has_metadata_) same = same_channels(header_channels(g), header_channels(h));
    if (!same)
      throw Error("coefficient files " + paths.front() + " and " + paths[f] +
                  " do not share one set-up (channels, levels, window lengths and sample intervals): they cannot be "
                  "estimated as one station");
  }
  // One file given twice is the plainest mistake; say so before anything else.
  for (std::size_t f = 1; f < paths.size(); ++f)
    for (std::size_t g = 0; g < f; ++g) {
      std::error_code ec;
      if (std::filesystem::equivalent(paths[g], paths[f], ec))
        throw Error("coefficient files " + paths[g] + " and " + paths[f] +
                    " are one file, given twice: its windows would count double");
    }
}

// The harmonics and windows of level l in every file, and where each file's
// window numbers start among those of the files before.
void CoefficientSource::count_level_windows(LevelInfo& l) {
  const std::vector<std::string>& paths = paths_;
  struct Held {
    std::size_t file;
    int lo, hi;
    double t_lo, t_hi;  // NaN without window times
  };
  std::vector<Held> held;
  int next_group = 0;  // windows of later files are numbered after those of earlier ones
  for (std::size_t f = 0; f < files_.size(); ++f) {
    FcReader& fc = *files_[f];
    int windows = 0;
    const FcBlockInfo* widest = nullptr;
    for (const FcBlockInfo& b : fc.blocks()) {
      if (b.level_id != l.level_id || b.n == 0) continue;
      l.nfreq = std::max(l.nfreq, b.findex);
      if (b.n > windows) {
        windows = b.n;
        widest = &b;
      }
    }
    l.windows += windows;
    if (!widest) continue;
    fc.read_records(*widest, recs_);
    int lo = recs_.front().window, hi = lo;
    for (const FcCoefRecord& r : recs_) lo = std::min(lo, r.window), hi = std::max(hi, r.window);
    Held h{f, lo, hi, kNaN, kNaN};
    if (has_metadata_) {
      const auto at = meta_[f].window_time.find(l.level_id);
      if (at != meta_[f].window_time.end()) h.t_lo = window_unix_s(at->second, lo), h.t_hi = window_unix_s(at->second, hi);
    }
    for (const Held& o : held) {
      const bool by_time = !std::isnan(h.t_lo) && !std::isnan(o.t_lo);
      const bool overlap = by_time ? h.t_lo <= o.t_hi && o.t_lo <= h.t_hi : h.lo <= o.hi && o.lo <= h.hi;
      if (!overlap) continue;
      const std::string where =
          by_time ? "from " + unix_to_iso(std::max(h.t_lo, o.t_lo), 3) + " to " + unix_to_iso(std::min(h.t_hi, o.t_hi), 3)
                  : "between " + std::to_string(std::max(lo, o.lo)) + " and " + std::to_string(std::min(hi, o.hi));
      throw Error("coefficient files " + paths[o.file] + " and " + paths[f] + " both hold windows of level " +
                  std::to_string(l.level_id) + " " + where + ": a recording given twice, or overlapping recordings");
    }
    held.push_back(h);
    window_base_[f][l.level_id] = next_group - lo;
    next_group += hi - lo + 1;
  }
  l.rho2 = taper_correlation(l.nwin);
  // A band spans at most a level's harmonics: its per-harmonic sums fit from here on.
  harmonic_power_.reserve(2 * static_cast<std::size_t>(std::max(l.nfreq, 1)));
}

const LevelInfo& CoefficientSource::level(int level_id) const {
  for (const LevelInfo& l : levels_)
    if (l.level_id == level_id) return l;
  throw Error("the coefficient file has no level " + std::to_string(level_id));
}

void CoefficientSource::set_frame(const Roles& given, double zrot_deg) {
  roles_ = assign_roles(channels_, given);
  auto az = [&](int number) { return channels_[static_cast<std::size_t>(number - 1)].azimuth_deg; };
  me_ = frame_transform(az(roles_.ex), az(roles_.ey), zrot_deg, "the electric channels");
  mh_ = frame_transform(az(roles_.hx), az(roles_.hy), zrot_deg, "the horizontal magnetic channels");
}

void CoefficientSource::set_span(const WindowSpan& span) {
  if ((span.from_unix_s || span.to_unix_s) && !has_metadata_)
    throw Error("--from and --to need the window times of the metadata files, and " +
                std::string("not every coefficient file has one"));
  span_ = span;
}

void CoefficientSource::rows(const Band& band, BandRows& out) {
  out.clear();
  out.nout = nout();
  const int c_ex = roles_.ex - 1, c_ey = roles_.ey - 1, c_hx = roles_.hx - 1, c_hy = roles_.hy - 1,
            c_hz = roles_.hz - 1;
  for (std::size_t f = 0; f < files_.size(); ++f) {
    FcReader& fc = *files_[f];
    const FcWindowTime* when = nullptr;
    const auto base = window_base_[f].find(band.level_id);
    const int window_base = base == window_base_[f].end() ? 0 : base->second;
    if (has_metadata_) {
      const auto at = meta_[f].window_time.find(band.level_id);
      if (at != meta_[f].window_time.end()) when = &at->second;
    }
    for (const FcBlockInfo& b : fc.blocks()) {
      if (b.level_id != band.level_id || b.findex < band.first_harmonic || b.findex > band.last_harmonic || b.n == 0)
        continue;
      fc.read_records(b, recs_);
      for (const FcCoefRecord& r : recs_) {
        if (when) {
          const double t = window_unix_s(*when, r.window);
          if ((span_.from_unix_s && t < *span_.from_unix_s) || (span_.to_unix_s && t > *span_.to_unix_s)) continue;
          if (std::isnan(first_unix_) || t < first_unix_) first_unix_ = t;
          if (std::isnan(last_unix_) || t > last_unix_) last_unix_ = t;
        }
        cplx v[nchmx];
        bool ok = true;
        for (int c = 0; c < fc.header().nch; ++c) {
          float re = 0, im = 0;
          decode_fc(r.word[c], b.scale[c], re, im);
          v[c] = cplx(re, im);
          if (std::isnan(re) || std::isnan(im)) {
            const bool used = c == c_ex || c == c_ey || c == c_hx || c == c_hy || c == c_hz;
            if (used) ok = false;
          }
        }
        if (!ok) continue;
        const cplx ex = me_[0] * v[c_ex] + me_[1] * v[c_ey], ey = me_[2] * v[c_ex] + me_[3] * v[c_ey];
        const cplx hx = mh_[0] * v[c_hx] + mh_[1] * v[c_hy], hy = mh_[2] * v[c_hx] + mh_[3] * v[c_hy];
        out.y.push_back(ex);
        out.y.push_back(ey);
        if (c_hz >= 0) out.y.push_back(v[c_hz]);
        out.x.push_back(hx);
        out.x.push_back(hy);
        // A window of its own file: the jackknife leaves it out as one, and
        // only its own harmonics are correlated by the taper.
        out.window.push_back(r.window + window_base);
        out.harmonic.push_back(b.findex);
        ++out.n;
      }
    }
  }
  equalise_harmonics(band, out);
}

void CoefficientSource::equalise_harmonics(const Band& band, BandRows& out) {
  // The source field is red: within a band the lowest harmonic has the most
  // magnetic power, and a plain regression would weight the band's estimate
  // towards its low-frequency end, where the impedance of a steep part of the
  // sounding curve differs by several per cent from its value at the band's
  // centre. Scaling each harmonic's rows (outputs and inputs alike, so that
  // E = Z H still holds) by sqrt(band mean / harmonic mean) of |Hx|^2 + |Hy|^2
  // gives every harmonic the same weight: the estimate becomes the mean of
  // the impedance over the band's harmonics, which refers to the band's
  // centre. White noise on E, after the scaling, has the smallest variance
  // where H is weakest, and every harmonic again the same signal-to-noise
  // ratio, so the errors of a common residual variance stay right.
  const int k = band.last_harmonic - band.first_harmonic + 1;
  if (k <= 1 || out.n == 0) return;
  harmonic_power_.assign(2 * static_cast<std::size_t>(k), 0.0);  // per harmonic: power sum, rows
  double total = 0;
  for (int i = 0; i < out.n; ++i) {
    const double p = std::norm(out.x[2 * static_cast<std::size_t>(i)]) + std::norm(out.x[2 * static_cast<std::size_t>(i) + 1]);
    const auto h = static_cast<std::size_t>(out.harmonic[static_cast<std::size_t>(i)] - band.first_harmonic);
    harmonic_power_[2 * h] += p;
    harmonic_power_[2 * h + 1] += 1;
    total += p;
  }
  if (!(total > 0) || !std::isfinite(total)) return;
  const double mean = total / out.n;
  for (int h = 0; h < k; ++h) {
    double& sum = harmonic_power_[2 * static_cast<std::size_t>(h)];
    const double rows = harmonic_power_[2 * static_cast<std::size_t>(h) + 1];
    sum = sum > 0 ? std::sqrt(mean * rows / sum) : 1.0;  // now the harmonic's scale
  }
  const auto nout = static_cast<std::size_t>(out.nout);
  for (int i = 0; i < out.n; ++i) {
    const auto r = static_cast<std::size_t>(i);
    const double s = harmonic_power_[2 * static_cast<std::size_t>(out.harmonic[r] - band.first_harmonic)];
    for (std::size_t o = 0; o < nout; ++o) out.y[r * nout + o] *= s;
    out.x[2 * r] *= s;
    out.x[2 * r + 1] *= s;
  }
}

}  // namespace qv::tf
