#include "driver/pipeline.hpp"

#include <cstdint>
#include <exception>
#include <ostream>
#include <thread>

#include "common/flush_to_zero.hpp"
#include "common/text_capture.hpp"

namespace qv {

namespace {

// The storing thread has given up on an error; the cutting thread leaves the
// loop by this and the run reports the storing thread's error.
struct StoringStopped {};

WindowArray slot_array(WindowSlot& s, int nch) {
  return WindowArray(s.window.data(), nch, static_cast<std::int64_t>(s.window.size() / nchmx));
}

// The cutting thread's end of the ring: every window is cut into a free slot;
// a rejected one leaves the slot to the next window, an accepted one is handed
// on with the console text said since the last one.
class RingWindows final : public WindowSink {
 public:
  RingWindows(const RunSetup& st, RunWork& work, TextCapture& said, Console& con)
      : st_(st), work_(work), said_(said), con_(con) {}

  bool take(int lev) override {
    if (work_.ring.stopped()) throw StoringStopped{};
    if (slot_ == nullptr) slot_ = work_.ring.claim();
    if (slot_ == nullptr) throw StoringStopped{};
    const WindowVerdict v = cut_window(st_, work_.cascade, slot_array(*slot_, st_.nch), work_.kept, lev, con_);
    if (!v.accepted) return false;
    slot_->lev = lev;
    slot_->number = v.number;
    slot_->cut = v.cut;
    said_.hand_over(slot_->said);
    work_.ring.publish();
    slot_ = nullptr;
    // The limit is counted here, as the windows are accepted; its lines come
    // after the last window is stored.
    return set_limit_reached(st_, ++accepted_, con_);
  }
  std::int64_t stored() const override { return accepted_; }

 private:
  const RunSetup& st_;
  RunWork& work_;
  TextCapture& said_;
  Console& con_;
  WindowSlot* slot_ = nullptr;  // claimed, not yet handed on
  std::int64_t accepted_ = 0;
};

// The storing thread: the windows from the ring in order, each after the
// console text that preceded it.
void store_windows(const RunSetup& st, RunWork& work, std::ostream& out) {
  while (WindowSlot* s = work.ring.next()) {
    if (!s->said.empty()) {
      out.write(s->said.data(), static_cast<std::streamsize>(s->said.size()));
      s->said.clear();
    }
    const WindowVerdict v{s->cut, s->number, true};
    keep_window(st, work.scratch, work.kept, s->lev, v, slot_array(*s, st.nch));
    work.ring.release();
  }
}

// The console's standard output goes to the capture while the cutting
// thread runs, and back when it ends (also on an error).
class SaidLater {
 public:
  SaidLater(Console& con, TextCapture& cap) : con_(con), was_(con.redirect_out(&cap.stream())) {}
  ~SaidLater() { con_.redirect_out(was_); }
  SaidLater(const SaidLater&) = delete;
  SaidLater& operator=(const SaidLater&) = delete;
  std::ostream& real() const { return *was_; }

 private:
  Console& con_;
  std::ostream* was_;
};

}  // namespace

LoopOutcome process_blocks_two_threads(const RunSetup& st, RunWork& work, BlockReader& reader, Console& con) {
  work.ring.reset();
  TextCapture said;
  std::ostream& out = con.out();
  std::exception_ptr storing_error;
  std::thread storing([&] {
    // Each thread has its own floating-point mode.
    const FlushToZeroScope flush_to_zero;
    try {
      store_windows(st, work, out);
    } catch (...) {
      storing_error = std::current_exception();
      work.ring.stop();
    }
  });
  LoopOutcome done{LoopEnd::end_of_data, 0};
  std::exception_ptr cutting_error;
  {
    SaidLater redirect(con, said);
    try {
      RingWindows sink(st, work, said, con);
      done = run_blocks(st, work.input, work.cascade, work.progress, reader, sink, con);
    } catch (const StoringStopped&) {
      // the storing thread's error is reported below
    } catch (...) {
      cutting_error = std::current_exception();
    }
  }
  work.ring.close();
  storing.join();
  // The storing thread failed on a window cut before anything that failed
  // here: its error is the one a run on one thread meets first.
  if (storing_error) std::rethrow_exception(storing_error);
  out << said.text();
  if (cutting_error) std::rethrow_exception(cutting_error);
  return done;
}

}  // namespace qv
