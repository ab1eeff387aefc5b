#include "driver/bad_records.hpp"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/error.hpp"
#include "common/sample_interval.hpp"
#include "common/text_reader.hpp"

namespace qv {

namespace {

// Converted boundaries stay within ±2^62 time marks, so that adding the
// offset ioff can be checked simply and window marks compare without
// leaving the range of std::int64_t.
constexpr double kMarkLimit = 4611686018427387904.0;  // 2^62

// nseg and r are read from the first 80 characters of line 2, the width of
// the card the file format was laid out for.
constexpr std::size_t kHeadWidth = 80;

std::string at_line(const std::string& path, std::int64_t line) {
  std::string s = "file ";
  s += path;
  s += ", line ";
  s += std::to_string(line);
  s += ": ";
  return s;
}

std::string entry_name(std::int64_t k) {
  std::string s = "bad-record entry ";
  s += std::to_string(k);
  return s;
}

// Where an interval code puts its entry: list 1 or 2 (0: neither) and the
// level (0: every level).
struct Target {
  int list = 0;
  int level = 0;
};

Target target_of(int code) {
  switch (code) {
    case 1:
    case 4:
      return {1, 0};
    case 2:
      return {2, 0};
    case 3:
      return {2, 4};
    default:
      return {0, 0};
  }
}

// How the file's boundaries become time marks. With a time scale, a boundary
// b counts units of r seconds from the reference time; the data start
// start_s seconds after it and level 1 takes one sample every dr1 seconds,
// so the mark is (b - start_s / r) * (r / dr1), truncated toward zero.
// Without one, the boundaries already are time marks.
struct TimeScale {
  bool given = false;
  double r = 1.0;         // seconds per unit of the boundaries
  double start_s = 0.0;   // start of the data after the reference time (seconds)
  double dr1 = 1.0;       // sample interval of level 1 (seconds)
  double per_unit = 1.0;  // time marks per unit: r / dr1
};

// Marks per unit of the boundaries, r / dr1 in single precision, taken as
// the whole number or short binary fraction it stands for (a boundary on a
// whole second would otherwise fall one sample early, more the longer the
// recording).
double marks_per_unit(float r, float dr1) { return nearest_short_fraction(r / dr1); }

std::int64_t to_mark(double b, const TimeScale& ts, const std::string& path, std::int64_t line) {
  double m = std::trunc(b);
  if (ts.given) {
    const double offset = ts.start_s / ts.r;
    const double exact = (b - offset) * ts.per_unit;
    // A boundary written on a sample (13.7 s at 10 Hz, 13.4 s after a start
    // 0.3 s past the reference) must land on that sample, not on the one
    // before it by the rounding of the decimal fractions in double: a mark
    // within the rounding error of the computation of a whole number is that
    // number; any other is truncated toward zero.
    const double whole = std::round(exact);
    const double rounding = 64.0 * DBL_EPSILON * (std::fabs(b) + std::fabs(offset)) * std::fabs(ts.per_unit);
    m = std::fabs(exact - whole) <= rounding ? whole : std::trunc(exact);
  }
  if (!std::isfinite(m) || std::fabs(m) > kMarkLimit) {
    std::string msg = at_line(path, line);
    msg += "the boundary ";
    msg += Console::num(b);
    msg += " converts to the time mark ";
    msg += Console::num(m);
    if (ts.given) {
      msg += " (r = ";
      msg += Console::num(ts.r);
      msg += " s, sample interval ";
      msg += Console::num(ts.dr1);
      msg += " s)";
    }
    msg += "; expected a time mark within -2^62 to 2^62";
    throw Error(msg);
  }
  return static_cast<std::int64_t>(m);
}

void reset(BadRecordList& list) { list.count.fill(0); }

// Adds the offset to every boundary of one list; an interval that the offset
// would carry beyond the int64 range stops the run.
void shift(BadRecordList& list, std::int64_t ioff, const std::string& path, std::int64_t line) {
  for (int lev = 0; lev <= ndmx; ++lev) {
    for (int k = 0; k < list.count[lev]; ++k) {
      BadInterval& b = list.interval[lev][k];
      for (std::int64_t* v : {&b.first, &b.last}) {
        if ((ioff > 0 && *v > INT64_MAX - ioff) || (ioff < 0 && *v < INT64_MIN - ioff)) {
          std::string msg = at_line(path, line);
          msg += "ioff = ";
          msg += std::to_string(ioff);
          msg += " carries the time mark ";
          msg += std::to_string(*v);
          msg += " beyond the range of time marks";
          throw Error(msg);
        }
        *v += ioff;
      }
    }
  }
}

// Opens the bad-record file; false when there is none (the station is then
// processed completely). Anything else under that name that cannot be read
// is a mistake to report.
bool open_bad_record_file(const std::string& path, TextReader& f, Console& con) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_type type = fs::status(path, ec).type();
  if (type == fs::file_type::not_found) {
    con.say("No bad record file found for this file;  Using all data ");
    return false;
  }
  if (type == fs::file_type::directory) {
    std::string msg = "bad-record file ";
    msg += path;
    msg += " is a folder, not a file";
    throw Error(msg);
  }
  if (!f.open(path)) {
    const int err = errno;
    std::string msg = "cannot open the bad-record file ";
    msg += path;
    msg += " (";
    msg += std::strerror(err);
    msg += ")";
    throw Error(msg);
  }
  return true;
}

// The title line and line 2: the number of entries and, when given, the
// time scale r that turns the boundaries into time marks.
std::int64_t read_head(TextReader& f, const std::string& path, float dr1, std::int64_t time_int, TimeScale& ts,
                       Console& con) {
  std::string_view line;
  if (!f.next_line(line) || !f.next_line(line)) {
    std::string msg = at_line(path, f.line_number() + 1);
    msg += "expected a title line and then the line with nseg and the time scale r, found the end of the file";
    throw Error(msg);
  }
  const std::string_view head = line.substr(0, std::min(line.size(), kHeadWidth));
  std::string_view tok[2];
  const int ntok = split_values(head, tok);
  std::int64_t nseg = -1;
  if (ntok < 1 || !parse_int(tok[0], nseg) || nseg < 0) {
    std::string msg = at_line(path, 2);
    msg += "expected the number of entries nseg (a whole number, 0 or more), found ";
    if (ntok < 1) {
      msg += "an empty line";
    } else {
      msg += "'";
      msg += tok[0];
      msg += "'";
    }
    throw Error(msg);
  }
  double r = 0.0;
  if (ntok >= 2 && parse_real(tok[1], r) && std::isfinite(r) && r != 0.0) {
    ts.given = true;
    ts.r = r;
    // Seconds from the microsecond count; the division is exact whenever the
    // start time is, so whole-second starts give whole-second offsets.
    ts.start_s = static_cast<double>(time_int) / 1.0e6;
    ts.dr1 = static_cast<double>(dr1);
    ts.per_unit = marks_per_unit(static_cast<float>(r), dr1);
    con.say("nseg", nseg);
  } else {
    con.say("bad-record file", path, ": no time scale r on line 2; the intervals are taken as time marks");
  }
  return nseg;
}

// The nseg entries (start, end, code), each into the list and level its
// code names; a code of no list leaves the entry unused.
void read_entries(TextReader& f, const std::string& path, std::int64_t nseg, const TimeScale& ts, BadRecords& out) {
  for (std::int64_t k = 1; k <= nseg; ++k) {
    double start = 0.0, end = 0.0;
    int code = 0;
    std::string what = "the start, end and code of ";
    what += entry_name(k);
    f.require(f.read(start, end, code), what);
    const std::int64_t at = f.line_number();
    const BadInterval iv{to_mark(start, ts, path, at), to_mark(end, ts, path, at)};
    const Target t = target_of(code);
    if (t.list == 0) continue;
    BadRecordList& list = (t.list == 1) ? out.list1 : out.list2;
    int& n = list.count[t.level];
    if (n >= nbadcap) {
      std::string msg = at_line(path, at);
      msg += entry_name(k);
      msg += " (code ";
      msg += std::to_string(code);
      msg += ") does not fit: list ";
      msg += std::to_string(t.list);
      msg += t.level == 0 ? ", all levels," : ", level 4,";
      msg += " already holds ";
      msg += std::to_string(nbadcap);
      msg += " intervals, the most one list and level can take";
      throw Error(msg);
    }
    list.interval[t.level][n++] = iv;
  }
}

}  // namespace

