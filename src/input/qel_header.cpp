#include "input/qel_header.hpp"

#include <cctype>
#include <cmath>

#include "common/binary.hpp"
#include "common/error.hpp"
#include "common/fixed_format.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"
#include "common/utc_time.hpp"
#include "input/qel_format.hpp"
#include "input/unreadable_recording.hpp"

namespace qv {

namespace {

// Start times beyond this many seconds from the day origin (some 30,000
// years) cannot be held in microseconds; only a damaged time stamp gives them.
constexpr double kMaxStartSeconds = 1.0e12;

[[noreturn]] void bad_field(const std::string& file, int offset, std::string_view what, std::string_view text,
                            std::string_view expected) {
  std::string msg = file;
  msg += ": the ";
  msg += what;
  msg += " of the QEL header at byte offset ";
  msg += std::to_string(offset);
  msg += " reads '";
  msg += text;
  msg += "'; expected ";
  msg += expected;
  throw Error(msg);
}

// A numeric field of fixed columns as a formatted read takes it: blanks are
// ignored, and an all-blank field reads as 0.
std::string without_blanks(std::string_view field) {
  std::string s;
  for (char c : field)
    if (c != ' ') s += c;
  return s;
}

bool fixed_int(std::string_view field, int& v) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    v = 0;
    return true;
  }
  std::int64_t x = 0;
  if (!parse_int(s, x) || x < -99999 || x > 99999) return false;
  v = static_cast<int>(x);
  return true;
}

// A real field; without a decimal point the last `implied` digits are decimals.
bool fixed_real(std::string_view field, int implied, double& v) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    v = 0;
    return true;
  }
  if (!parse_real(s, v) || !std::isfinite(v)) return false;
  if (s.find('.') == std::string::npos) v /= std::pow(10.0, implied);
  return true;
}

// A minutes field of the position text: its number ends at the first
// character that cannot belong to one, where the hemisphere letter stands.
bool minutes_field(std::string_view field, float& v) {
  std::size_t n = 0;
  while (n < field.size() && (std::isdigit(static_cast<unsigned char>(field[n])) || field[n] == ' ' ||
                              field[n] == '.' || field[n] == '+' || field[n] == '-'))
    ++n;
  double x = 0;
  if (!fixed_real(field.substr(0, n), 0, x)) return false;
  v = static_cast<float>(x);
  return true;
}

// Columns [first, last] (1-based) of a fixed text.
std::string_view columns(std::string_view text, int first, int last) {
  return text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
}

bool leap_year(int year) { return year % 4 == 0; }

int days_in_month(int month, int year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

// Days of the months before `month` of `year`.
int days_before(int month, int year) {
  int d = 0;
  for (int m = 1; m < month; ++m) d += days_in_month(m, year);
  return d;
}

// Data bytes per packet, with the fall-backs for headers that do not carry a
// usable count.
std::int32_t data_bytes(std::int32_t field, int fpga) {
  if (field == 65537 || field == 0 || fpga < qel::first_new_fpga) return qel::default_data_bytes;
  return field;
}

// Sub-second start time: the logger stamps the first scan with a counter of a
// clock of D MHz, one second before the second it names, and its filters delay
// the samples by 38 (1000 and 4000 Hz) or 39 sample intervals.
double start_seconds(double whole_seconds, std::int64_t stamp, double divisor, float sampfreq) {
  const double delay = (sampfreq == 1000.0f || sampfreq == 4000.0f ? 38.0 : 39.0) / static_cast<double>(sampfreq);
  return whole_seconds + (static_cast<double>(stamp) * 0.000001 / divisor + 1.0) - delay;
}

double time_stamp_divisor(const unsigned char* hdr, const std::string& name) {
  const std::string_view text(reinterpret_cast<const char*>(hdr + qel::off_divisor), qel::divisor_chars);
  double d = 0;
  FreeField f[] = {d};
  if (read_values_from(text, f) != ReadStatus::ok || !std::isfinite(d) || d == 0.0)
    bad_field(name, qel::off_divisor, "time-stamp divisor", text, "a finite number other than 0");
  return d;
}

// A QEL header is binary: counts in big-endian bytes, so zero bytes and bytes
// above 127 among its first 64. A recording that is all printable text and
// line ends there is a text recording read without its format option.
bool looks_like_text(const unsigned char* bytes, std::size_t n) {
  n = std::min<std::size_t>(n, 64);
  if (n == 0) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = bytes[i];
    if (!(c == '\n' || c == '\r' || c == '\t' || (c >= 32 && c < 127))) return false;
  }
  return true;
}

constexpr const char* kTextHint =
    "the file begins with text, not a QEL binary header (the format read without a format option): for a "
    "generic ASCII recording give -A (three header lines: sample interval, start and reference time) or -a "
    "(no header lines, the times in <base>.clk), for ASCII NIMS -N";

}  // namespace

