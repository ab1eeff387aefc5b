#include "calibration/response_file.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

#include "calibration/filter_response.hpp"
#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv {

namespace {

using Rows = std::array<std::array<float, 9>, nrspmx + 1>;

constexpr std::size_t kNameWidth = 80;  // longest file name taken at the prompt
constexpr int kHeaderLines = 5;         // text lines above the first row count of TE and TB files
constexpr int kFieldWidth = 6;          // the fixed fields of TE and TB rows
// The phase tables have always been converted to radians with this value of
// pi; keeping it keeps the calibrated phases of earlier runs.
constexpr float kPi = 3.14159f;

[[noreturn]] void fail(const TextReader& r, std::int64_t line, const std::string& detail) {
  throw Error("response table file " + r.name() + ", line " + std::to_string(line) + ": " + detail);
}

// Opens the table, asking at the console for another name when `path` cannot
// be opened. Returns false when the user answers "none" (leave the filter out).
bool open_table(TextReader& r, const std::string& path, Console& con) {
  if (r.open(path)) return true;
  con.say("th: cfrsp", path);
  con.say("Couldn't open RSP file:", path);
  con.say("Enter a new RSP file name or RETURN to stop");
  std::string answer;
  const bool answered = con.ask("", answer);
  answer = answer.substr(0, std::min(answer.size(), kNameWidth));
  if (!answered || answer.empty() || answer[0] == ' ')
    throw Error("no response table file could be opened for " + path + "; the run stops");
  if (answer.starts_with("none")) return false;
  // Taken as typed, not joined with the sensor folder; trailing blanks are
  // not part of a file name.
  const std::string name(trim_right(answer));
  if (r.open(name)) return true;
  con.say("ERROR OPENING RSP-FILE ! looked up in SENSORS");
  throw Error("cannot open the response table file " + path + " nor " + name + "; the run stops");
}

// The row count of a group in the TE and TB layouts: one free-format integer.
int read_row_count(TextReader& r, int group) {
  const std::string what = "the row count of group " + std::to_string(group);
  int n = 0;
  const ReadStatus st = r.read(n);
  if (st != ReadStatus::ok) throw Error("response table " + r.describe(st, what));
  if (n < 0 || n > nrspmx)
    fail(r, r.line_number(), "expected " + what + " (0 to " + std::to_string(nrspmx) + "), found " + std::to_string(n));
  return n;
}

// n rows of `ncol` fixed fields of 6 characters into rows 1..n. A field left
// blank, or cut off by a short line, reads as 0, as a formatted read gives it.
void read_fixed_rows(TextReader& r, int n, int ncol, int group, Rows& rows) {
  std::string_view line;
  for (int k = 1; k <= n; ++k) {
    if (!r.next_line(line))
      fail(r, r.line_number() + 1, "expected row " + std::to_string(k) + " of " + std::to_string(n) + " of group " +
                                       std::to_string(group) + ", found the end of the file");
    for (int c = 0; c < ncol; ++c) {
      const std::string field = fixed_field(line, c * kFieldWidth, kFieldWidth);
      const std::string_view value = trim(field);
      float v = 0.0f;
      if (!value.empty() && !parse_real(value, v))
        fail(r, r.line_number(), "expected a number in columns " + std::to_string(c * kFieldWidth + 1) + "-" +
                                     std::to_string((c + 1) * kFieldWidth) + ", found '" + field + "'");
      rows[k][c] = v;
    }
  }
}

// One row of three free-format values (frequency and the two columns of pair
// 1) on a line of its own; false when the line does not begin with three
// numbers. Anything after them is a remark.
bool parse_free_row(std::string_view line, std::array<float, 9>& row) {
  std::string_view tok[3];
  if (split_values(line, tok) != 3) return false;
  float v[3];
  for (int c = 0; c < 3; ++c)
    if (!parse_real(tok[c], v[c])) return false;
  std::copy(v, v + 3, row.begin());
  return true;
}

// Rows of three free-format values from the next line on, into rows 1..n,
// until the end of the file, a line that is not a row, or nrspmx rows. A table
// without a single row could never be evaluated, so it is refused here rather
// than leaving every harmonic of the channel uncalibrated.
int read_free_rows(TextReader& r, Rows& rows) {
  int n = 0;
  std::string_view line;
  bool more = true;
  while (n < nrspmx && (more = r.next_line(line)) && parse_free_row(line, rows[n + 1])) ++n;
  if (n == 0) {
    if (!more) fail(r, r.line_number() + 1, "expected a row of three numbers, found the end of the file");
    fail(r, r.line_number(), "expected a row of three numbers, found '" + std::string(trim(line)) + "'");
  }
  return n;
}

// PA and 05: the rows follow the line under a line of dashes.
void skip_dashed_header(TextReader& r) {
  std::string_view line;
  do {
    if (!r.next_line(line))
      fail(r, r.line_number() + 1, "expected a line beginning with -----, found the end of the file");
  } while (!line.starts_with("-----"));
  r.next_line(line);  // column headings
}

// AP and RI: any text header; the first line that begins (after blanks) with
// a digit is the first row, and is left to be read again.
void skip_text_header(TextReader& r) {
  std::string_view line;
  for (;;) {
    if (!r.next_line(line)) return;  // no rows: read_free_rows reports it
    const int p = first_nonblank(line);
    if (p >= 1 && std::isdigit(static_cast<unsigned char>(line[p - 1]))) break;
  }
  r.back_lines(1);
}

void reverse_rows(Rows& rows, int n) { std::reverse(rows.begin() + 1, rows.begin() + 1 + n); }

}  // namespace

