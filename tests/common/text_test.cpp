#include <gtest/gtest.h>

#include "common/rounding.hpp"
#include "common/text.hpp"

namespace qv {
namespace {

TEST(TextHelpers, TrimmedPositions) {
  EXPECT_EQ(last_nonblank("abc   "), 3);
  EXPECT_EQ(last_nonblank("      "), 0);
  EXPECT_EQ(first_nonblank("   x "), 4);
  EXPECT_EQ(first_nonblank("    "), 4);  // the length when all blank
  EXPECT_EQ(base_name_length("site1.bin"), 5);
  EXPECT_EQ(base_name_length("a.b.c"), 1);
  EXPECT_EQ(base_name_length("noext  "), 5);
  EXPECT_EQ(base_name_length(" lead"), 0);
}

TEST(TextHelpers, FixedFieldPadsShortLines) {
  EXPECT_EQ(fixed_field("abc", 1, 4), "bc  ");
  EXPECT_EQ(fixed_field("abcdef", 0, 3), "abc");
}

TEST(TextHelpers, PathsJoinWithSlashAndAcceptBackslashes) {
  EXPECT_EQ(join_path("", "x.sp"), "x.sp");
  EXPECT_EQ(join_path("data  ", "x.asc"), "data/x.asc");
  EXPECT_EQ(join_path("C:\\st\\", "x"), "C:/st/x");
  EXPECT_EQ(join_path("d", "cfg\\dec1.cfg"), "d/cfg/dec1.cfg");
}

TEST(Rounding, HalvesAwayFromZero) {
  EXPECT_EQ(nint(2.5), 3);
  EXPECT_EQ(nint(-2.5), -3);
  EXPECT_EQ(nint(2.4999f), 2);
  EXPECT_EQ(nint(-0.5f), -1);
  EXPECT_EQ(nint64(4.5e12), 4500000000000LL);
}

}  // namespace
}  // namespace qv
