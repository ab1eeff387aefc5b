#include "calibration/channel_filters.hpp"

#include <string_view>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv {

namespace {

constexpr int kShortName = 40;  // characters of the line that name a TB or pole-zero file
constexpr int kLongName = 80;   // characters of the line that name an AP or RI file

// The text up to and including the first ".rsp" (the rest of the line may
// hold comments); the whole text when it has none.
std::string_view cut_after_rsp(std::string_view s) {
  const std::size_t at = s.find(".rsp");
  return at == std::string_view::npos ? s : s.substr(0, at + 4);
}

// A free-format token as a name: quotes around it are dropped.
std::string_view unquoted(std::string_view tok) {
  if (tok.size() >= 2 && (tok.front() == '\'' || tok.front() == '"') && tok.back() == tok.front())
    return tok.substr(1, tok.size() - 2);
  return tok;
}

class FilterLine {
 public:
  FilterLine(const SystemParameters& sp, int c, int j)
      : sp_(sp), c_(c), j_(j), line_(sp.ch[static_cast<std::size_t>(c)].fline[static_cast<std::size_t>(j)]) {}

  std::string_view text() const { return line_; }

  [[noreturn]] void fail(const std::string& what) const { throw Error(filter_place(sp_, c_, j_) + ": " + what); }

  // The first values of the line as free-format numbers.
  template <class... T>
  void values(const char* expected, T&... v) const {
    FreeField fields[] = {FreeField(v)...};
    if (read_values_from(line_, fields) != ReadStatus::ok)
      fail(std::string("expected ") + expected + " on its parameter line, found '" + std::string(trim(line_)) + "'");
  }

  // A file name: the sensor folder joined with the given name.
  std::string file(std::string_view name, const std::string& sensor_dir) const {
    const std::string_view n = trim(name);
    if (n.empty()) fail("expected the name of a response file on its parameter line, found a blank line");
    return join_path(trim_right(sensor_dir), n);
  }

 private:
  const SystemParameters& sp_;
  int c_, j_;
  std::string_view line_;
};

void nonzero_gain(const FilterLine& line, float g) {
  if (g == 0.0f) line.fail("a gain g of 0 (a filter that passes nothing cannot be divided out)");
}

void read_pole_zero(const FilterLine& line, const std::string& sensor_dir, ChannelFilter& f, Console& con) {
  std::string text(line.text());
  if (text.find(".rsp") != std::string::npos) {
    // The description lies in a file of the sensor folder; its first line
    // takes the place of the parameter line.
    f.file = line.file(cut_after_rsp(std::string_view(text).substr(0, kShortName)), sensor_dir);
    con.say("PZ name", f.file);
    TextReader r;
    if (!r.open(f.file)) {
      con.say("error in open rsp-file");
      line.fail("cannot open the pole-zero file " + f.file);
    }
    std::string_view first;
    if (!r.next_line(first)) {
      con.say("error in reading PZ from file");
      line.fail("the pole-zero file " + f.file + " has no first line");
    }
    text = std::string(first.substr(0, 256));
  }
  std::string why;
  if (!parse_pole_zero(text, f.pz, why))
    line.fail("pole-zero description" + (f.file.empty() ? std::string() : " in " + f.file) + ": " + why);
  if (f.pz.K == 0.0) line.fail("a pole-zero gain K of 0 (a response of 0 cannot be divided out)");
}

void read_table(const FilterLine& line, const std::string& sensor_dir, ChannelFilter& f, Console& con) {
  const std::string_view text = line.text();
  std::string_view name;
  switch (f.type) {
    case ft_te: {
      // name, group i and pair j, free format
      std::string_view tok[3];
      const int n = split_values(text, tok);
      if (n < 1) line.fail("expected a response file name, group i and pair j on its parameter line");
      name = unquoted(tok[0]);
      std::int64_t v = 0;
      if (n >= 2 && (!parse_int(tok[1], v) || v < 1 || v > 3))
        line.fail("expected the column group i (1 to 3) after the file name, found '" + std::string(tok[1]) + "'");
      if (n >= 2) f.group = static_cast<int>(v);
      if (n >= 3 && (!parse_int(tok[2], v) || v < 1 || v > 4))
        line.fail("expected the pair j (1 to 4) after the group, found '" + std::string(tok[2]) + "'");
      if (n >= 3) f.pair = static_cast<int>(v);
      break;
    }
    case ft_tb:
      name = text.substr(0, kShortName);
      break;
    case ft_pa:
    case ft_05: {
      std::string_view tok[1];
      if (split_values(text, tok) == 1) name = unquoted(tok[0]);
      break;
    }
    default:  // AP, RI
      name = cut_after_rsp(text.substr(0, kLongName));
      break;
  }
  f.file = line.file(name, sensor_dir);
  if (f.type == ft_ap || f.type == ft_ri) con.say("98-cfrsp:", f.file);
  if (load_response_file(f.type, f.file, f.table, con) == RspLoad::skipped) f.left_out = true;
}

}  // namespace

