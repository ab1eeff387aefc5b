// Test support: a fresh folder of the running test under the temporary
// directory, removed with everything in it when the test is done (also when
// it fails), and a guard that makes a folder the working directory while a
// run is inside it, as a station's folder is for a real run. Folders are
// named after the test and the process, so the parallel CTest processes and
// the Release and sanitizer builds never share one.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

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

// Writes a text file, making its folder when needed.
inline void write_file(const fs::path& p, const std::string& text) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

// The whole content of a file ("" when it cannot be read).
inline std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An empty folder TempDir()/qv_<prefix>_<suite>_<test>_<pid>, gone with the object.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix;
    if (info) name += std::string("_") + info->test_suite_name() + "_" + info->name();
    for (char& ch : name)
      if (ch == '/') ch = '_';
    dir_ = fs::path(::testing::TempDir()) / ("qv_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return dir_; }
  fs::path operator/(const fs::path& name) const { return dir_ / name; }
  // Writes a file of the folder and returns its path as text.
  std::string write(const fs::path& name, const std::string& text) const {
    write_file(dir_ / name, text);
    return (dir_ / name).string();
  }

 private:
  fs::path dir_;
};

// A fixture whose tests run inside their own fresh station folder.
class StationFolderTest : public ::testing::Test {
 protected:
  explicit StationFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    folder_.emplace(prefix_);
    dir_ = folder_->path();
    inside_.emplace(dir_);
  }
  void TearDown() override {
    inside_.reset();
    folder_.reset();
  }
  static void write(const fs::path& p, const std::string& text) { write_file(p, text); }

  fs::path dir_;

 private:
  std::string prefix_;
  std::optional<TempFolder> folder_;
  std::optional<WorkingDirectory> inside_;
};

}  // namespace qv::testing_support
