#include "output/interrupt_cleanup.hpp"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/error.hpp"

namespace qv {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A run registers at most its lock and a few named temporary files; the
// buffers are static storage, there before the first name.
constexpr int kSlots = 16;
constexpr std::size_t kNameBytes = 4096;  // PATH_MAX on Linux, with the NUL

enum SlotState : int { kFree = 0, kTaken = 1, kName = 2, kLock = 3 };
char g_names[kSlots][kNameBytes];
std::atomic<int> g_state[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slot states");

sigset_t held_set() {
  sigset_t s;
  sigemptyset(&s);
  for (int sig : kSignals) sigaddset(&s, sig);
  return s;
}

extern "C" void on_interrupt(int sig) {
  // Temporary files first, the lock last.
  for (int want : {kName, kLock})
    for (int i = 0; i < kSlots; ++i)
      if (g_state[i].load() == want) ::unlink(g_names[i]);
  // End by the same signal with its default action, so that the parent sees
  // what ended the run.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, sig);
  ::sigprocmask(SIG_UNBLOCK, &s, nullptr);
  ::_exit(128 + sig);  // not reached: the signal has ended the process
}

}  // namespace

void install_interrupt_cleanup() {
  for (int sig : kSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    // One handler at a time: a second signal waits until the first has
    // removed the names and ended the process.
    sa.sa_mask = held_set();
    ::sigaction(sig, &sa, nullptr);
  }
}

void InterruptName::set(const std::string& path, bool lock) {
  clear();
  if (path.size() >= kNameBytes)
    throw Error("the name \"" + path + "\" is longer than " + std::to_string(kNameBytes - 1) + " bytes");
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_state[i].compare_exchange_strong(expected, kTaken)) continue;
    std::memcpy(g_names[i], path.c_str(), path.size() + 1);
    g_state[i].store(lock ? kLock : kName);  // the handler sees the name only now, whole
    slot_ = i;
    return;
  }
  throw Error("more than " + std::to_string(kSlots) + " temporary files at once; cannot register \"" + path + "\"");
}

void InterruptName::clear() {
  if (slot_ < 0) return;
  g_state[slot_].store(kFree);
  slot_ = -1;
}

InterruptsHeld::InterruptsHeld() {
  const sigset_t s = held_set();
  sigset_t before;
  ::sigprocmask(SIG_BLOCK, &s, &before);
  for (int k = 0; k < 3; ++k) was_blocked_[k] = sigismember(&before, kSignals[k]) == 1;
}

InterruptsHeld::~InterruptsHeld() {
  sigset_t s;
  sigemptyset(&s);
  for (int k = 0; k < 3; ++k)
    if (!was_blocked_[k]) sigaddset(&s, kSignals[k]);
  ::sigprocmask(SIG_UNBLOCK, &s, nullptr);
}

void InterruptsHeld::let_pending_act() {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return;
  bool any = false;
  for (int k = 0; k < 3; ++k) any |= !was_blocked_[k] && sigismember(&pending, kSignals[k]) == 1;
  if (!any) return;
  sigset_t s;
  sigemptyset(&s);
  for (int k = 0; k < 3; ++k)
    if (!was_blocked_[k]) sigaddset(&s, kSignals[k]);
  ::sigprocmask(SIG_UNBLOCK, &s, nullptr);
  ::sigprocmask(SIG_BLOCK, &s, nullptr);
}

bool InterruptsHeld::discard_pending() {
  sigset_t s;
  sigemptyset(&s);
  for (int k = 0; k < 3; ++k)
    if (!was_blocked_[k]) sigaddset(&s, kSignals[k]);
  const timespec now{0, 0};
  bool any = false;
  while (::sigtimedwait(&s, nullptr, &now) > 0) any = true;
  return any;
}

}  // namespace qv
