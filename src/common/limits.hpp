// Compile-time limits of a run. Every run-wide array is sized from the run's
// own set-up; these constants are the largest sizes a set-up may ask for.
#pragma once

#include <cstdint>

namespace qv {

inline constexpr int ndmx = 10;          // decimation levels
inline constexpr int nwmx = 524288;      // longest window, samples of its level
inline constexpr int nfcmx = 5;          // decimation filter half-length (taps on one side + centre)
inline constexpr int nchmx = 6;          // channels in the window array, response table, output store
inline constexpr int nrowmx = 7;         // values per sample row: index column + 6 channels
inline constexpr int nslotmx = 2097152;  // slots of a level buffer
inline constexpr int nblk = 256;         // sample rows one block reader call delivers at most
inline constexpr int nwspare = 40;       // spare samples behind a window for pre-whitening
inline constexpr int pwlenmx = nwspare + 1;  // longest pre-whitening filter
inline constexpr int nspanmx = 63;       // longest median neighbourhood
inline constexpr int nbadcap = 100;      // bad-record intervals per level

// Window array: channel index fastest with leading dimension nchmx. Sample t
// (0-based) of channel c (0-based) lives at t * nchmx + c. After the transform,
// frequency index k (1-based) holds its real parts at column 2k-2 and its
// imaginary parts at column 2k-1 (0-based columns).
inline constexpr int wld = nchmx;
inline constexpr std::int64_t widx(int c, std::int64_t t) { return t * wld + c; }
inline constexpr std::int64_t wre(int c, int k) { return std::int64_t(2 * k - 2) * wld + c; }
inline constexpr std::int64_t wim(int c, int k) { return std::int64_t(2 * k - 1) * wld + c; }

}  // namespace qv