std::string filter_place(const SystemParameters& sp, int c, int j) {
  const ChannelDescription& ch = sp.ch[static_cast<std::size_t>(c)];
  return "system parameter file " + sp.source + ", channel " + std::to_string(c + 1) + " (" +
         std::string(trim(ch.id)) + "), filter " + std::to_string(j + 1) + " (" +
         std::string(trim(ch.fcode[static_cast<std::size_t>(j)])) + ")";
}

void prepare_filter(const SystemParameters& sp, int c, int j, const std::string& sensor_dir, ChannelFilter& f,
                    Console& con) {
  const FilterLine line(sp, c, j);
  f.type = sp.ch[static_cast<std::size_t>(c)].ftype[static_cast<std::size_t>(j)];
  f.g = 1;
  f.p1 = f.p2 = 0;
  f.group = f.pair = 1;
  f.file.clear();
  f.left_out = false;
  switch (f.type) {
    case ft_h1:
    case ft_l1:
      line.values("the gain g and the corner period p1 in seconds", f.g, f.p1);
      nonzero_gain(line, f.g);
      break;
    case ft_h2:
    case ft_l2:
      line.values("the gain g, the corner period p1 in seconds and the damping p2", f.g, f.p1, f.p2);
      nonzero_gain(line, f.g);
      break;
    case ft_bc:
      line.values("the gain g, the averaging length p1 and the delay p2 in seconds", f.g, f.p1, f.p2);
      nonzero_gain(line, f.g);
      break;
    case ft_dt:
      line.values("the delay in seconds", f.p1);
      break;
    case ft_pz:
      read_pole_zero(line, sensor_dir, f, con);
      break;
    case ft_te:
    case ft_tb:
    case ft_pa:
    case ft_05:
    case ft_ap:
    case ft_ri:
      read_table(line, sensor_dir, f, con);
      break;
    default:  // pd, mx, the polynomial fits, UC and unknown codes take nothing from the line
      break;
  }
}

bool channel_filter_response(const ChannelFilter& flt, float f, std::complex<double>& gH) {
  const float T = 1.0f / f;
  switch (flt.type) {
    case ft_h1:
    case ft_l1:
    case ft_h2:
    case ft_l2:
    case ft_bc:
      gH = static_cast<double>(flt.g) * std::complex<double>(filter_response(flt.type, flt.p1, flt.p2, T));
      return true;
    case ft_ra:
    case ft_ma:
    case ft_r2:
    case ft_m1:
      gH = fit_response(flt.type, static_cast<double>(f));
      return true;
    case ft_pz:
      gH = pz_response(flt.pz, static_cast<double>(f));
      return true;
    case ft_te:
    case ft_tb:
    case ft_pa:
    case ft_05:
    case ft_ap:
    case ft_ri: {
      if (flt.left_out) {
        gH = 1.0;
        return true;
      }
      std::complex<float> h;
      if (!response_at(flt.table, flt.group, flt.pair, f, h)) return false;
      gH = std::complex<double>(h);
      return true;
    }
    default:  // pd, mx, UC, DT, unknown
      gH = std::complex<double>(fixed_response(flt.type, f, flt.p1));
      return true;
  }
}

}  // namespace qv
