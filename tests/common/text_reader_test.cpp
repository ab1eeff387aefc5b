#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/text_reader.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

TEST(FreeFormat, ReadsAcrossLinesAndIgnoresTheRestOfTheLastLine) {
  TextReader r;
  r.open_text("t.cfg", "4, 7\n128\t32.5\n 1 2 3 ignored words\nnext\n");
  int a = 0, b = 0, c = 0;
  float olap = 0;
  EXPECT_EQ(r.read(a, b), ReadStatus::ok);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 7);
  int d = 0, e = 0;
  EXPECT_EQ(r.read(c, olap, d, e), ReadStatus::ok);  // continues onto line 3
  EXPECT_EQ(c, 128);
  EXPECT_FLOAT_EQ(olap, 32.5f);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(e, 2);
  std::string_view line;
  ASSERT_TRUE(r.next_line(line));  // each read starts on a new line
  EXPECT_EQ(line, "next");
}

TEST(FreeFormat, ExponentsWithEAndD) {
  TextReader r;
  r.open_text("t", "1.0e-21 2.0D-20 -3d2 +4.5\n");
  float a, b, c, d;
  ASSERT_EQ(r.read(a, b, c, d), ReadStatus::ok);
  EXPECT_FLOAT_EQ(a, 1.0e-21f);
  EXPECT_FLOAT_EQ(b, 2.0e-20f);
  EXPECT_FLOAT_EQ(c, -300.0f);
  EXPECT_FLOAT_EQ(d, 4.5f);
}

TEST(FreeFormat, EndOfFileAndBadValuesAreReportedWithFileAndLine) {
  TextReader r;
  r.open_text("decset.cfg", "3\n12.5 x\n");
  int n = 0;
  ASSERT_EQ(r.read(n), ReadStatus::ok);
  int i = 0;
  ReadStatus st = r.read(i);
  EXPECT_EQ(st, ReadStatus::bad_value);  // an integer cannot be 12.5
  EXPECT_EQ(r.describe(st, "the window length"),
            "file decset.cfg, line 2: expected the window length, found '12.5'");
  st = r.read(i);
  EXPECT_EQ(st, ReadStatus::end_of_file);
  EXPECT_THROW(r.require(st, "a level line"), Error);
  EXPECT_EQ(r.describe(st, "a level line"),
            "file decset.cfg, line 3: expected a level line, found the end of the file");
}

TEST(FreeFormat, SlashEndsAReadEarly) {
  TextReader r;
  r.open_text("t", "5 /\n");
  int a = 0, b = 9;
  EXPECT_EQ(r.read(a, b), ReadStatus::ok);
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 9);
}

// The sample reader's own decimal reading must give the general parser's
// float for every text it takes: digits M (as a whole number) and f of them
// after the point, near 2^24, where floats are sparsest, and spread over the
// whole range, at every f and both signs; and it must leave every other form
// to the general parser.
TEST(FreeFormat, PlainDecimalsGiveTheGeneralParsersFloat) {
  int checked = 0;
  auto check = [&](std::uint32_t m, int f) {
    std::string digits = std::to_string(m);
    if (static_cast<int>(digits.size()) < f + 1) digits.insert(0, static_cast<std::size_t>(f + 1) - digits.size(), '0');
    if (static_cast<int>(digits.size()) > 9) return;
    std::string text = f > 0 ? digits.substr(0, digits.size() - f) + "." + digits.substr(digits.size() - f) : digits;
    for (const std::string& t : {text, "-" + text}) {
      float fast = 0, general = 0;
      ASSERT_EQ(parse_plain_decimal(t.data(), t.data() + t.size(), fast), t.data() + t.size()) << t;
      ASSERT_TRUE(parse_real(t, general)) << t;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(fast), std::bit_cast<std::uint32_t>(general)) << t;
      ++checked;
    }
  };
  for (int f = 0; f <= 8; ++f) {
    for (std::uint32_t m = (1u << 24) - 20000; m <= (1u << 24); ++m) check(m, f);
    for (std::uint32_t m = 0; m <= (1u << 24); m += 997) check(m, f);
  }
  EXPECT_GT(checked, 500000);

  float v = 7.0f;
  const std::string text = "12.5,-3 4\t0.25\r";
  const char* p = text.data();
  const char* e = p + text.size();
  p = parse_plain_decimal(p, e, v);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(v, 12.5f);
  EXPECT_EQ(parse_plain_decimal(p + 1, e, v), p + 3);  // ends at the blank
  EXPECT_EQ(v, -3.0f);
  for (const char* other : {"16777217", "1234567890", "0.0000000001", "1e5", "+1", ".5", "5.", "-", "", "1.2.3", "12/",
                            "1-2", "2147483647", "0x10", "nan", "1D3"}) {
    v = 7.0f;
    EXPECT_EQ(parse_plain_decimal(other, other + std::strlen(other), v), nullptr) << other;
    EXPECT_EQ(v, 7.0f);
  }
}

