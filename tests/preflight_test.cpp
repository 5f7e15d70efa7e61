// Size checks before the work: the free memory read from /proc/meminfo's text, and a
// need beyond it refused in one line.
#include "app/preflight.h"

#include <gtest/gtest.h>

#include <string>

TEST(Preflight, ReadsMemAvailableInBytesAndOnlyThatLine) {
  struct Case {
    const char* text;
    bool found;
    std::uint64_t bytes;
  };
  const Case cases[] = {
      {"MemTotal:       24000000 kB\nMemFree:  100 kB\nMemAvailable:   20000000 kB\n", true, 20000000ull * 1024},
      {"MemAvailable: 0 kB\n", true, 0},
      {"MemTotal: 24000000 kB\nMemFree: 100 kB\n", false, 0},  // kernels before 3.14
      {"", false, 0},
  };
  for (const Case& c : cases) {
    std::uint64_t bytes = 7;
    EXPECT_EQ(availableMemory(c.text, bytes), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(Preflight, ANeedBeyondTheFreeMemoryIsRefusedInOneLine) {
  std::string error;
  EXPECT_TRUE(checkMemory(1, "capture at 64x32", error)) << error;
  EXPECT_FALSE(checkMemory(1ull << 62, "capture at 16384x16384", error));  // 4 EiB
  EXPECT_EQ(error.rfind("cannot capture at 16384x16384: it needs about ", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}
