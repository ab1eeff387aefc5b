// The Fourier coefficients a transfer function is estimated from: one or
// more coefficient files of one station (daily files of one set-up are
// estimated as one), each with its metadata file when there is one, read
// one band at a time, never more: the file is sorted by level and
// frequency, so a band is a few blocks, and its rows are formed straight
// from them in the frame of the estimate.
//
//   CoefficientSource          opens the files and checks that they belong together
//   CoefficientSource::rows    the rows of one band, in the frame
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/fc_metadata.hpp"
#include "output/fc_reader.hpp"
#include "transfer/bands.hpp"
#include "transfer/frame.hpp"
#include "transfer/transfer_function.hpp"

namespace qv::tf {

// Which windows to use: those whose coefficients refer to a time within
// [from, to] (seconds since 1970, UTC); needs the metadata files.
struct WindowSpan {
  std::optional<double> from_unix_s, to_unix_s;
};

class CoefficientSource {
 public:
  // Opens every file, reads its metadata file and indexes its blocks.
  // Raises an Error naming the file when one cannot be read, when its
  // metadata belongs to another run, or when the files do not share one
  // set-up (channels, levels, window lengths, sample intervals) or hold the
  // same windows twice. warnings collects what the user should know.
  CoefficientSource(const std::vector<std::string>& paths, std::vector<std::string>& warnings);
  ~CoefficientSource();
  CoefficientSource(const CoefficientSource&) = delete;
  CoefficientSource& operator=(const CoefficientSource&) = delete;

  // The channels and levels (windows summed over the files).
  const std::vector<ChannelInfo>& channels() const { return channels_; }
  const std::vector<LevelInfo>& levels() const { return levels_; }
  const LevelInfo& level(int level_id) const;
  // True when every file has its metadata file; the first file's then.
  bool has_metadata() const { return has_metadata_; }
  const nlohmann::json& metadata() const { return meta_.front().doc; }
  const std::vector<std::string>& paths() const { return paths_; }

  // Chooses the channels of every role and the frame: x at zrot_deg east of
  // the north the orientations count from. Raises an Error as assign_roles.
  void set_frame(const Roles& given, double zrot_deg);
  const Roles& roles() const { return roles_; }
  int nout() const { return roles_.hz ? 3 : 2; }

  // Limits the windows to a time span (needs the metadata; an Error says so).
  void set_span(const WindowSpan& span);

  // The rows of a band, in the frame: every window of every file with a
  // coefficient at each harmonic of the band, a row per (window, harmonic).
  // A coefficient that could not be packed leaves its row out. Each
  // harmonic's rows are scaled to the band's mean magnetic power, so that
  // every harmonic weighs alike in the estimate (the estimate refers to the
  // band's centre, whatever the slope of the source spectrum). Reuses the
  // storage of `rows`.
  void rows(const Band& band, BandRows& rows);

  // First and last time of the windows used (needs the metadata); NaN without.
  double first_unix_s() const { return first_unix_; }
  double last_unix_s() const { return last_unix_; }

 private:
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<FcReader>> files_;
  std::vector<FcMetadata> meta_;
  bool has_metadata_ = false;
  std::vector<ChannelInfo> channels_;
  std::vector<LevelInfo> levels_;
  Roles roles_;
  std::array<double, 4> me_{}, mh_{};  // frame transforms of the E and the H pair
  WindowSpan span_;
  double first_unix_, last_unix_;
  std::vector<FcCoefRecord> recs_;
  // Per file, by level: added to its window numbers so that the windows of
  // different files are never taken for one.
  std::vector<std::map<int, int>> window_base_;
  std::vector<double> harmonic_power_;  // per harmonic of a band: power sum and rows, then its scale

  void check_same_setup() const;
  void count_level_windows(LevelInfo& l);
  void equalise_harmonics(const Band& band, BandRows& rows);
};

}  // namespace qv::tf
