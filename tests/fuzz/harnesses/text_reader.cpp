// The free-format text reader, read from memory and from a file in step. The
// two sources share the line and value rules but not the buffering (a file is
// read in chunks and stepped back by seeking), so every difference between
// them is a defect of one. Tokens are also checked against each other: a
// value that reads as an integer reads as the same real, and one that fits a
// float fits a double.
#include <array>
#include <cmath>
#include <cstring>

#include "common/text_reader.hpp"
#include "fuzz/harnesses/support.hpp"

namespace qv::fuzz {

namespace {

constexpr std::size_t kProgramBytes = 15;
constexpr std::size_t kLongestCompared = 1 << 20;  // a longer line is an Error only when read from a file

struct Values {
  std::array<std::int32_t, 4> i32{};
  std::array<std::int64_t, 4> i64{};
  std::array<float, 4> f32{};
  std::array<double, 4> f64{};
  bool operator==(const Values& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

// What one call gave: its result in words, so two readers can be compared.
struct Outcome {
  std::string what;
  Values values;
  bool operator==(const Outcome&) const = default;
};

// Field k of a read, of the kind bits 2k..2k+1 of `kinds` pick.
FreeField field(Values& v, std::uint8_t kinds, int k) {
  switch (kinds >> (2 * k) & 3) {
    case 0: return FreeField(v.i32[k]);
    case 1: return FreeField(v.i64[k]);
    case 2: return FreeField(v.f32[k]);
    default: return FreeField(v.f64[k]);
  }
}

// The reader call of one program byte.
Outcome step(TextReader& r, std::uint8_t op, std::uint8_t kinds) {
  Outcome o;  // values a read does not reach stay as they are: the same in both readers
  try {
    switch (op & 7) {
      case 0:
      case 1: {
        std::string_view line;
        const bool got = r.next_line(line);
        if (got && line.find('\n') != std::string_view::npos) finding("next_line returned a line end inside a line");
        o.what = got ? "line '" + std::string(line) + "'" : "end";
        break;
      }
      case 2:
      case 3: {
        const int n = 1 + (op >> 3 & 3);
        const FreeField fields[4] = {field(o.values, kinds, 0), field(o.values, kinds, 1),
                                     field(o.values, kinds, 2), field(o.values, kinds, 3)};
        const ReadStatus st = r.read(std::span<const FreeField>(fields, static_cast<std::size_t>(n)));
        o.what = st == ReadStatus::ok ? "ok" : r.describe(st, "values");
        break;
      }
      case 4:
      case 5:
        r.back_lines(op >> 3);
        o.what = "back";
        break;
      case 6:
        r.rewind();
        o.what = "rewind";
        break;
      default: {
        std::string_view line;
        int n = 0;
        while (r.next_line(line)) ++n;
        o.what = std::to_string(n) + " lines to the end";
        break;
      }
    }
  } catch (const Error& e) {
    o.what = std::string("error: ") + e.what();
  }
  o.what += " at line " + std::to_string(r.line_number());
  return o;
}

void check_tokens(std::string_view text) {
  std::array<std::string_view, 64> tok;
  const int n = split_values(text, tok);
  for (int k = 0; k < n; ++k) {
    std::int64_t i = 0;
    double d = 0;
    float f = 0;
    const bool is_int = parse_int(tok[k], i);
    const bool is_double = parse_real(tok[k], d);
    const bool is_float = parse_real(tok[k], f);
    std::string broken;
    if (is_float && !is_double) broken = "reads as a float but not as a double";
    if (is_int && tok[k].size() <= 64 && (!is_double || static_cast<double>(i) != d))
      broken = "reads as the integer " + std::to_string(i) + " but not as that real";
    if (is_double && !std::isfinite(d)) broken = "reads as a real that is not finite";
    if (!broken.empty()) {
      std::string msg = "token '";
      msg += tok[k];
      msg += "' ";
      finding(msg + broken);
    }
  }
}

}  // namespace

int text_reader(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t kinds = in.byte();
  const std::string_view program = in.bytes(kProgramBytes);
  const std::string text(in.rest());
  return expect_errors([&] {
    check_tokens(text);
    std::int32_t i = 0;
    double d = 0;
    const FreeField two[] = {i, d};
    read_values_from(text, two);

    const std::string path = write_file(scratch() / "text", text);
    TextReader mem, file;
    mem.open_text(path, text);
    if (!file.open(path)) throw std::runtime_error("cannot open " + path);
    const bool compare = text.size() < kLongestCompared;
    for (const char op : program) {
      const Outcome a = step(mem, static_cast<std::uint8_t>(op), kinds);
      const Outcome b = step(file, static_cast<std::uint8_t>(op), kinds);
      if (compare && !(a == b)) finding("from memory: " + a.what + "; from a file: " + b.what);
    }
    const Outcome a = step(mem, 7, kinds);
    const Outcome b = step(file, 7, kinds);
    if (compare && !(a == b)) finding("to the end from memory: " + a.what + "; from a file: " + b.what);
  });
}

}  // namespace qv::fuzz
