#include "transfer/remote_reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/error.hpp"
#include "transfer/coefficient_source.hpp"

namespace qv::tf {

namespace {

std::string number_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

bool close(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b)); }

// What a metadata file says of the window grid of a level.
struct GridFacts {
  double reference_unix_s = 0;   // the recording's reference time
  double sample_interval_s = 0;  // of the recording
  std::int64_t step_samples = 0; // the level's step in input samples
  double window1_unix_s = 0;
  double step_s() const { return double(step_samples) * sample_interval_s; }
};

std::optional<GridFacts> read_grid_facts(const FcMetadata& m, int level_id);

// The same, an Error naming the file for values of the wrong type.
std::optional<GridFacts> grid_facts(const FcMetadata& m, int level_id) {
  try {
    return read_grid_facts(m, level_id);
  } catch (const nlohmann::json::exception& e) {
    throw Error("metadata file \"" + m.path + "\": its recording's reference time or level " +
                std::to_string(level_id) + "'s window grid cannot be read (" + e.what() + ")");
  }
}

std::optional<GridFacts> read_grid_facts(const FcMetadata& m, int level_id) {
  const auto at = m.window_time.find(level_id);
  if (at == m.window_time.end()) return std::nullopt;
  const nlohmann::json& rec = m.doc.at("recording");
  const nlohmann::json* ref = rec.contains("reference_time") ? &rec["reference_time"] : nullptr;
  if (!ref || !ref->is_object() || !ref->contains("unix_s") || !rec.at("sample_interval_s").is_number())
    return std::nullopt;
  GridFacts f;
  f.reference_unix_s = ref->at("unix_s").get<double>();
  f.sample_interval_s = rec.at("sample_interval_s").get<double>();
  f.window1_unix_s = at->second.window1_unix_s;
  for (const nlohmann::json& l : m.doc.at("levels"))
    if (l.at("level_id").get<int>() == level_id && l.contains("window_time") && l["window_time"].is_object())
      f.step_samples = l["window_time"].value("step_input_samples", std::int64_t(0));
  if (f.step_samples < 1) return std::nullopt;
  return f;
}

}  // namespace

RemoteReference::~RemoteReference() = default;

RemoteReference::RemoteReference(const std::string& path) : path_(path) {
  file_ = std::make_unique<FcReader>(path);
  meta_ = read_fc_metadata(path);
  if (!meta_.present)
    throw Error("remote reference " + path + ": " + meta_.why_absent +
                "; its windows are paired with the local ones by their times, which only the metadata file gives");
  channels_ = metadata_channels(meta_, path);
  const FcHeader& h = file_->header();
  std::size_t widest_range = 0;
  for (int i = 1; i <= h.nlevels; ++i) {
    Grid g;
    g.level_id = h.level_id[i];
    g.nwin = h.nwin[i];
    g.dr = metadata_dr(meta_, g.level_id, h.dr[i]);
    const FcBlockInfo* widest = nullptr;
    for (const FcBlockInfo& b : file_->blocks())
      if (b.level_id == g.level_id && b.n > 0 && (!widest || b.n > widest->n)) widest = &b;
    if (widest) {
      file_->read_records(*widest, recs_);
      g.lo = g.hi = recs_.front().window;
      for (const FcCoefRecord& r : recs_) g.lo = std::min<std::int64_t>(g.lo, r.window), g.hi = std::max<std::int64_t>(g.hi, r.window);
      g.present.assign(std::size_t(g.hi - g.lo + 1), 0);
      for (const FcCoefRecord& r : recs_) g.present[std::size_t(r.window - g.lo)] = 1;
      g.count = std::count(g.present.begin(), g.present.end(), char(1));
      widest_range = std::max(widest_range, g.present.size());
    }
    grids_.push_back(std::move(g));
  }
  // The lookup of one harmonic, sized once for the widest level.
  table_.reserve(2 * widest_range);
  valid_.reserve(widest_range);
}

const RemoteReference::Grid* RemoteReference::grid(int level_id) const {
  for (const Grid& g : grids_)
    if (g.level_id == level_id) return &g;
  return nullptr;
}

void RemoteReference::set_frame(const Roles& given, double zrot_deg) {
  roles_ = assign_magnetic_pair(channels_, given);
  auto az = [&](int number) { return channels_[static_cast<std::size_t>(number - 1)].azimuth_deg; };
  mh_ = frame_transform(az(roles_.hx), az(roles_.hy), zrot_deg, "the remote reference's horizontal magnetic channels");
}