// Tokens at the edges of the sample reader's own decimal reading, each with
// whether that way takes it: what it takes must be the general parser's float
// to the bit (signed zeros included) and end where the token ends, before any
// separator; what it leaves must reach the general parser untouched, which
// then reads it or refuses it as before.
TEST(FreeFormat, TrickyTokensTakeTheFastWayOnlyWhereItIsExact) {
  struct Row {
    const char* token;
    bool fast;     // read without the general parser
    bool general;  // a real number to the general parser
  };
  const Row rows[] = {
      {"16777216", true, true},      {"-16777216", true, true},    {"16777217", false, true},
      {"1677721.6", true, true},     {"0.16777216", true, true},   {"0.16777217", false, true},
      {"000000001", true, true},     {"0000000001", false, true},  {"0.00000001", true, true},
      {"0.000000001", false, true},  {"0.00000003", true, true},   {"1677721.5", true, true},
      {"8388607.5", false, true},    {"99999999", false, true},    {"9999999", true, true},
      {"0", true, true},             {"-0", true, true},           {"-0.000", true, true},
      {"00.50", true, true},         {"5.", false, true},          {".5", false, true},
      {"-.5", false, true},          {"+5", false, true},          {"1e5", false, true},
      {"1E-5", false, true},         {"2.5d3", false, true},       {"7D0", false, true},
      {"-", false, false},           {"--1", false, false},        {"1.2.3", false, false},
      {"1-2", false, false},         {"0x10", false, false},       {"nan", false, false},
      {"inf", false, false},         {"1.5x", false, false},       {"12/", false, false},
  };
  for (const Row& row : rows) {
    const std::string tok = row.token;
    float general = 7.0f;
    EXPECT_EQ(parse_real(tok, general), row.general) << tok;
    for (const char* after : {"", " 9", ",9", "\t9", "\r"}) {
      const std::string text = tok + after;
      const char* const b = text.data();
      float fast = 7.0f;
      const char* end = parse_plain_decimal(b, b + text.size(), fast);
      EXPECT_EQ(end != nullptr, row.fast) << tok;
      if (end) {
        EXPECT_EQ(end, b + tok.size()) << tok;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(fast), std::bit_cast<std::uint32_t>(general)) << tok;
      } else {
        EXPECT_EQ(fast, 7.0f) << tok;
      }
    }
  }
}

TEST(TextReaderFile, StepsBackAndRewindsAcrossBufferRefills) {
  const testing_support::TempFolder folder("reader");
  const std::string path = (folder / "lines.txt").string();
  {
    std::ofstream f(path);
    for (int i = 1; i <= 200000; ++i) f << "line " << i << "\r\n";
    f << "last without newline";
  }
  TextReader r;
  ASSERT_TRUE(r.open(path));
  std::string_view line;
  for (int i = 1; i <= 150000; ++i) ASSERT_TRUE(r.next_line(line));
  EXPECT_EQ(line, "line 150000");
  r.back_lines(4);
  ASSERT_TRUE(r.next_line(line));
  EXPECT_EQ(line, "line 149997");
  EXPECT_EQ(r.line_number(), 149997);
  int count = 149997;
  while (r.next_line(line)) ++count;
  EXPECT_EQ(count, 200001);
  EXPECT_EQ(line, "last without newline");
  r.rewind();
  ASSERT_TRUE(r.next_line(line));
  EXPECT_EQ(line, "line 1");
}

