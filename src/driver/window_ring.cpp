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
  closed_ = false;
  stopped_.store(false);
}

WindowSlot* WindowRing::claim() {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::int64_t n = static_cast<std::int64_t>(slots_.size());
  changed_.wait(lock, [&] { return stopped() || filled_ - taken_ < n; });
  if (stopped()) return nullptr;
  return &slots_[static_cast<std::size_t>(filled_ % n)];
}

void WindowRing::publish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++filled_;
  }
  changed_.notify_all();
}

void WindowRing::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

WindowSlot* WindowRing::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return closed_ || taken_ < filled_; });
  if (taken_ == filled_) return nullptr;
  return &slots_[static_cast<std::size_t>(taken_ % static_cast<std::int64_t>(slots_.size()))];
}

void WindowRing::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++taken_;
  }
  changed_.notify_all();
}

void WindowRing::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_.store(true);
  }
  changed_.notify_all();
}

}  // namespace qv