QelPosition qel_position(std::string_view text, const std::string& file) {
  const std::string padded = fixed_field(text, 0, qel::position_chars);
  const auto field_offset = [](int column) { return qel::off_position + column - 1; };
  int lat_deg = 0, lon_deg = 0;
  float lat_min = 0, lon_min = 0;
  if (!fixed_int(columns(padded, 1, 2), lat_deg))
    bad_field(file, field_offset(1), "latitude degrees", columns(padded, 1, 2), "a whole number");
  if (!minutes_field(columns(padded, 3, 13), lat_min))
    bad_field(file, field_offset(3), "latitude minutes", columns(padded, 3, 13), "a number");
  if (!fixed_int(columns(padded, 16, 18), lon_deg))
    bad_field(file, field_offset(16), "longitude degrees", columns(padded, 16, 18), "a whole number");
  if (!minutes_field(columns(padded, 19, 30), lon_min))
    bad_field(file, field_offset(19), "longitude minutes", columns(padded, 19, 30), "a number");
  QelPosition p;
  p.latitude = static_cast<float>(lat_deg) + lat_min / 60.0f;
  p.longitude = static_cast<float>(lon_deg) + lon_min / 60.0f;
  if (padded[12] == 'S') p.latitude = -p.latitude;
  if (padded[27] == 'W') p.longitude = -p.longitude;
  return p;
}

QelDateTime qel_date_time(std::string_view text, const std::string& file) {
  const std::string padded = fixed_field(text, 0, qel::datetime_chars);
  const auto field_offset = [](int column) { return qel::off_datetime + column - 1; };
  QelDateTime d;
  const struct {
    int first, last;
    int* value;
    const char* what;
  } ints[] = {{1, 2, &d.hour, "start hour"},
              {3, 4, &d.minute, "start minute"},
              {12, 13, &d.day, "start day"},
              {15, 16, &d.month, "start month"},
              {18, 21, &d.year, "start year"}};
  for (const auto& f : ints)
    if (!fixed_int(columns(padded, f.first, f.last), *f.value))
      bad_field(file, field_offset(f.first), f.what, columns(padded, f.first, f.last), "a whole number");
  if (!fixed_real(columns(padded, 5, 10), 3, d.seconds))
    bad_field(file, field_offset(5), "start seconds", columns(padded, 5, 10), "a number");

  // A damaged text would put the time grid anywhere; refuse what no clock shows.
  if (d.year < 0 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > days_in_month(d.month, d.year))
    bad_field(file, field_offset(12), "start date", columns(padded, 12, 21), "a calendar date dd mm yyyy");
  if (d.hour < 0 || d.hour > 23 || d.minute < 0 || d.minute > 59 || d.seconds < 0 || d.seconds >= 61)
    bad_field(file, field_offset(1), "start time", columns(padded, 1, 10), "a time of day hhmmss.sss");
  return d;
}

int qel_day_number(const QelDateTime& d, float sampfreq) {
  if (sampfreq <= 1000.0f) return days_before(d.month, d.year) + d.day - 1;
  if (sampfreq < 40000.0f) {
    if (d.month == 1) return d.day - 1;
    return days_before(d.month, d.year) - days_before(d.month - 1, d.year) + d.day - 1;
  }
  return 0;
}

