// Decimation cascade. Level 1 holds the samples as read; every further level is
// made from the one before it by a short symmetric filter evaluated at every
// decfac-th sample. Each level keeps its samples in a circular level buffer
// from which the windows are cut. Decimated samples keep the absolute number of
// their centre input sample, and both the decimation centres and the window
// starts are tied to absolute sample numbers, so a record that starts later
// gives the same decimated samples and windows.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/dec_setup.hpp"
#include "common/limits.hpp"
#include "common/sample_block.hpp"

namespace qv {

// One decimation level: a circular buffer of `slots` sample rows.
struct LevelBuffer {
  int slots = 0;                    // slot count L of this level
  std::vector<std::int64_t> index;  // time mark of each slot: absolute number of its centre input sample
  std::vector<float> data;          // slot-major: data[slot * nch + c], and six more floats behind the last slot
  int wp = 0;                       // slot the next new sample of the level goes to
  int rw = 0;                       // window read pointer: slot where the next window starts
  int rd = 0;                       // decimation read pointer: centre slot of the next sample of the level above
  bool wrap_w = false;              // wrap flag of rw (availability rule)
  bool wrap_d = false;              // wrap flag of rd
  int aw = 0;                       // samples of this level from rw up to wp; stays 0 on levels without windows
};

struct Cascade {
  int nd = 0;           // levels in use
  int nch = 0;          // data channels per sample row
  float threshold = 0;  // missing-value threshold: filters use only values below it
  std::array<LevelBuffer, ndmx + 1> lev;  // levels 1..nd; index 0 unused
};

// Slots the level buffer of level lev needs: the longest stretch of its
// samples needed at one time (a window with its pre-whitening extension and
// the median neighbourhood on both sides, the decimation filter reach) plus
// the samples one input block (256 input samples) adds before the level is
// drained again. The set-up reader refuses set-ups that need more than
// 2097152 slots on a level.
std::int64_t level_slots(const DecSetup& s, int lev);

// Reserves the level buffers of a run, once at set-up, level_slots() slots
// per level. The set-up must have passed the checks of the set-up reader
// (factors, filter lengths, window steps and buffer sizes); a level that
// would still need more than 2097152 slots raises Error.
void cascade_allocate(Cascade& c, const DecSetup& s, int nch, float threshold);

// Availability rule: samples from read pointer a up to write pointer b in a
// buffer of L slots. A read pointer ahead of the write pointer offers nothing
// until the writer has passed it (wrap stays false until then).
int available_samples(int a, int b, int L, bool& wrap);

// Starts a stretch of contiguous data whose first sample has the absolute
// number first_sample (input samples): empties every level and places each
// level's first window start and first decimation centre on the absolute grid
// given by the rebased ianchor and iphase.
void decimation_setup(Cascade& c, const DecSetup& s, std::int64_t first_sample);

// Feeds one input block to level 1 and makes every new sample the higher levels
// can now have. real_samples selects blk.real, otherwise blk.ints (converted to
// single precision). Updates the window availability aw of every level.
void decimate_block(Cascade& c, const DecSetup& s, const SampleBlock& blk, bool real_samples);

}  // namespace qv
