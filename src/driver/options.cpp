#include "driver/options.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"
#include "driver/usage.hpp"

namespace qv {

namespace {

// Every argument is looked at through its first 50 characters, except the
// time-series name of "-f:", which is used whole: cutting it would silently
// turn a long station file name into another name.
constexpr std::size_t kArgWidth = 50;

bool starts(std::string_view a, std::string_view opt) { return a.substr(0, opt.size()) == opt; }

void apply_b(std::string_view a, RunOptions& o) {
  char c = a.size() > 2 ? a[2] : ' ';
  if (c == ' ') o.single_digit = 0;
  else if (c >= '0' && c <= '9') o.single_digit = c - '0';
  else
    throw Error("option \"" + std::string(a) + "\": expected a digit after -b, found '" + std::string(1, c) + "'");
}

void apply_p(std::string_view a, RunOptions& o, Console& con) {
  std::string_view rest = trim(a.substr(3));
  float f = 0;
  std::string_view tok[1];
  if (split_values(rest, tok) != 1 || !parse_real(tok[0], f))
    throw Error("option \"" + std::string(a) + "\": expected a powerline frequency in Hz after -p:, found '" +
                std::string(rest) + "'");
  o.powerline = f;
  con.say("freqfilt", f);
}

// What a user most likely meant by an argument that is no option, or "".
std::string hint(const std::string& a, const std::string& previous) {
  auto value_after = [&](char sep) { return a.substr(a.find(sep) + 1); };
  if (a == "-f" || a == "-F" || a == "--file")
    return "the time-series file is given as -f:NAME, with no blank after the colon";
  if (starts(a, "-f=") || starts(a, "-F:") || starts(a, "-F=") || starts(a, "--file="))
    return std::string("the time-series file is given as -f:") + value_after(a[2] == ':' ? ':' : '=');
  if (starts(a, "-p") || starts(a, "--powerline"))
    return "the powerline frequency is given as -p:F, e.g. -p:50";
  if (a == "-help" || a == "-?") return "the usage is shown by qel_vort -h";
  if (!a.empty() && a[0] != '-') {
    if (previous == "-f" || previous == "-F" || previous == "--file")
      return std::string("the time-series file is given as -f:") + a;
    return std::string("if it is the time-series file, give it as -f:") + a;
  }
  return "";
}

// An argument that matches no option changes nothing; the user is told,
// as the run would otherwise silently go on without what was meant.
void warn_unknown(const std::string& a, const std::string& previous, Console& con) {
  std::string h = hint(a, previous);
  con.err() << "qel_vort: warning: argument \"" << a << "\" is not an option of qel_vort and is ignored; "
            << (h.empty() ? std::string("qel_vort -h lists the options") : h) << '\n';
}

// "--max-sets=N": the windows a run stores before it stops, a whole number
// of at least 1. Memory does not grow with it: coefficients beyond the
// run's memory budget wait in a temporary file.
void apply_max_sets(std::string_view a, RunOptions& o) {
  std::string_view rest = a.substr(std::string_view("--max-sets").size());
  const bool equals = !rest.empty() && rest[0] == '=';
  if (equals) rest.remove_prefix(1);
  long long n = 0;  // held below 10 * INT_MAX + 10 while the digits come
  bool digits = !rest.empty();
  for (char c : rest) {
    if (c < '0' || c > '9') digits = false;
    else if (n <= INT_MAX) n = n * 10 + (c - '0');
  }
  if (!equals || !digits || n < 1 || n > INT_MAX)
    throw Error("option \"" + std::string(a) + "\": expected the largest number of windows to store after " +
                "--max-sets=, a whole number from 1 to " + std::to_string(INT_MAX) + ", found '" + std::string(rest) +
                "'");
  o.max_sets = static_cast<int>(n);
}

// "--elevation=M": the station's elevation in metres, a finite number, for
// the metadata file (the system parameter file holds none).
void apply_elevation(std::string_view a, RunOptions& o) {
  std::string_view rest = a.substr(std::string_view("--elevation").size());
  const bool equals = !rest.empty() && rest[0] == '=';
  if (equals) rest.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), v);
  if (!equals || rest.empty() || r.ec != std::errc() || r.ptr != rest.data() + rest.size() || !std::isfinite(v) ||
      std::fabs(v) > 1.0e5)
    throw Error("option \"" + std::string(a) + "\": expected the station's elevation in metres after " +
                "--elevation=, a number from -100000 to 100000, found '" + std::string(rest) + "'");
  o.elevation_m = v;
}

