// Test support: whether the file system of a folder gives the program unnamed
// files (O_TMPFILE), and the sorted names a folder holds. Where it does not
// (NFS, older kernels), a run's files carry unique names while it runs, and
// tests that look at a folder during a run expect those.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "output/private_file.hpp"

namespace qv::testing_support {

inline bool unnamed_files_in(const std::filesystem::path& dir) {
  const PrivateFile f = create_private_file((dir / "probe").string(), ".part", "probe");
  ::close(f.fd);
  if (!f.name.empty()) ::unlink(f.name.c_str());
  return f.name.empty();
}

inline std::vector<std::string> names_in(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Makes every private file a named one while it lives.
class NamedPrivateFiles {
 public:
  NamedPrivateFiles() { force_named_private_files(true); }
  ~NamedPrivateFiles() { force_named_private_files(false); }
  NamedPrivateFiles(const NamedPrivateFiles&) = delete;
  NamedPrivateFiles& operator=(const NamedPrivateFiles&) = delete;
};

}  // namespace qv::testing_support
