// Test support: a program run as a user runs it, through the shell inside a
// station's folder with nothing to answer at the console, and what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "support/station_folder.hpp"

namespace qv::testing_support {

// Runs cmd in folder with standard input from /dev/null; returns its exit
// status (-1 when it did not exit) and its standard and error output. The
// output is kept beside the folder, so the folder holds only what cmd wrote.
inline std::pair<int, std::string> run_in_folder(const fs::path& folder, const std::string& cmd) {
  const fs::path out = folder.parent_path() / (folder.filename().string() + ".out.txt");
  const std::string full = "cd '" + folder.string() + "' && " + cmd + " > '" + out.string() + "' 2>&1 < /dev/null";
  const int raw = std::system(full.c_str());
  std::string text = read_file(out);
  fs::remove(out);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::move(text)};
}

}  // namespace qv::testing_support
