// Line-oriented reading of the station's text files, with the free-format
// ("list-directed") value reads that every set-up file, header and ASCII
// recording uses: values separated by blanks, commas or tabs; a read starts on
// a new line and continues onto following lines until it has all its values;
// the rest of its last line is ignored; exponents may be written with E or D;
// a '/' ends a read early and leaves the remaining values unchanged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class ReadStatus { ok, end_of_file, bad_value };

// Destination of one free-format value.
struct FreeField {
  enum Kind { i32, i64, f32, f64 } kind;
  void* target;
  FreeField(std::int32_t& v) : kind(i32), target(&v) {}
  FreeField(std::int64_t& v) : kind(i64), target(&v) {}
  FreeField(float& v) : kind(f32), target(&v) {}
  FreeField(double& v) : kind(f64), target(&v) {}
};

// Parses one free-format token. Integers take an optional sign and digits
// only; reals also take a point, and an exponent with E, e, D or d.
bool parse_int(std::string_view tok, std::int64_t& v);
bool parse_real(std::string_view tok, double& v);
bool parse_real(std::string_view tok, float& v);
// Reads a real written as plain decimal digits with an optional '-' and
// point ("-1234.56", "15", "0.001"), the way recordings write their samples,
// from [b, e) without the general parser. Returns the end of the number when
// it is followed by e or a value separator (blank, comma, tab, carriage
// return), with v the float nearest to the number, as parse_real gives it;
// nullptr, v untouched, for any other text and for numbers outside the range
// this way takes (more than 9 digits, or digits above 2^24 as a whole number),
// which are left to parse_real. Inline: it reads nearly every sample of a
// real-valued text recording.
//
// The digits, taken as a whole number M with f of them after the point, give
// the number M / 10^f. With M <= 2^24 and f <= 9 both M and 10^f are floats
// exactly, and one division, correctly rounded as every IEEE division is,
// gives the float nearest to M / 10^f; the general parser gives the nearest
// float too, so the two agree for every such text. (Neither meets a tie: a
// quotient M / 10^f that is a binary fraction has M / 5^f below 2^22 as its
// digits, so it is a float itself.)
//
// The digit loops stay a plain byte loop on purpose. Their branches follow the
// shape of a recording's columns and are predicted, so the next token's start
// never waits for a load; a 16-byte compare with a word-wide digit combine,
// and a branch-free sign, put their loads on that path instead and measured
// 1.6 to 3 times slower on 10 h of five-channel samples.
inline const char* parse_plain_decimal(const char* b, const char* e, float& v) {
  static constexpr float pow10[10] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f};
  auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned('0'); };
  const char* p = b;
  const bool negative = p < e && *p == '-';
  if (negative) ++p;
  // Whole number of all digits; more than 9 of them are refused below, so
  // its wrapping around for longer ones does not matter.
  std::uint32_t m = 0;
  const char* const first = p;
  for (; p < e && digit(*p) < 10; ++p) m = m * 10 + digit(*p);
  const long whole_digits = p - first;
  long after_point = 0;
  if (p < e && *p == '.') {
    const char* const point = ++p;
    for (; p < e && digit(*p) < 10; ++p) m = m * 10 + digit(*p);
    after_point = p - point;
    if (after_point == 0) return nullptr;
  }
  if (whole_digits == 0 || whole_digits + after_point > 9 || m > (std::uint32_t(1) << 24)) return nullptr;
  if (p < e && !(*p == ' ' || *p == ',' || *p == '\t' || *p == '\r')) return nullptr;
  const float q = static_cast<float>(m) / pow10[after_point];
  v = negative ? -q : q;
  return p;
}

// Splits the values of a text into tokens (blank, comma, tab separated).
// Returns the number of tokens stored into out (at most out.size()).
int split_values(std::string_view text, std::span<std::string_view> out);
// Parses the first fields.size() values of one text (a single line or a
// fixed-width field); ok, end_of_file when it holds fewer values, or bad_value.
ReadStatus read_values_from(std::string_view text, std::span<const FreeField> fields);

class TextReader {
 public:
  TextReader();
  ~TextReader();
  TextReader(TextReader&&) noexcept;
  TextReader& operator=(TextReader&&) noexcept;

  // Opens a file for reading; false when it cannot be opened. A folder of
  // that name raises an Error ("<path> is a folder, not a file").
  bool open(const std::string& path);
  // Reads from a text held in memory (tests, console answers).
  void open_text(std::string name, std::string content);
  bool is_open() const;
  void close();
  const std::string& name() const { return name_; }

  // Number (1-based) of the line last read; 0 before the first line.
  std::int64_t line_number() const { return line_no_; }
  // Bytes of the source before the next unread one, and the size of the
  // source as it was opened (0 when it could not be told).
  std::int64_t offset() const { return buf_offset_ + std::int64_t(beg_); }
  std::int64_t size() const { return size_; }

  // Next line without its end-of-line characters; false at the end of the
  // file. The view stays valid until the next call on this reader. A line
  // longer than the reader's buffer (1 MiB) raises an Error naming the file.
  bool next_line(std::string_view& line);
  // Back to the first line.
  void rewind();
  // Steps back k lines, so that the next read returns the line k lines before
  // the one that would have come next. Raises an Error beyond the lines kept.
  void back_lines(int k);

  // One free-format read (see the module comment). On end_of_file or
  // bad_value the values not reached keep their contents.
  ReadStatus read(std::span<const FreeField> fields);
  template <class... T>
  ReadStatus read(T&... v) {
    FreeField f[] = {FreeField(v)...};
    return read(std::span<const FreeField>(f, sizeof...(T)));
  }
  // Raises an Error unless status is ok; the message names the file, the
  // line and what was expected (for example "the number of levels").
  void require(ReadStatus status, std::string_view expected) const;
  // The same message text, for callers that raise it themselves.
  std::string describe(ReadStatus status, std::string_view expected) const;

 private:
  bool fill();
  void reserve(std::size_t n, std::size_t keep);
  void seek_to(std::int64_t offset, std::int64_t line_no);

  std::string name_;
  std::FILE* file_ = nullptr;
  bool in_memory_ = false;
  // A file is read in chunks into the first buf_size_ bytes of buf_: 64 KiB,
  // doubled while a line does not fit, up to the 1 MiB limit of a line. An
  // in-memory text is copied into its first buf_size_ bytes. The storage is
  // left uninitialised and kept from one open to the next, so an open costs
  // only the bytes actually read: most of a station's files are a few lines
  // long, and zero-filling a whole 1 MiB on every open cost more than reading
  // them.
  std::unique_ptr<char[]> buf_;
  std::size_t buf_capacity_ = 0;   // bytes allocated at buf_
  std::size_t buf_size_ = 0;       // bytes of buf_ the current source may use
  std::size_t beg_ = 0, end_ = 0;  // unread bytes are buf_[beg_, end_)
  std::int64_t buf_offset_ = 0;    // file offset of buf_[0]
  std::int64_t size_ = 0;          // bytes of the file or text
  bool eof_ = false;
  std::int64_t line_no_ = 0;  // a recording at 1000 Hz passes 2^31 lines in 25 days
  static constexpr int kKeep = 16;  // line starts kept for back_lines
  std::int64_t starts_[kKeep] = {};  // file offset where line (line_no_ - i) + 1 starts
  std::string last_token_;
  std::int64_t last_line_of_error_ = 0;
};

}  // namespace qv
