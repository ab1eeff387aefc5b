// The lock a run holds on its output while it writes it, so that a second
// run on the same station's output (a survey job submitted twice, two
// terminals) stops at once instead of racing the first.
//
// The rule. The lock is an advisory flock on a lock file beside the result,
// "<Fourier-coefficient file>.lock" (site1.f5.lock), taken when the file is
// set up and given up after the result is in place or the run has failed:
// - It locks the station's output, not the folder: stations that share an
//   output folder have their own lock files and never block each other.
// - It is not the result itself that is locked: the result is replaced by a
//   rename, so a lock on it would be a lock on the old file, and the first
//   run of a station has no file to lock.
// - The lock belongs to the open file: the system lets go of it however the
//   run ends. The run removes the lock file when it ends, also on SIGINT,
//   SIGTERM and SIGHUP; only a SIGKILL (or a crash) leaves the file behind,
//   unlocked and harmless: the next run takes it over.
// - A run that has locked the file checks that it is still the one under the
//   name (a run that was ending may just have removed it) and otherwise
//   starts again, so two runs never both hold the lock of one output.
// - On NFS, Linux implements flock by the server's byte-range locks, which
//   hold between hosts; mounted with local_lock=flock (or all) they hold on
//   one host only. The lock is then the first safeguard, not the only one:
//   every run writes private files and puts each in place by a rename, so a
//   file under its final name is always one whole run's, whatever the lock.
//   Where the file system has no locks at all, the run goes on without one.
//
//   OutputLock::take      the lock of an output, or an Error naming the holder
//   OutputLock::release   removes the lock file and lets go
#pragma once

#include <string>

#include "output/interrupt_cleanup.hpp"

namespace qv {

class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock() { release(); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  // Takes the lock of the output `result` (the path of the Fourier-coefficient
  // file): its lock file is created when missing, locked, and holds this
  // process's number and host. Raises an Error naming the result and the
  // lock file when another run holds it, or when the lock file cannot be
  // created. Returns false when the file system offers no locks; the run
  // then goes on without one.
  bool take(const std::string& result);
  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Removes the lock file and lets go of the lock; nothing when not held.
  void release();

 private:
  std::string path_;
  int fd_ = -1;
  InterruptName guard_;
};

}  // namespace qv
