// What a run must not leave behind when Ctrl-C (SIGINT), a kill (SIGTERM) or
// a closed terminal (SIGHUP) ends it: its lock file, and the temporary files
// that carry a name where the file system refuses unnamed ones. The handlers
// remove every name registered here and then end the process by the same
// signal, so a shell sees the conventional status 130, 143 or 129 and a
// script that started the run knows it was interrupted. A handler may only
// call async-signal-safe functions (unlink, sigaction, raise), so the names
// wait in buffers reserved before the run starts.
//
//   install_interrupt_cleanup()   the handlers, once, from main
//   InterruptName                 one name the handlers remove while it is set
//   InterruptsHeld                the signals held back while a few steps must
//                                 happen together (a file created and its name
//                                 registered; the result put in place)
#pragma once

#include <string>

namespace qv {

// Installs the handlers of SIGINT, SIGTERM and SIGHUP. A signal the process
// was started with ignored (nohup, a background job of a script) stays
// ignored.
void install_interrupt_cleanup();

// One name the handlers remove while it is set. Names are taken as given:
// a relative one is resolved against the working folder, which the program
// never changes.
class InterruptName {
 public:
  InterruptName() = default;
  ~InterruptName() { clear(); }
  InterruptName(const InterruptName&) = delete;
  InterruptName& operator=(const InterruptName&) = delete;

  // Registers path. A lock is removed after every other name, so that it
  // lasts as long as anything it protects. Raises an Error when the name is
  // longer than a buffer or every buffer is in use.
  void set(const std::string& path, bool lock = false);
  // The name is no longer removed (it was put in place or removed already).
  void clear();

 private:
  int slot_ = -1;
};

// While an object lives, SIGINT, SIGTERM and SIGHUP are held back (they wait,
// they are not lost); when it ends, one that came meanwhile acts.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

  // Lets a signal that has come act now (its handler ends the process), then
  // holds them back again.
  void let_pending_act();
  // Takes away every signal that has come, so that none acts when the object
  // ends; returns whether there was one.
  bool discard_pending();

 private:
  bool was_blocked_[3] = {};  // blocked already before (left so at the end)
};

}  // namespace qv
