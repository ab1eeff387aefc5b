#include "common/window_array.hpp"

#include <string>

#include "common/error.hpp"

namespace qv {

WindowArray::WindowArray(float* data, int nch, std::int64_t samples) : data_(data), nch_(nch), samples_(samples) {
  if (nch < 1 || nch > nchmx)
    throw Error("window array: channel count " + std::to_string(nch) + " is outside 1.." + std::to_string(nchmx));
  if (data == nullptr || samples < 1)
    throw Error("window array: " + std::to_string(samples) + " samples; at least one is needed");
}

void WindowArray::require_samples(std::int64_t m, const char* step) const {
  if (m < 1 || m > samples_)
    throw Error(std::string(step) + ": " + std::to_string(m) + " samples asked of a window array of " +
                std::to_string(samples_));
}

void WindowArray::require_coefficients(int m, const char* step) const {
  if (m < 0 || 2 * std::int64_t(m) > samples_)
    throw Error(std::string(step) + ": " + std::to_string(m) + " coefficients asked of a window array of " +
                std::to_string(samples_) + " rows");
}

}  // namespace qv
