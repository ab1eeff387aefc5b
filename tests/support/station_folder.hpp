// Test support: a fresh folder per test under the temporary directory, made
// the working directory while the test runs, as a station's folder is for a
// run. CTest runs tests in parallel processes, so every test gets its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace qv::testing_support {

namespace fs = std::filesystem;

// Enters a folder; returns to the previous working directory when destroyed,
// also when the test fails with an exception.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~WorkingDirectory() {
    std::error_code ec;
    fs::current_path(old_, ec);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path old_;
};

// An empty folder named after the test (TempDir()/qv_<prefix>_<test>).
inline fs::path fresh_test_folder(const std::string& prefix) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& ch : name)
    if (ch == '/') ch = '_';
  fs::path dir = fs::path(::testing::TempDir()) / ("qv_" + prefix + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Writes a text file, making its folder when needed.
inline void write_file(const fs::path& p, const std::string& text) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

// A fixture whose tests run inside their own fresh station folder.
class StationFolderTest : public ::testing::Test {
 protected:
  explicit StationFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    dir_ = fresh_test_folder(prefix_);
    inside_.emplace(dir_);
  }
  void TearDown() override {
    inside_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static void write(const fs::path& p, const std::string& text) { write_file(p, text); }

  fs::path dir_;

 private:
  std::string prefix_;
  std::optional<WorkingDirectory> inside_;
};

}  // namespace qv::testing_support
