// What the harnesses share: taking an input apart, a scratch folder of the
// process for the readers that open files by name, a FILE* over bytes in
// memory, and the rule that the program's own Error ends an input quietly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "fuzz/harnesses.hpp"

namespace qv::fuzz {

// An input taken apart from its front.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  // The next byte; 0 once the input is used up.
  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // Up to n bytes.
  std::string_view bytes(std::size_t n) {
    const std::string_view b = rest_.substr(0, n);
    rest_.remove_prefix(b.size());
    return b;
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// The first n - 1 parts of a text cut at lines "%%", and the rest as the last
// part (missing parts are empty). Each part keeps the line end before its cut.
std::vector<std::string_view> split_parts(std::string_view text, std::size_t n);

// A folder of this process under the temporary directory (TMPDIR), or the
// folder QV_FUZZ_SCRATCH names, made on first use and removed with everything
// in it when the process ends.
const std::filesystem::path& scratch();
// Writes bytes to a file (its folder is made when needed) and returns the path.
std::string write_file(const std::filesystem::path& path, std::string_view bytes);
// Removes a folder of the scratch folder with its files and makes it anew, empty.
std::filesystem::path fresh_folder(const std::string& name);

// Makes a folder the working directory while it lives.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& dir);
  ~InFolder();
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  std::filesystem::path old_;
};

// A read-only FILE* over a copy of bytes in memory that seeks and reads like
// a file on disk (also past its end); the reader that takes it closes it.
// Never null.
std::FILE* memory_file(std::string_view bytes);

// A console on string streams, with no answers to prompts (end of input).
struct QuietConsole {
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

// With QV_FUZZ_VERBOSE set in the environment the harnesses tell on standard
// error how each input ended (useful when writing seeds).
bool verbose();

// Runs one input: the program's own Error is an expected end; other
// exceptions, and Finding, leave the harness.
template <class F>
int expect_errors(F&& body) {
  try {
    body();
    if (verbose()) std::fputs("input read to the end\n", stderr);
  } catch (const Error& e) {
    if (verbose()) std::fprintf(stderr, "Error: %s\n", e.what());
  }
  return 0;
}

[[noreturn]] void finding(const std::string& what);

}  // namespace qv::fuzz