// "--threads=N": 1 or 2.
void apply_threads(std::string_view a, RunOptions& o) {
  std::string_view rest = a.substr(std::string_view("--threads").size());
  const bool equals = !rest.empty() && rest[0] == '=';
  if (equals) rest.remove_prefix(1);
  if (!equals || (rest != "1" && rest != "2"))
    throw Error("option \"" + std::string(a) + "\": expected the number of threads after --threads=, 1 or 2, found '" +
                std::string(rest) + "'");
  o.threads = rest[0] - '0';
}

// Two threads where the machine has two processors; QV_THREADS (1 or 2)
// overrides that, so that a whole test suite can be run either way.
int default_threads() {
  if (const char* e = std::getenv("QV_THREADS")) {
    if (std::string_view(e) == "1") return 1;
    if (std::string_view(e) == "2") return 2;
  }
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

}  // namespace

RunOptions parse_options(const std::vector<std::string>& args, Console& con) {
  RunOptions o;
  std::string previous;
  for (const std::string& full : args) {
    std::string_view a = std::string_view(full).substr(0, kArgWidth);
    if (starts(a, "--max-sets")) {
      apply_max_sets(full, o);
      continue;
    }
    if (starts(a, "--elevation")) {
      apply_elevation(full, o);
      continue;
    }
    if (starts(a, "--threads")) {
      apply_threads(full, o);
      continue;
    }
    // Two-character options first, in table order, then three-character ones.
    if (starts(a, "-b")) {
      apply_b(a, o);
    } else if (starts(a, "-a")) {
      o.ascii = true;
    } else if (starts(a, "-A")) {
      o.ascii = true;
      o.clock_in_headers = true;
    } else if (starts(a, "-N")) {
      o.ascii = true;
      o.nims = true;
      o.clock_in_headers = true;
      o.real_numbers = false;
    } else if (starts(a, "-B")) {
      o.ascii = false;
      o.nims = true;
      o.real_numbers = false;
    } else if (starts(a, "-f:")) {
      o.name_given = true;
      o.ts_name = std::string(trim(std::string_view(full).substr(3)));
    } else if (starts(a, "-KA")) {
      o.ascii = true;
      o.clock_in_headers = true;
      o.real_numbers = true;
    } else if (starts(a, "-ka")) {
      o.ascii = true;
      o.clock_in_headers = false;
      o.real_numbers = true;
    } else if (starts(a, "-sp") || starts(a, "-SP")) {
      // accepted; no effect
    } else if (starts(a, "-p:")) {
      apply_p(a, o, con);
    } else {
      warn_unknown(full, previous, con);
    }
    previous = full;
  }
  if (o.threads == 0) o.threads = default_threads();
  return o;
}

void write_banner(Console& con) {
  const std::string stars(56, '*');
  const std::string empty = "*" + std::string(54, ' ') + "*";
  con.text(stars);
  con.text(empty);
  con.text(std::string("*   QEL_VORT   Version: ") + kProgramVersion + "." + "   Date: " + kProgramDate + "        *");
  con.text(empty);
  con.text(stars);
  con.text(" ");
}

void announce_format(const RunOptions& o, Console& con) {
  if (o.ascii) {
    con.text(o.nims ? "  Reading from ASCII NIMS data file" : "  Reading from generic ASCII data file");
    con.blank();
    if (o.clock_in_headers)
      con.text(std::string("  Assuming clock reset information ") + "in data file headers");
    else
      con.text(std::string("  Reading clock reset information from ") + ".clk file");
    con.blank();
    con.blank();
  } else if (o.nims) {
    con.text("  Reading from NIMS binary data files");
  } else {
    con.text("  Reading from binary data files");
    con.text("  QEL binary format ");
  }
  if (o.real_numbers) con.text("  reading real numbers");
}

}  // namespace qv