RspLoad load_response_file(int type, const std::string& path, ResponseFile& t, Console& con) {
  if (type != ft_te && type != ft_tb && type != ft_pa && type != ft_05 && type != ft_ap && type != ft_ri)
    throw Error("response table file " + path + ": filter type " + std::to_string(type) + " is not a table type");

  // Until the load has succeeded the table holds nothing, so that a filter
  // left out, or a failed load, cannot evaluate an earlier file's rows.
  t.type = 0;
  t.name.clear();
  t.nrows = {};
  t.rows = {};

  TextReader r;
  if (!open_table(r, path, con)) return RspLoad::skipped;

  std::array<int, 3> nrows{};
  std::string_view line;
  switch (type) {
    case ft_te:
    case ft_tb:
      for (int k = 0; k < kHeaderLines; ++k) r.next_line(line);  // at the end of the file the count read says so
      for (int g = 0; g < (type == ft_te ? 3 : 1); ++g) {
        nrows[g] = read_row_count(r, g + 1);
        read_fixed_rows(r, nrows[g], type == ft_te ? 9 : 3, g + 1, t.rows[g]);
      }
      break;
    case ft_pa:
    case ft_05:
      // These files list the frequencies in decreasing order.
      skip_dashed_header(r);
      nrows[0] = read_free_rows(r, t.rows[0]);
      reverse_rows(t.rows[0], nrows[0]);
      break;
    default:  // AP, RI
      skip_text_header(r);
      nrows[0] = read_free_rows(r, t.rows[0]);
      if (t.rows[0][1][0] > t.rows[0][nrows[0]][0]) reverse_rows(t.rows[0], nrows[0]);
      break;
  }

  // Row 0 at frequency 0 carries the lowest row's values down to zero, so
  // harmonics below the first measured frequency take its response.
  for (int g = 0; g < 3; ++g) {
    if (nrows[g] < 1) continue;
    t.rows[g][0] = t.rows[g][1];
    t.rows[g][0][0] = 0.0f;
  }
  t.nrows = nrows;
  t.type = type;
  t.name = r.name();
  return RspLoad::loaded;
}

bool response_at(const ResponseFile& t, int i, int j, float f, std::complex<float>& H) {
  if (i < 1 || i > 3 || j < 1 || j > 4)
    throw Error("response table " + t.name + ": no group " + std::to_string(i) + " pair " + std::to_string(j) +
                " (groups 1 to 3, pairs 1 to 4)");
  const auto& rows = t.rows[static_cast<std::size_t>(i - 1)];
  const int n = t.nrows[static_cast<std::size_t>(i - 1)];
  const int ca = 2 * j - 1, cp = 2 * j;
  for (int r = 0; r < n; ++r) {
    const float f0 = rows[r][0], f1 = rows[r + 1][0];
    if (!(f0 < f && f <= f1)) continue;
    const float w = (f1 - f) / (f1 - f0);
    const float A = rows[r][ca] * w + rows[r + 1][ca] * (1.0f - w);
    const float P = rows[r][cp] * w + rows[r + 1][cp] * (1.0f - w);
    if (t.type == ft_ri) {
      H = {A, P};
    } else {
      const float phase = P * kPi / 180.0f;
      H = {A * std::cos(phase), A * std::sin(phase)};
    }
    return true;
  }
  return false;
}

}  // namespace qv