std::optional<std::int64_t> RemoteReference::shift(const FcMetadata& local, const std::string& local_path,
                                                    const LevelInfo& level) const {
  const std::string where = "remote reference " + path_ + ", level " + std::to_string(level.level_id) + ": ";
  const Grid* g = grid(level.level_id);
  const std::optional<GridFacts> theirs = grid_facts(meta_, level.level_id);
  if (!g || g->count == 0 || !theirs) return std::nullopt;
  const std::optional<GridFacts> mine = grid_facts(local, level.level_id);
  if (!mine)
    throw Error(where + local_path + " states no reference time or window grid for the level, and windows are "
                "paired by time");
  if (g->nwin != level.nwin || !close(g->dr, level.dr) || mine->step_samples != theirs->step_samples ||
      !close(mine->sample_interval_s, theirs->sample_interval_s))
    throw Error(where + "windows of " + std::to_string(g->nwin) + " samples at " + number_text(g->dr) + " s every " +
                number_text(theirs->step_s()) + " s, and in " + local_path + " of " + std::to_string(level.nwin) +
                " samples at " + number_text(level.dr) + " s every " + number_text(mine->step_s()) +
                " s: the two recordings need one decimation set-up to be paired window by window");
  // Window numbers count from each recording's reference time in steps of
  // whole input samples: the grids coincide when the reference times lie a
  // whole number of steps apart, to a thousandth of a sample.
  const double step = mine->step_s();
  const double offset = mine->reference_unix_s - theirs->reference_unix_s;
  const double steps = offset / step;
  const double whole = std::round(steps);
  if (std::fabs(offset - whole * step) > 1e-3 * mine->sample_interval_s)
    throw Error(where + "the reference times of " + local_path + " and of the reference lie " + number_text(offset) +
                " s apart, " + number_text(steps) + " steps of " + number_text(step) +
                " s, not a whole number: no window of one refers to the time of a window of the other");
  // The stated window times agree (to rounding of the time of a far window).
  if (std::fabs(mine->window1_unix_s - theirs->window1_unix_s - whole * step) > 0.5 * step)
    throw Error(where + "the window times of " + local_path + " and of the reference disagree with their reference "
                "times by more than half a step: the grids are not placed alike");
  return static_cast<std::int64_t>(whole);
}

bool RemoteReference::holds(int level_id, std::int64_t window) const {
  const Grid* g = grid(level_id);
  return g && window >= g->lo && window <= g->hi && g->present[std::size_t(window - g->lo)];
}

std::int64_t RemoteReference::windows(int level_id) const {
  const Grid* g = grid(level_id);
  return g ? g->count : 0;
}

void RemoteReference::load(int level_id, int harmonic) {
  const Grid* g = grid(level_id);
  const std::size_t range = g ? g->present.size() : 0;
  loaded_lo_ = g ? g->lo : 0;
  table_.assign(2 * range, cplx{});
  valid_.assign(range, 0);
  if (!range) return;
  const int c_hx = roles_.hx - 1, c_hy = roles_.hy - 1;
  for (const FcBlockInfo& b : file_->blocks()) {
    if (b.level_id != level_id || b.findex != harmonic || b.n == 0) continue;
    file_->read_records(b, recs_);
    for (const FcCoefRecord& r : recs_) {
      if (r.window < g->lo || r.window > g->hi) continue;
      float xr = 0, xi = 0, yr = 0, yi = 0;
      decode_fc(r.word[c_hx], b.scale[c_hx], xr, xi);
      decode_fc(r.word[c_hy], b.scale[c_hy], yr, yi);
      if (std::isnan(xr) || std::isnan(xi) || std::isnan(yr) || std::isnan(yi)) continue;
      const cplx a(xr, xi), c(yr, yi);
      const auto k = std::size_t(r.window - g->lo);
      table_[2 * k] = mh_[0] * a + mh_[1] * c;
      table_[2 * k + 1] = mh_[2] * a + mh_[3] * c;
      valid_[k] = 1;
    }
  }
}

bool RemoteReference::field(std::int64_t window, cplx& hx, cplx& hy) const {
  const std::int64_t k = window - loaded_lo_;
  if (k < 0 || k >= static_cast<std::int64_t>(valid_.size()) || !valid_[std::size_t(k)]) return false;
  hx = table_[2 * std::size_t(k)];
  hy = table_[2 * std::size_t(k) + 1];
  return true;
}

}  // namespace qv::tf
