#include "input/ascii_reader.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

#include "common/error.hpp"
#include "common/sample_interval.hpp"
#include "common/text.hpp"
#include "input/time_count.hpp"

namespace qv {

namespace {

// Missing sample in integer text files, and the run's missing-value marker.
constexpr std::int32_t kMissingText = 44444444;
constexpr std::int32_t kMissingRun = 2147483647;

// Separators of free-format values.
constexpr bool is_sep(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r'; }

std::string where(const TextReader& r, std::int64_t line) {
  return "file " + r.name() + ", line " + std::to_string(line);
}

std::string shown(std::string_view tok) {
  constexpr std::size_t kMax = 40;
  if (tok.size() <= kMax) return std::string(tok);
  return std::string(tok.substr(0, kMax)) + "...";
}

// Clock-reset information: sample interval (seconds), start and reference time.
struct ClockReset {
  float dr = 0;
  DateTime start{};
  DateTime ref{};
};

void check_clock(const TextReader& r, const ClockReset& c, std::int64_t dr_line, std::int64_t start_line,
                 std::int64_t ref_line) {
  if (!(c.dr > 0) || !std::isfinite(c.dr))
    throw Error(where(r, dr_line) + ": expected a positive sample interval dr in seconds, found " +
                Console::num(c.dr));
  if (!usable_sample_interval(c.dr))
    throw Error(where(r, dr_line) + ": expected a sample interval dr from " + usable_interval_range + ", found " +
                Console::num(c.dr));
  auto check = [&](const DateTime& t, int line, const char* what) {
    if (t[1] < 1 || t[1] > 12)
      throw Error(where(r, line) + ": expected the " + what + " as year month day hour minute second, found month " +
                  std::to_string(t[1]));
    if (t[0] < 0 || t[0] > 9999)
      throw Error(where(r, line) + ": expected the " + what + " as year month day hour minute second, found year " +
                  std::to_string(t[0]));
  };
  check(c.start, start_line, "start time");
  check(c.ref, ref_line, "reference time");
}

// The three free-format reads of the clock-reset information.
ClockReset read_clock_reset(TextReader& r) {
  ClockReset c;
  r.require(r.read(c.dr), "the sample interval dr in seconds");
  const std::int64_t dr_line = r.line_number();
  auto& s = c.start;
  r.require(r.read(s[0], s[1], s[2], s[3], s[4], s[5]), "the start time as year month day hour minute second");
  const std::int64_t start_line = r.line_number();
  auto& f = c.ref;
  r.require(r.read(f[0], f[1], f[2], f[3], f[4], f[5]), "the reference time as year month day hour minute second");
  check_clock(r, c, dr_line, start_line, r.line_number());
  return c;
}

void set_timing(const ClockReset& c, Acquisition& acq) {
  acq.dr = c.dr;
  acq.sampfreq = 1.0f / c.dr;
  acq.time_int = time_int(c.start, c.ref);
  acq.time_int_exact = exact_time_int(c.start, c.ref);
  set_recording_clock(c.start, c.ref, acq.clock);
}

// Reads lines up to the first one holding a value and returns its field
// count. Blank lines before it are skipped, as the block reader skips them.
int first_data_fields(TextReader& data, const char* after) {
  std::string_view line;
  for (;;) {
    if (!data.next_line(line))
      throw Error(where(data, data.line_number() + 1) + ": expected the first sample line after " + after +
                  ", found the end of the file (no samples)");
    if (last_nonblank(line) > 0) return count_fields(line);
  }
}

// One free-format value of a NIMS header line from its characters 2 to 50.
template <class... T>
void read_nims_field(const TextReader& data, std::string_view line, const char* what, T&... v) {
  FreeField f[] = {FreeField(v)...};
  const std::string field = fixed_field(line, 1, 49);
  if (read_values_from(field, f) != ReadStatus::ok)
    throw Error(where(data, data.line_number()) + ": expected " + what + " in characters 2 to 50, found '" +
                std::string(trim(field)) + "'");
}

// Fast token parsers of the sample path; anything unusual (a '+' sign, a D
// exponent) falls back to the general free-format parser.
inline bool parse_sample(const char* b, const char* e, float& v) {
  auto r = std::from_chars(b, e, v);
  if (r.ec == std::errc() && r.ptr == e && std::isfinite(v)) return true;
  return parse_real(std::string_view(b, static_cast<std::size_t>(e - b)), v);
}

inline bool parse_sample(const char* b, const char* e, std::int32_t& v) {
  auto r = std::from_chars(b, e, v);
  if (r.ec == std::errc() && r.ptr == e) return true;
  std::int64_t w = 0;
  if (!parse_int(std::string_view(b, static_cast<std::size_t>(e - b)), w) || w < INT32_MIN || w > INT32_MAX)
    return false;
  v = static_cast<std::int32_t>(w);
  return true;
}

}  // namespace

int count_fields(std::string_view line) {
  const int first = first_nonblank(line);  // 1-based
  const int last = last_nonblank(line);
  int n = 1;
  for (int i = first; i < last; ++i) {  // 0-based: characters first+1 .. last
    const char prev = line[i - 1];
    const char c = line[i];
    if ((prev == ' ' || prev == '\t') && c != ' ' && c != '\t') ++n;
  }
  return n;
}

void rdhdrASCII(TextReader& data, bool clock_in_headers, const std::string& clk_name, Acquisition& acq,
                Console& con) {
  ClockReset c;
  std::int64_t header_lines = 0;
  if (clock_in_headers) {
    c = read_clock_reset(data);
    header_lines = data.line_number();
  } else {
    TextReader clk;
    if (!clk.open(clk_name))
      throw Error("cannot open the clock-reset file " + clk_name +
                  " (it holds the sample interval, start time and reference time of " + data.name() + ")");
    c = read_clock_reset(clk);
  }
  set_timing(c, acq);
  acq.clock.format = "generic ASCII";
  acq.clock.source = clock_in_headers ? "the header lines of " + data.name() : clk_name;
  con.say("Starting sample # = ", 0);

  acq.nch = first_data_fields(data, clock_in_headers ? "the three header lines" : "the start of the file");
  con.say("NCH  = ", acq.nch);

  // Back to the first data line: the block reader skips blank lines itself.
  data.rewind();
  std::string_view line;
  for (std::int64_t i = 0; i < header_lines; ++i) data.next_line(line);
}

void rdhdrNIMSASCII(TextReader& data, Acquisition& acq, Console& con) {
  std::string_view line;
  int comment_lines = 0;
  for (;;) {
    if (!data.next_line(line))
      throw Error(where(data, data.line_number() + 1) +
                  ": expected the sample lines after the '#' header lines, found the end of the file (no samples)");
    if (line.empty() || line[0] != '#') break;
    ++comment_lines;
  }
  if (comment_lines < 3)
    throw Error(where(data, data.line_number()) + ": expected three '#' header lines (dr, start time, reference "
                "time) before the first sample line, found " + std::to_string(comment_lines));
  // The three "#" lines right before the samples are the header, whatever
  // comment lines precede them.
  data.back_lines(4);

  ClockReset c;
  data.next_line(line);
  const std::int64_t dr_line = data.line_number();
  read_nims_field(data, line, "the sample interval dr in seconds", c.dr);
  con.say("dr = ", c.dr);
  data.next_line(line);
  const std::int64_t start_line = data.line_number();
  auto& s = c.start;
  read_nims_field(data, line, "the start time as year month day hour minute second", s[0], s[1], s[2], s[3], s[4],
                  s[5]);
  con.say("date = ", s[0], s[1], s[2], s[3], s[4], s[5]);
  data.next_line(line);
  auto& f = c.ref;
  read_nims_field(data, line, "the reference time as year month day hour minute second", f[0], f[1], f[2], f[3],
                  f[4], f[5]);
  check_clock(data, c, dr_line, start_line, data.line_number());
  set_timing(c, acq);
  acq.clock.format = "ASCII NIMS";
  acq.clock.source = "the '#' header lines of " + data.name();
  con.say("Starting sample # = ", 0);

  acq.nch = first_data_fields(data, "the '#' header lines");
  con.say("NCH  = ", acq.nch);
  data.back_lines(1);  // blank lines skipped above are skipped by the block reader too
}

AsciiBlockReader::AsciiBlockReader(TextReader data, bool real_numbers, Console& con)
    : data_(std::move(data)), real_(real_numbers), con_(&con) {}

int AsciiBlockReader::read_block(SampleBlock& blk, int nch) {
  if (nch < 1 || nch > nchmx)
    throw Error("file " + data_.name() + ": cannot read " + std::to_string(nch) + " channels per sample (1 to " +
                std::to_string(nchmx) + " are possible)");
  return real_ ? rdblkASCIIreal(blk, nch) : rdblkASCIIint(blk, nch);
}

int AsciiBlockReader::rdblkASCIIreal(SampleBlock& blk, int nch) { return read_rows(blk, blk.real.data(), nch); }

int AsciiBlockReader::rdblkASCIIint(SampleBlock& blk, int nch) {
  const int status = read_rows(blk, blk.ints.data(), nch);
  for (int r = 0; r < blk.npts; ++r)
    for (int c = 0; c < nch; ++c) {
      std::int32_t& v = blk.ints[static_cast<std::size_t>(r * nchmx + c)];
      if (v == kMissingText) v = kMissingRun;
    }
  return status;
}

template <class T>
int AsciiBlockReader::read_rows(SampleBlock& blk, T* values, int nch) {
  std::string_view line;
  for (int r = 0; r < nblk; ++r) {
    T* row = values + r * nchmx;
    // One free-format read of nch values: it starts on a new line, goes on to
    // the following lines until it has them all and ignores the rest of its
    // last line.
    int c = 0;
    int before_line = 0;  // values of the row read before the current line
    while (c < nch) {
      if (!data_.next_line(line)) {
        blk.npts = r;
        report_short_lines(nch);
        return block_end;
      }
      // The line before this one gave values to the row, but not all of them.
      if (c > before_line) [[unlikely]]
        short_line(data_.line_number() - 1, c - before_line, nch);
      before_line = c;
      const char* p = line.data();
      const char* const e = p + line.size();
      while (c < nch) {
        while (p < e && is_sep(*p)) ++p;
        if (p == e) break;
        const char* t = p;
        if (*t == '/') {  // a slash ends the read; the values not reached stay as they were
          c = nch;
          break;
        }
        // Plain decimals, nearly every sample of a real-valued recording,
        // are read in the same pass that finds their end.
        if constexpr (std::is_same_v<T, float>) {
          if (const char* end = parse_plain_decimal(t, e, row[c])) {
            p = end;
            ++c;
            continue;
          }
        }
        while (p < e && !is_sep(*p)) ++p;
        if (!parse_sample(t, p, row[c])) bad_value(std::string_view(t, static_cast<std::size_t>(p - t)), c, real_);
        ++c;
      }
    }
    blk.index[static_cast<std::size_t>(r)] = counter_++;
  }
  blk.npts = nblk;
  return block_more;
}

void AsciiBlockReader::short_line(std::int64_t line, int values, int nch) {
  if (++short_lines_ > 1) return;
  con_->say("warning: line " + std::to_string(line) + " of " + data_.name() + " holds " + std::to_string(values) +
            (values == 1 ? " value" : " values") + " for " + std::to_string(nch) +
            " channels; the sample continues on the next line");
}

void AsciiBlockReader::report_short_lines(int nch) {
  if (short_lines_ == 0 || short_lines_reported_) return;
  short_lines_reported_ = true;
  const bool one = short_lines_ == 1;
  con_->say("warning: " + std::to_string(short_lines_) + (one ? " line" : " lines") + " of " + data_.name() +
            " held fewer values than the " + std::to_string(nch) + " channels; " +
            (one ? "its sample was continued on the next line" : "their samples were continued on the next lines"));
}

void AsciiBlockReader::bad_value(std::string_view tok, int channel, bool real) const {
  throw Error(where(data_, data_.line_number()) + ": expected " + (real ? "a real number" : "an integer") +
              " for channel " + std::to_string(channel + 1) + " of sample " + std::to_string(counter_) +
              ", found '" + shown(tok) + "'");
}

}  // namespace qv
