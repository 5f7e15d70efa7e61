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

TEST(Preflight, FindsTheMemoryControlGroupsFolderAndTheProcesssOwnSizes) {
  struct Case {
    const char* mountinfo;
    const char* cgroups;
    const char* folder;
    bool unified;
  };
  const char* v1 =
      "31 30 0:28 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"
      "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
      "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
  const char* v2 = "29 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
  const Case cases[] = {
      // The memory controller's hierarchy wins over the unified one that holds none.
      {v1, "4:memory:/jobs/7\n1:cpu:/\n0::/\n", "/sys/fs/cgroup/memory/jobs/7", false},
      {v2, "0::/user.slice/app.scope\n", "/sys/fs/cgroup/user.slice/app.scope", true},
      // A container's own group at the top of its mount.
      {"29 23 0:26 /pod/x /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n", "0::/pod/x\n", "/sys/fs/cgroup", true},
      {"29 23 0:26 /other /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n", "0::/pod/x\n", "", false},
      {"", "0::/\n", "", false},
  };
  for (const Case& c : cases) {
    const MemoryGroup group = memoryGroup(c.mountinfo, c.cgroups);
    EXPECT_EQ(group.folder, c.folder) << c.cgroups;
    if (!group.folder.empty()) {
      EXPECT_EQ(group.unified, c.unified) << c.cgroups;
    }
  }
  std::uint64_t bytes = 0;
  EXPECT_TRUE(statusBytes("Name:\tpulse165\nVmPeak:\t  900 kB\nVmSize:\t  812 kB\n", "VmSize:", bytes));
  EXPECT_EQ(bytes, 812u * 1024);
  EXPECT_FALSE(statusBytes("VmSize:\t  812 kB\n", "VmData:", bytes));
}
