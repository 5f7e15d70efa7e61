// Checks of a picture size made before any work starts: the largest picture the
// renderer can draw, and the memory a size needs against what the machine has free.
#pragma once

#include <cstdint>
#include <string>

struct HeadlessContext;

// Opens `context` at one pixel, to learn the renderer's largest picture before any
// buffer of the real size is made. False with an exit code and one line: 2 (a usage
// error) when W x H is beyond it, 1 when there is no headless OpenGL at all.
// `action` as in "cannot <action> at WxH: ...".
bool probeRenderer(HeadlessContext& context, int width, int height, const std::string& action, int& code,
                   std::string& error);

// The bytes a headless run at W x H holds at its peak: the show's own, the renderer's
// colour and depth buffers, `framesHeld` RGBA frames read back, and the encoder's
// `encoderBytesPerPixel`.
std::uint64_t memoryNeeded(int width, int height, int framesHeld, double encoderBytesPerPixel);

// MemAvailable in bytes from the text of /proc/meminfo; false where it is missing.
bool availableMemory(const std::string& meminfo, std::uint64_t& bytes);

// A field of /proc/self/status in bytes ("VmSize:", "VmData:"); false where it is missing.
bool statusBytes(const std::string& status, const char* field, std::uint64_t& bytes);

// The folder of this process's memory control group, from the texts of
// /proc/self/mountinfo and /proc/self/cgroup: the unified hierarchy's (cgroup2), else
// the memory controller's. Empty where there is none.
struct MemoryGroup {
  std::string folder;
  bool unified = false;  // memory.max and memory.current; else memory.limit_in_bytes and memory.usage_in_bytes
};
MemoryGroup memoryGroup(const std::string& mountinfo, const std::string& cgroups);

// What a run may still take: the least of the machine's available memory, the room
// under the process's address-space and data limits (ulimit -v, ulimit -d) and under its
// control group's limit, with what sets it ("available", "left under ulimit -v", ...).
struct MemoryRoom {
  bool known = false;
  std::uint64_t bytes = 0;
  const char* bound = "";
  // Takes `bytes` where it is less than what is known so far.
  void limit(std::uint64_t candidate, const char* what);
};
MemoryRoom memoryRoom();

// Whether `needed` bytes fit in what the machine and the process's limits leave; true
// where that cannot be known. One line in `error` otherwise: "cannot <action>: it needs ...".
bool checkMemory(std::uint64_t needed, const std::string& action, std::string& error);