namespace {

// The missing-value marker, the enabled channels and how many scans a
// packet holds, and the station's position and epoch.
void read_channels_and_fix(const unsigned char* hdr, const std::string& name, const QelDateTime& date,
                           Acquisition& acq, QelLayout& layout, Console& con) {
  acq.msval = 2147483647;
  acq.threshold = static_cast<float>(acq.msval - 10000);

  const std::uint32_t mask = get_u32be(hdr + qel::off_mask);
  layout.nch = 0;
  for (int k = 1; k <= 6; ++k)
    if (mask >> (k - 1) & 1u) layout.channels[static_cast<std::size_t>(layout.nch++)] = k;
  if (layout.nch == 0)
    bad_field(name, qel::off_mask, "channel-enable mask", std::to_string(mask), "at least one of bits 0 to 5 set");
  acq.nch = layout.nch;

  const std::int64_t scans = layout.nbytes_data / qel::bytes_per_sample / layout.nch;
  if (scans < qel::scans_per_block)
    bad_field(name, qel::off_data_bytes, "data bytes per packet", std::to_string(layout.nbytes_data),
              "room for at least 256 scans of " + std::to_string(layout.nch) + " channels");
  if (layout.nbytes_data % (layout.nch * qel::bytes_per_sample * qel::scans_per_block) != 0)
    con.say("warning: a packet of", layout.nbytes_data, "data bytes holds", scans, "scans; the last",
            scans % qel::scans_per_block, "scans of every packet are not read");

  // The run takes the declination at this position and epoch from the
  // reference field.
  const QelPosition pos = qel_position(
      std::string_view(reinterpret_cast<const char*>(hdr + qel::off_position), qel::position_chars), name);
  acq.fix.known = true;
  acq.fix.latitude = pos.latitude;
  acq.fix.longitude = pos.longitude;
  acq.fix.year = static_cast<float>(date.year) + static_cast<float>(date.month) / 12.0f;
}

void read_qel_header(const unsigned char* hdr, const std::string& name, Acquisition& acq, QelLayout& layout,
                     Console& con) {
  const int firmware = hdr[qel::off_firmware];
  const int fpga = hdr[qel::off_fpga];
  con.text("firmware version=" + fmt_i(firmware, 3));
  con.text("fpga     version=" + fmt_i(fpga, 3));

  const std::int32_t data_field = get_i32be(hdr + qel::off_data_bytes);
  con.say("num_of_data_bytes_per_headers", data_field);
  layout.nbytes_data = data_bytes(data_field, fpga);
  if (layout.nbytes_data < 0)
    bad_field(name, qel::off_data_bytes, "data bytes per packet", std::to_string(data_field), "a positive count");
  layout.nbytes_packet = std::int64_t(layout.nbytes_data) + qel::header_bytes;
  con.say("nbytes_data  ", layout.nbytes_data);
  con.say("nbytes_header", qel::header_bytes);
  con.say("nbytes_packet", layout.nbytes_packet);

  const std::int32_t freq_field = get_i32be(hdr + qel::off_sampfreq);
  con.say("Sample Freq", freq_field);
  if (freq_field <= 0)
    bad_field(name, qel::off_sampfreq, "sampling frequency", std::to_string(freq_field), "a positive number of Hz");
  acq.sampfreq = freq_field == 62 ? 62.5f : static_cast<float>(freq_field);
  acq.dr = 1.0f / acq.sampfreq;

  const QelDateTime date = qel_date_time(
      std::string_view(reinterpret_cast<const char*>(hdr + qel::off_datetime), qel::datetime_chars), name);
  const double divisor = time_stamp_divisor(hdr, name);
  const std::int64_t stamp = get_i64be(hdr + qel::off_stamp);
  const double ss = start_seconds(std::trunc(date.seconds), stamp, divisor, acq.sampfreq);
  con.say("seconds+delay", ss, ss / 60.0);
  if (!(std::fabs(ss) < kMaxStartSeconds))
    bad_field(name, qel::off_stamp, "time-stamp count", std::to_string(stamp),
              "a count that puts the first scan within the start day (with the divisor at offset 100)");
  const int jday = qel_day_number(date, acq.sampfreq);
  con.say("jday,ihr,imin,ss", jday, date.hour, date.minute, ss);
  acq.time_int = static_cast<std::int64_t>(std::trunc(ss * 1000000.0)) + std::int64_t(jday) * 86400000000LL +
                 std::int64_t(date.hour) * 3600000000LL + std::int64_t(date.minute) * 60000000LL;
  con.say("time_int (us)", acq.time_int);
  // The recorder's count is already whole microseconds in 64 bits: nothing
  // of it passes through single precision.
  acq.time_int_exact = acq.time_int;
  // The day the day number counts from (qel_day_number): 1 January up to
  // 1000 Hz, the first of the previous month (of January itself in January)
  // below 40000 Hz, the start day above.
  int ref_month = 1, ref_day = 1;
  if (acq.sampfreq > 1000.0f && acq.sampfreq < 40000.0f) {
    ref_month = date.month == 1 ? 1 : date.month - 1;
  } else if (acq.sampfreq >= 40000.0f) {
    ref_month = date.month;
    ref_day = date.day;
  }
  acq.clock.known = true;
  acq.clock.format = "QEL binary";
  acq.clock.source = "the QEL header of " + name;
  acq.clock.reference_unix_s = unix_seconds(date.year, ref_month, ref_day, 0, 0, 0);
  // The first scan by the calendar: the day number behind time_int takes
  // every fourth year for a leap year (2100 too), the calendar does not.
  acq.clock.start_after_reference_s =
      static_cast<double>(unix_seconds(date.year, date.month, date.day, date.hour, date.minute, 0) -
                          acq.clock.reference_unix_s) +
      ss;

  read_channels_and_fix(hdr, name, date, acq, layout, con);
}

}  // namespace

void rdhdrQEL(std::FILE* f, const std::string& name, Acquisition& acq, QelLayout& layout, Console& con) {
  con.say("INITIALIZATION");
  unsigned char hdr[qel::header_read];
  const std::size_t got = read_up_to(f, name, 0, hdr, sizeof hdr);
  const bool text = looks_like_text(hdr, got);
  if (got != sizeof hdr) {
    con.say("Error Reading Binary File: " + name);
    throw UnreadableRecording("cannot read the QEL binary file " + name + ": it ends at byte offset " +
                              std::to_string(got) + ", before the end of its " + std::to_string(qel::header_read) +
                              "-byte header" + (text ? std::string("; ") + kTextHint : std::string()));
  }
  try {
    read_qel_header(hdr, name, acq, layout, con);
  } catch (const Error& e) {
    if (!text) throw;
    throw Error(std::string(e.what()) + "; " + kTextHint);
  }
}

}  // namespace qv
