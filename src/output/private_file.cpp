#include "output/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "common/error.hpp"

namespace qv {

namespace {

bool g_force_named = false;

// Unique names must differ between runs on one host and between hosts that
// share a folder, so the X's are random, not a process number.
std::mt19937_64& name_generator() {
  static std::mt19937_64 gen = [] {
    std::random_device rd;
    const auto t = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seq{rd(), rd(), static_cast<unsigned>(::getpid()), static_cast<unsigned>(t),
                      static_cast<unsigned>(t >> 32)};
    return std::mt19937_64(seq);
  }();
  return gen;
}

std::string folder_of(const std::string& beside) {
  const std::string f = std::filesystem::path(beside).parent_path().string();
  return f.empty() ? "." : f;
}

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

void force_named_private_files(bool on) { g_force_named = on; }

std::string unique_name(const std::string& beside, const std::string& suffix,
                        const std::function<int(const char*)>& make) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = beside + ".XXXXXX" + suffix;
  char* x = name.data() + beside.size() + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t r = name_generator()();
    for (int i = 0; i < 6; ++i, r /= 62) x[i] = kChars[r % 62];
    if (make(name.c_str()) == 0) return name;
    if (errno != EEXIST) return "";
  }
  errno = EEXIST;
  return "";
}

PrivateFile create_private_file(const std::string& beside, const std::string& suffix, const std::string& what) {
  const std::string folder = folder_of(beside);
  if (!g_force_named) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // The file can later be given a name only through /proc (linking by the
    // descriptor itself needs a privilege); without /proc it stays named.
    if (fd >= 0 && ::access(proc_path(fd).c_str(), F_OK) == 0) return {fd, ""};
    if (fd >= 0) ::close(fd);
  }
  PrivateFile f;
  f.name = unique_name(beside, suffix, [&](const char* n) {
    f.fd = ::open(n, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return f.fd < 0 ? -1 : 0;
  });
  if (f.name.empty())
    throw Error("cannot create the " + what + " \"" + beside + "\" in the folder \"" + folder + "\" (" +
                std::strerror(errno) + "); the output folder must exist and be writable");
  return f;
}

std::string name_private_file(int fd, const std::string& beside, const std::string& suffix) {
  const std::string proc = proc_path(fd);
  return unique_name(beside, suffix, [&](const char* n) {
    int r = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, n, AT_SYMLINK_FOLLOW);
    if (r != 0 && errno != EEXIST) r = ::linkat(fd, "", AT_FDCWD, n, AT_EMPTY_PATH);
    return r;
  });
}

}  // namespace qv
