#include "input/nims_header.hpp"

#include <cmath>

#include "common/binary.hpp"
#include "common/error.hpp"
#include "common/sample_interval.hpp"
#include "input/time_count.hpp"
#include "input/unreadable_recording.hpp"

namespace qv {

namespace {

// Header words 1 to 22 (word n at byte offset 4 (n - 1)).
constexpr int kHeaderWords = 22;

[[noreturn]] void bad_word(const std::string& file, int word, std::string_view what, const std::string& found,
                           std::string_view expected) {
  std::string msg = file;
  msg += ": word ";
  msg += std::to_string(word);
  msg += " of the NIMS header (";
  msg += what;
  msg += ") is ";
  msg += found;
  msg += "; expected ";
  msg += expected;
  throw Error(msg);
}

std::int32_t word(const unsigned char* w, int n) { return get_i32le(w + 4 * (n - 1)); }

// Year, month, day, hour, minute, second from words first..first+5; a clock
// that cannot show them is refused with the word that holds the fault.
DateTime date_time(const unsigned char* w, int first, const std::string& file, std::string_view what) {
  static constexpr struct {
    int lo, hi;
    const char* name;
  } kFields[6] = {{0, 9999, "year"}, {1, 12, "month"}, {1, 31, "day"}, {0, 23, "hour"}, {0, 59, "minute"},
                  {0, 60, "second"}};
  DateTime t{};
  for (int i = 0; i < 6; ++i) {
    const std::int32_t v = word(w, first + i);
    if (v < kFields[i].lo || v > kFields[i].hi)
      bad_word(file, first + i, std::string(what) + " " + kFields[i].name, std::to_string(v),
               std::to_string(kFields[i].lo) + " to " + std::to_string(kFields[i].hi));
    t[static_cast<std::size_t>(i)] = v;
  }
  return t;
}

}  // namespace

void mk_off(std::FILE* f, const std::string& name, Acquisition& acq, NimsLayout& layout, Console& con) {
  acq.nch = nims::channels;
  unsigned char w[4 * kHeaderWords] = {};
  const std::size_t got = read_up_to(f, name, 0, w, sizeof w);
  if (got < 4) {
    con.say("Error Reading Binary File: " + name);
    throw UnreadableRecording("cannot read the NIMS binary file " + name + ": it ends at byte offset " +
                              std::to_string(got) + ", before the end of the first 4-byte word of its header");
  }
  if (got < sizeof w)
    throw Error(name + ": the NIMS header ends in word " + std::to_string(got / 4 + 1) + "; expected " +
                std::to_string(kHeaderWords) + " header words");
  layout.file_words = file_size(f, name) / 4;
  layout.irecl = word(w, 1) == nims::record_marker ? nims::record_words : 1;

  const float dr = get_f32le(w + 4 * 4);
  if (!(std::isfinite(dr) && dr > 0.0f))
    bad_word(name, 5, "sample interval in seconds", Console::num(dr), "a finite number above 0");
  if (!usable_sample_interval(dr))
    bad_word(name, 5, "sample interval in seconds", Console::num(dr),
             std::string("a number from ") + usable_interval_range);
  acq.dr = dr;
  acq.sampfreq = 1.0f / dr;
  const DateTime start = date_time(w, 7, name, "start");
  const DateTime ref = date_time(w, 13, name, "reference");
  acq.time_int = time_int(start, ref);
  acq.time_int_exact = exact_time_int(start, ref);
  set_recording_clock(start, ref, acq.clock);
  acq.clock.format = "NIMS binary";
  acq.clock.source = "the NIMS header of " + name;
  acq.clock.first_index = 1;  // the block reader numbers the first scan 1 (itf)

  con.say("nscans = ", word(w, 19));
  acq.msval = word(w, 21);
  con.say("msval = ", acq.msval);
  const std::int32_t ngaps = word(w, 22);
  con.say("ngaps = ", ngaps);
  if (ngaps < 0 || kHeaderWords + 3 * std::int64_t(ngaps) > layout.file_words)
    bad_word(name, 22, "number of gap entries", std::to_string(ngaps),
             "0 or more entries of 3 words that the file holds (it has " + std::to_string(layout.file_words) +
                 " words)");
  if (ngaps >= 1) {
    con.say("Warning: there are ", ngaps, " data gaps");
    unsigned char g[12];
    for (std::int32_t i = 1; i <= ngaps; ++i) {
      read_at(f, name, 4 * (kHeaderWords + 3 * std::int64_t(i - 1)), g, sizeof g);
      con.say("mk_off: igap=", get_i32le(g), get_i32le(g + 4), get_i32le(g + 8));
    }
  }
  layout.irec = 3 * std::int64_t(ngaps) + 24;
  layout.itf = 1;
  acq.threshold = static_cast<float>(std::int64_t(acq.msval) - 10000);
  // In the record layout the header fills record 1; the samples start with record 2.
  if (layout.irecl == nims::record_words) layout.irec = 1;
}

}  // namespace qv
