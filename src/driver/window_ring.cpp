#include "driver/window_ring.hpp"

namespace qv {

void WindowRing::allocate(int slots, std::size_t floats) {
  slots_.resize(static_cast<std::size_t>(slots));
  for (WindowSlot& s : slots_) {
    s.window.assign(floats, 0.0f);
    s.said.reserve(256);
  }
  reset();
}

void WindowRing::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  filled_ = taken_ = 0;
  closed_ = cutter_waits_ = storer_waits_ = false;
  stopped_.store(false);
}

WindowSlot* WindowRing::claim() {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::int64_t n = static_cast<std::int64_t>(slots_.size());
  if (filled_ - taken_ == n && !stopped()) {
    cutter_waits_ = true;
    free_.wait(lock, [&] { return stopped() || n - (filled_ - taken_) >= batch(); });
    cutter_waits_ = false;
  }
  if (stopped()) return nullptr;
  return &slots_[static_cast<std::size_t>(filled_ % n)];
}

void WindowRing::publish() {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++filled_;
    wake = storer_waits_ && filled_ - taken_ >= batch();
  }
  if (wake) ready_.notify_one();
}

void WindowRing::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  ready_.notify_one();
}

WindowSlot* WindowRing::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ == filled_ && !closed_) {
    storer_waits_ = true;
    ready_.wait(lock, [&] { return closed_ || filled_ - taken_ >= batch(); });
    storer_waits_ = false;
  }
  if (taken_ == filled_) return nullptr;
  return &slots_[static_cast<std::size_t>(taken_ % static_cast<std::int64_t>(slots_.size()))];
}

void WindowRing::release() {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++taken_;
    wake = cutter_waits_ && static_cast<std::int64_t>(slots_.size()) - (filled_ - taken_) >= batch();
  }
  if (wake) free_.notify_one();
}

void WindowRing::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_.store(true);
  }
  free_.notify_one();
}

}  // namespace qv
