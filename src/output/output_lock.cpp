#include "output/output_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/error.hpp"

namespace qv {

namespace {

bool same_file(int fd, const std::string& path) {
  struct stat mine {}, named {};
  return ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
         mine.st_ino == named.st_ino;
}

// "process 1234 on host node7" from the holder's lock file, or "" when it
// has not written it yet.
std::string holder_of(int fd) {
  char text[256] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  long pid = 0;
  char host[sizeof text] = {};
  if (n <= 0 || std::sscanf(text, "%ld %255s", &pid, host) != 2) return "";
  return "process " + std::to_string(pid) + " on host " + host;
}

std::string this_run() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == 0) std::strcpy(host, "unknown");
  return std::to_string(::getpid()) + " " + host + "\n";
}

}  // namespace

bool OutputLock::take(const std::string& result) {
  release();
  path_ = result + ".lock";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const InterruptsHeld held;  // the lock file is registered before a signal acts
    bool created = true;
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // removed by a run that has just ended
    }
    if (fd < 0)
      throw Error("cannot open the lock file \"" + path_ + "\" of the Fourier-coefficient file \"" + result +
                  "\" (" + std::strerror(errno) + "); the output folder must be writable");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      if (e == EWOULDBLOCK) {
        const std::string holder = holder_of(fd);
        ::close(fd);
        throw Error("the Fourier-coefficient file \"" + result + "\" is being written by another run" +
                    (holder.empty() ? "" : " (" + holder + ")") + ", which holds its lock file \"" + path_ +
                    "\"; this run stops and changes nothing: run it again when the other has ended");
      }
      // No locks on this file system (ENOLCK, EOPNOTSUPP, EINVAL).
      if (created) ::unlink(path_.c_str());
      ::close(fd);
      return false;
    }
    // A run that was ending may have removed the file between our open and
    // our lock: that lock protects nothing, and a third run may hold the
    // new file's. Start again.
    if (!same_file(fd, path_)) {
      ::close(fd);
      continue;
    }
    const std::string me = this_run();
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, me.data(), me.size(), 0) < 0) {
      // The holder's text only serves the message of a refused run.
    }
    guard_.set(path_, true);
    fd_ = fd;
    return true;
  }
  throw Error("cannot lock the lock file \"" + path_ + "\" of the Fourier-coefficient file \"" + result +
              "\": other runs keep replacing it");
}

void OutputLock::release() {
  if (fd_ < 0) return;
  const InterruptsHeld held;
  // Removed while still locked: a run that opened it meanwhile finds, once
  // it has the lock, that the file is no longer the one under the name.
  if (same_file(fd_, path_)) ::unlink(path_.c_str());
  guard_.clear();
  ::close(fd_);
  fd_ = -1;
}

}  // namespace qv