void bdecsu(const std::string& path, int nd, float dr1, std::int64_t time_int, BadRecords& out, Console& con) {
  if (nd < 1 || nd > ndmx) {
    std::string msg = "bad-record set-up for ";
    msg += std::to_string(nd);
    msg += " decimation levels; a run has 1 to ";
    msg += std::to_string(ndmx);
    throw Error(msg);
  }
  reset(out.list1);
  reset(out.list2);
  out.ioff = 0;
  TextReader f;
  if (!open_bad_record_file(path, f, con)) return;
  TimeScale ts;
  const std::int64_t nseg = read_head(f, path, dr1, time_int, ts, con);
  read_entries(f, path, nseg, ts, out);

  // The offset (time marks) shifts every interval, for example when the
  // boundaries were picked on a copy of the data that starts later.
  std::int64_t ioff = 0;
  if (f.read(ioff) != ReadStatus::ok) {
    ioff = 0;
    con.say("no offset in br file; assuming zero offset");
  } else {
    con.say("bdecsu: ioff, cfbr", ioff, path);
  }
  const std::int64_t ioff_line = f.line_number();
  f.close();
  shift(out.list1, ioff, path, ioff_line);
  shift(out.list2, ioff, path, ioff_line);
  out.ioff = ioff;
}

bool bad_record_clean(const BadRecordList& list, int lev, std::int64_t first, std::int64_t last) {
  auto touches = [&](int level) {
    const int n = std::min(list.count[level], nbadcap);
    for (int k = 0; k < n; ++k) {
      const BadInterval& b = list.interval[level][k];
      if (last >= b.first && b.last >= first) return true;
    }
    return false;
  };
  if (touches(0)) return false;
  if (lev >= 1 && lev <= ndmx && touches(lev)) return false;
  return true;
}

}  // namespace qv
