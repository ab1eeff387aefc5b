// The window array as the processing steps see it: the samples of the window
// being processed, then in place its Fourier coefficients, for nch channels
// with the channel index fastest (leading dimension 6). Every step of a
// window takes this view, so the channel count is checked once, where the
// view is made.
#pragma once

#include <cstdint>

#include "common/limits.hpp"

namespace qv {

class WindowArray {
 public:
  // data holds `samples` rows of 6 floats; nch channels (1..6) of each row are
  // in use. Raises an Error for a channel count outside 1..6 or fewer than
  // one sample.
  WindowArray(float* data, int nch, std::int64_t samples);

  float* data() const { return data_; }
  int nch() const { return nch_; }
  // Rows the array holds: samples of each channel, or after the transform
  // twice the number of coefficients it can take.
  std::int64_t samples() const { return samples_; }

  // Real and imaginary part of coefficient k (1-based) of channel c.
  float& re(int c, int k) const { return data_[wre(c, k)]; }
  float& im(int c, int k) const { return data_[wim(c, k)]; }

  // Raises an Error naming `step` unless m samples (m >= 1) fit the array.
  void require_samples(std::int64_t m, const char* step) const;
  // Raises an Error naming `step` unless m coefficients (m >= 0) fit.
  void require_coefficients(int m, const char* step) const;

 private:
  float* data_;
  int nch_;
  std::int64_t samples_;
};

}  // namespace qv
