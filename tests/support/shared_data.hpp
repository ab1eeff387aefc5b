// Test support: tests that read the shared data beside the checkout (the
// published reference-field tables, the real recordings) skip when it is
// missing, unless the build requires it (QV_REQUIRE_SHARED_DATA, which CI
// sets): then a missing file fails the test, so CI cannot pass without them.
#pragma once

#include <gtest/gtest.h>

#ifndef QV_REQUIRE_SHARED_DATA
#define QV_REQUIRE_SHARED_DATA 0
#endif

// Use at the top of a test body: skips (or fails) it unless `present`.
#define QV_NEED_SHARED_DATA(present, what)                                                \
  do {                                                                                  \
    if (!(present)) {                                                                   \
      if (QV_REQUIRE_SHARED_DATA) FAIL() << what << " (the build requires the shared data)"; \
      GTEST_SKIP() << what;                                                             \
    }                                                                                   \
  } while (0)
