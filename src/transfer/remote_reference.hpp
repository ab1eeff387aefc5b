// The remote reference of a transfer-function estimate: a second station,
// recorded at the same time, whose horizontal magnetic field serves as the
// instruments of the regression (Gamble, Goubau & Clarke 1979). Noise in the
// local magnetic channels biases a single-station impedance low; noise at a
// distant station is independent of it and averages out of the cross powers
// with the reference. Its windows are paired with the local ones by time:
// the two recordings must lie on one grid of windows (the same sample
// interval, window length and step per level, and window times a whole
// number of steps apart), and then a local window number plus a shift per
// level names the reference window of the same time.
//
//   RemoteReference          opens the reference's coefficient and metadata file
//   RemoteReference::shift   the window shift of one level, the grids checked
//   RemoteReference::holds   whether the reference has a window of a level
//   RemoteReference::load    the reference field of one harmonic of a level
//   RemoteReference::field   a window's reference field, of the harmonic loaded
#pragma once

#include <cstdint>
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

class RemoteReference {
 public:
  // Opens the file and its metadata file, which the pairing needs (an Error
  // says so without it), and notes the windows of every level.
  explicit RemoteReference(const std::string& path);
  ~RemoteReference();
  RemoteReference(const RemoteReference&) = delete;
  RemoteReference& operator=(const RemoteReference&) = delete;

  const std::string& path() const { return path_; }
  const nlohmann::json& metadata() const { return meta_.doc; }
  const std::vector<ChannelInfo>& channels() const { return channels_; }

  // Chooses Hx and Hy (as given, or by kinds and orientations) and the
  // transform of the pair into the estimate's frame, x at zrot_deg east of
  // the north the reference's orientations count from.
  void set_frame(const Roles& given, double zrot_deg);
  const Roles& roles() const { return roles_; }

  // The number to add to a window number of `level` of the local file
  // (whose metadata is `local`) to name the reference window of the same
  // time; nullopt when the reference has no windows of the level. Raises an
  // Error naming the level when the grids differ: another sample interval,
  // window length or step, or window times a fraction of a step apart.
  std::optional<std::int64_t> shift(const FcMetadata& local, const std::string& local_path,
                                    const LevelInfo& level) const;
  bool holds(int level_id, std::int64_t window) const;
  std::int64_t windows(int level_id) const;  // windows of the level in the file

  // Reads the reference's coefficients of one harmonic of a level; field
  // then gives a window's Hx, Hy in the frame, false when it has none.
  void load(int level_id, int harmonic);
  bool field(std::int64_t window, cplx& hx, cplx& hy) const;

 private:
  struct Grid {
    int level_id = 0, nwin = 0;
    double dr = 0;
    std::int64_t lo = 0, hi = -1;  // window numbers of the widest block
    std::vector<char> present;     // per window number lo..hi
    std::int64_t count = 0;
  };
  const Grid* grid(int level_id) const;

  std::string path_;
  std::unique_ptr<FcReader> file_;
  FcMetadata meta_;
  std::vector<ChannelInfo> channels_;
  std::vector<Grid> grids_;
  Roles roles_;
  std::array<double, 4> mh_{};
  std::vector<FcCoefRecord> recs_;
  // The loaded harmonic: Hx, Hy per window number from loaded_lo_, and
  // whether the window has them.
  std::vector<cplx> table_;
  std::vector<char> valid_;
  std::int64_t loaded_lo_ = 0;
};

}  // namespace qv::tf
