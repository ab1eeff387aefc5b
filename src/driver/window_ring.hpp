// The ring of window slots between the two threads of a run: the thread that
// cuts windows from the decimation cascade fills a slot and hands it on; the
// thread that transforms and stores them takes the slots in the same order and
// gives them back. The slots are allocated once at set-up; a full ring holds
// the cutting thread back, an empty one the storing thread. A thread held back
// is woken only when half the ring is there for it (or the ring closes), so
// that the two do not wake each other for every window.
//
//   window_ring_allocate(ring, slots, floats)   at set-up
//   claim / publish / close                     the cutting thread
//   next / release / stop                       the storing thread
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "driver/window_schedule.hpp"

namespace qv {

// An accepted window as it was cut: its samples (rows of 6 floats, as the
// window steps take them), its level and grid number, where it lay, and the
// console text said since the window before it, which is written before the
// window is stored.
struct WindowSlot {
  std::vector<float> window;
  int lev = 0;
  int number = 0;
  ExtractedWindow cut{};
  std::string said;
};

class WindowRing {
 public:
  // The slots a run uses: `slots` of `floats` floats each.
  void allocate(int slots, std::size_t floats);
  int slots() const { return static_cast<int>(slots_.size()); }
  // Empty and open again, for a new run of the loop.
  void reset();

  // The next free slot, waiting while all are taken; nullptr once the
  // storing thread has stopped.
  WindowSlot* claim();
  // Hands the claimed slot on.
  void publish();
  // No more slots come; the storing thread ends when it has taken the rest.
  void close();

  // The next filled slot, waiting while there is none; nullptr once the ring
  // is closed and empty.
  WindowSlot* next();
  // Gives the slot next returned back.
  void release();
  // The storing thread gives up (on an error): claim returns nullptr from now on.
  void stop();
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  std::int64_t batch() const { return (static_cast<std::int64_t>(slots_.size()) + 1) / 2; }

  std::vector<WindowSlot> slots_;
  std::mutex mutex_;
  std::condition_variable free_, ready_;  // the cutting thread waits on free_, the storing thread on ready_
  std::int64_t filled_ = 0;  // slots published so far
  std::int64_t taken_ = 0;   // slots released so far
  bool closed_ = false;
  bool cutter_waits_ = false, storer_waits_ = false;
  std::atomic<bool> stopped_{false};
};

}  // namespace qv
