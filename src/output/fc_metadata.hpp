// Reading the metadata file that qel_vort writes beside a Fourier-coefficient
// file ("<file>.json"): it is taken only when its size and hash agree with
// the coefficient file, so that the metadata of another run is never
// applied, and it gives the UTC time of every window number.
//
//   read_fc_metadata   the metadata of a coefficient file, or why there is none
//   window_unix_s      the time a window's coefficients refer to
//   unix_to_iso        that time as ISO 8601 text
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace qv {

// The rule of one level: window N's coefficients refer to
// window1_unix_s + (N - 1) step_s seconds since 1970 (UTC).
struct FcWindowTime {
  double window1_unix_s = 0;
  double step_s = 0;
};

struct FcMetadata {
  bool present = false;
  std::string path;        // <file>.json
  std::string why_absent;  // when not present: a sentence for the user
  nlohmann::json doc;      // the whole file, when present
  std::map<int, FcWindowTime> window_time;  // by level identifier, for the levels that have windows on a grid
};

// Reads "<fc_path>.json". A missing file is no error: present stays false and
// why_absent says so. Raises an Error naming the file when it cannot be read,
// is not the metadata of this format and version, or names a coefficient
// file of another size or hash than the one at fc_path (which is read whole
// for its hash).
FcMetadata read_fc_metadata(const std::string& fc_path);

inline double window_unix_s(const FcWindowTime& t, std::int64_t window) {
  return t.window1_unix_s + static_cast<double>(window - 1) * t.step_s;
}

// Seconds since 1970 as "2026-01-02T03:04:05.123456Z" (decimals digits).
std::string unix_to_iso(double unix_s, int decimals);

}  // namespace qv
