// Test support: a window array over a vector of rows of six floats.
#pragma once

#include <vector>

#include "common/limits.hpp"
#include "common/window_array.hpp"

namespace qv::testing_support {

inline WindowArray view(std::vector<float>& rows, int nch) {
  return WindowArray(rows.data(), nch, static_cast<std::int64_t>(rows.size() / nchmx));
}

}  // namespace qv::testing_support
