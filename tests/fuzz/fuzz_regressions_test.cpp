// Every committed seed (tests/fuzz/corpus/<harness>/) and every input that once
// found a defect (tests/fuzz/regressions/<harness>/) through its harness, so
// that the ordinary test run keeps the defects fixed and the seeds valid
// inputs of their harness. A harness ends quietly on the program's own Error;
// anything else fails the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harnesses.hpp"

namespace qv::fuzz {

void PrintTo(const Harness& h, std::ostream* os) { *os << h.name; }

namespace {

namespace fs = std::filesystem;

const fs::path kFuzz = fs::path(QV_SOURCE_DIR) / "tests" / "fuzz";

std::vector<fs::path> inputs(const std::string& harness) {
  std::vector<fs::path> found;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = kFuzz / kind / harness;
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) found.push_back(e.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

class FuzzInputs : public testing::TestWithParam<Harness> {};

TEST_P(FuzzInputs, EndInResultsOrTheProgramsError) {
  const std::vector<fs::path> files = inputs(GetParam().name);
  EXPECT_FALSE(files.empty()) << "no seeds for " << GetParam().name;
  for (const fs::path& p : files) {
    std::ifstream in(p, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
      GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    } catch (const std::exception& e) {
      ADD_FAILURE() << p.lexically_relative(kFuzz).string() << ": " << e.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzInputs, testing::ValuesIn(harnesses().begin(), harnesses().end()),
                         [](const testing::TestParamInfo<Harness>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::fuzz
