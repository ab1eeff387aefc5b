// Test support: the programs of this build (qel_vort, fcdump, the station
// generators), for tests that run them as a user runs them. The one place
// that knows where the build folder is.
#pragma once

#include <filesystem>
#include <string>

namespace qv::testing_support {

inline std::filesystem::path built_program(const std::string& name) {
  return std::filesystem::path(QV_BINARY_DIR) / name;
}

}  // namespace qv::testing_support