// The buffer is kept, uninitialised, from one source to the next: what an
// earlier, longer source left in it must never show through.
TEST(TextReaderFile, AReopenedOrMovedReaderSeesOnlyItsNewSource) {
  const testing_support::TempFolder folder("reader");
  const std::string long_path = (folder / "long.txt").string();
  const std::string short_path = (folder / "short.txt").string();
  const std::string empty_path = (folder / "empty.txt").string();
  {
    std::ofstream f(long_path);
    for (int i = 0; i < 3000; ++i) f << std::string(500, 'a') << "\n";
  }
  std::ofstream(short_path) << "b1\nb2";
  std::ofstream{empty_path};
  auto lines = [](TextReader& r) {
    std::vector<std::string> got;
    std::string_view line;
    while (r.next_line(line)) got.emplace_back(line);
    return got;
  };
  TextReader r;
  ASSERT_TRUE(r.open(long_path));
  EXPECT_EQ(lines(r).size(), 3000u);
  ASSERT_TRUE(r.open(short_path));
  EXPECT_EQ(lines(r), (std::vector<std::string>{"b1", "b2"}));
  r.rewind();
  EXPECT_EQ(lines(r), (std::vector<std::string>{"b1", "b2"}));
  ASSERT_TRUE(r.open(empty_path));
  EXPECT_TRUE(lines(r).empty());
  r.open_text("memory", "c1\r\nc");
  EXPECT_EQ(lines(r), (std::vector<std::string>{"c1", "c"}));
  r.open_text("nothing", "");
  EXPECT_TRUE(lines(r).empty());

  // Moved in the middle of a text or a file, it goes on where it was.
  for (const bool from_file : {false, true}) {
    TextReader a;
    if (from_file) ASSERT_TRUE(a.open(short_path));
    else a.open_text("memory", "b1\nb2");
    std::string_view line;
    ASSERT_TRUE(a.next_line(line));
    TextReader b = std::move(a);
    EXPECT_EQ(lines(b), std::vector<std::string>{"b2"}) << from_file;
    b.back_lines(2);
    EXPECT_EQ(lines(b), (std::vector<std::string>{"b1", "b2"})) << from_file;
  }
}

// A line may be 1 MiB long with its end of line, wherever it lies in the
// file; the buffer grows to it from a smaller start.
TEST(TextReaderFile, LinesUpToTheLimitAreReadWhole) {
  const testing_support::TempFolder folder("reader");
  const std::string path = (folder / "long_lines.txt").string();
  const std::string longest((1u << 20) - 1, 'x');
  const std::string longer(200000, 'y');
  {
    std::ofstream f(path, std::ios::binary);
    f << "short\n" << longest << "\n" << longer << "\r\nlast";
  }
  for (int pass = 0; pass < 2; ++pass) {  // the second time with the grown buffer, after a rewind
    TextReader r;
    ASSERT_TRUE(r.open(path));
    if (pass == 1) {
      std::string_view skip;
      while (r.next_line(skip)) {}
      r.rewind();
    }
    std::string_view line;
    ASSERT_TRUE(r.next_line(line));
    EXPECT_EQ(line, "short");
    ASSERT_TRUE(r.next_line(line));
    EXPECT_TRUE(line == longest) << line.size();
    ASSERT_TRUE(r.next_line(line));
    EXPECT_TRUE(line == longer) << line.size();
    ASSERT_TRUE(r.next_line(line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(r.next_line(line));
    r.back_lines(3);
    ASSERT_TRUE(r.next_line(line));
    EXPECT_TRUE(line == longest) << line.size();
  }
}

TEST(TextReaderFile, OverlongLineIsAnErrorNamingTheFile) {
  const testing_support::TempFolder folder("reader");
  const std::string path = (folder / "long_line.txt").string();
  {
    std::ofstream f(path);
    f << "first\n" << std::string(1u << 20, '1') << "\n";
  }
  TextReader r;
  ASSERT_TRUE(r.open(path));
  std::string_view line;
  ASSERT_TRUE(r.next_line(line));
  try {
    r.next_line(line);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("line 2: line longer than 1048576 characters"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace qv
