#include "common/flush_to_zero.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/console.hpp"
#include "common/error.hpp"
#include "driver/run.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

// The guard sets the mode and puts back what it found, whether that was
// off or already on (a nested guard must not turn it off for the outer one).
TEST(FlushToZero, ScopedToTheGuardAndNested) {
#if defined(__x86_64__) || defined(__i386__)
  const unsigned before = flush_to_zero_bits();
  {
    const FlushToZeroScope outer;
    const unsigned on = flush_to_zero_bits();
    EXPECT_EQ(on, 0x8040u);
    volatile float tiny = 1e-38f;
    EXPECT_EQ(tiny * 1e-3f, 0.0f);  // a denormal result is flushed
    {
      const FlushToZeroScope inner;
      EXPECT_EQ(flush_to_zero_bits(), on);
    }
    EXPECT_EQ(flush_to_zero_bits(), on);
  }
  EXPECT_EQ(flush_to_zero_bits(), before);
#else
  GTEST_SKIP() << "no flush-to-zero control on this processor";
#endif
}

// A run in-process, whether it fails (no recording in the folder) or
// processes the sample station, leaves the caller's mode as it was.
TEST(FlushToZero, RestoredAfterARun) {
  const testing_support::TempFolder folder("ftz");
  std::filesystem::copy(std::filesystem::path(QV_SOURCE_DIR) / "examples" / "sample_station", folder.path(),
                        std::filesystem::copy_options::recursive);
  const testing_support::WorkingDirectory here(folder.path());
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  const unsigned before = flush_to_zero_bits();
  EXPECT_THROW(run({"-A", "-f:absent.asc"}, con), Error);
  EXPECT_EQ(flush_to_zero_bits(), before);
  EXPECT_EQ(run({"-A", "-f:sample.asc"}, con), 0) << out.str() << err.str();
  EXPECT_EQ(flush_to_zero_bits(), before);
}

}  // namespace
}  // namespace qv
