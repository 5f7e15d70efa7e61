// Size checks before the work: the renderer's limit and the machine's free memory.
#include "app/preflight.h"

#include <sys/resource.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/headless.h"

namespace {
// What every headless run holds whatever its size: the PlaybackBuffer, the decoded
// track, the glyph lists, Mesa and FFmpeg themselves (about 200 MiB measured).
constexpr std::uint64_t showBytes = 256ull << 20;
// The renderer's colour buffer, 4 bytes a pixel.
constexpr double rendererBytesPerPixel = 4.0;

// A control group's limit at or beyond this is none ("max", or v1's huge number).
constexpr std::uint64_t noGroupLimit = 1ull << 62;

// Sizes as people read them: GiB with a decimal from 10 GiB, whole MiB below.
std::string memoryText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 10ull << 30)
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1ull << 30));
  else
    std::snprintf(text, sizeof text, "%.0f MiB", static_cast<double>(bytes) / (1ull << 20));
  return text;
}

std::string fileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A number of bytes alone in a file (a control group's limit or usage); false for "max".
bool fileNumber(const std::string& path, std::uint64_t& value) {
  return std::sscanf(fileText(path).c_str(), "%" SCNu64, &value) == 1;
}

// Room under a resource limit for a process that already holds `used` bytes of it.
void limitRoom(MemoryRoom& room, int resource, const std::string& status, const char* field, const char* what) {
  rlimit limit{};
  std::uint64_t used = 0;
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || !statusBytes(status, field, used)) return;
  // What the process holds is counted twice, in `used` and in every need's showBytes:
  // the margin that address space wants anyway for the encoder's threads, their
  // stacks and their allocators' arenas.
  const std::uint64_t cap = limit.rlim_cur;
  room.limit(cap > used ? cap - used : 0, what);
}
}  // namespace

bool probeRenderer(HeadlessContext& context, int width, int height, const std::string& action, int& code,
                   std::string& error) {
  if (!context.open(1, 1, error)) {
    code = 1;
    return false;
  }
  const int largest = context.largestSide;
  if (width <= largest && height <= largest) return true;
  code = 2;
  error = "cannot " + action + " at " + std::to_string(width) + "x" + std::to_string(height) +
          ": the renderer draws at most " + std::to_string(largest) + " pixels on a side";
  return false;
}

std::uint64_t memoryNeeded(int width, int height, int framesHeld, double encoderBytesPerPixel) {
  const double pixels = static_cast<double>(width) * height;
  return showBytes +
         static_cast<std::uint64_t>(pixels * (rendererBytesPerPixel + 4.0 * framesHeld + encoderBytesPerPixel));
}

bool availableMemory(const std::string& meminfo, std::uint64_t& bytes) {
  std::istringstream lines(meminfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::uint64_t kibibytes = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %" SCNu64 " kB", &kibibytes) == 1) {
      bytes = kibibytes * 1024;
      return true;
    }
  }
  return false;
}

bool statusBytes(const std::string& status, const char* field, std::uint64_t& bytes) {
  const std::string pattern = std::string(field) + " %" SCNu64 " kB";
  std::istringstream lines(status);
  std::string line;
  while (std::getline(lines, line)) {
    std::uint64_t kibibytes = 0;
    if (std::sscanf(line.c_str(), pattern.c_str(), &kibibytes) == 1) {
      bytes = kibibytes * 1024;
      return true;
    }
  }
  return false;
}

MemoryGroup memoryGroup(const std::string& mountinfo, const std::string& cgroups) {
  // This process's path in each hierarchy: "0::/path" for the unified one,
  // "4:memory:/path" for the memory controller's.
  std::string unifiedPath, memoryPath;
  bool haveUnified = false, haveMemory = false;
  std::istringstream groupLines(cgroups);
  std::string line;
  while (std::getline(groupLines, line)) {
    const std::size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      unifiedPath = path;
      haveUnified = true;
    }
    std::istringstream names(controllers);
    for (std::string name; std::getline(names, name, ',');)
      if (name == "memory") {
        memoryPath = path;
        haveMemory = true;
      }
  }
  // Where each hierarchy is mounted, and which of its folders the mount shows at its
  // top ("/" on the host; the container's own group inside one).
  MemoryGroup group;
  std::istringstream mountLines(mountinfo);
  while (std::getline(mountLines, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, field;
    fields >> id >> parent >> device >> root >> point >> options;
    while (fields >> field && field != "-") {
    }
    std::string type, source, superOptions;
    fields >> type >> source >> superOptions;
    const bool unified = type == "cgroup2" && haveUnified;
    const bool memory =
        type == "cgroup" && haveMemory && ("," + superOptions + ",").find(",memory,") != std::string::npos;
    if (!unified && !memory) continue;
    const std::string& path = unified ? unifiedPath : memoryPath;
    if (path.compare(0, root.size(), root) != 0) continue;  // the group lies outside what this mount shows
    std::string rest = root == "/" ? path : path.substr(root.size());
    if (rest == "/") rest.clear();
    // The memory controller's own hierarchy is preferred: where both are mounted,
    // the unified one holds no memory controller.
    if (memory || group.folder.empty()) {
      group.folder = point + rest;
      group.unified = unified;
    }
  }
  return group;
}

void MemoryRoom::limit(std::uint64_t candidate, const char* what) {
  if (known && candidate >= bytes) return;
  known = true;
  bytes = candidate;
  bound = what;
}

MemoryRoom memoryRoom() {
  MemoryRoom room;
  std::uint64_t bytes = 0;
  if (availableMemory(fileText("/proc/meminfo"), bytes)) room.limit(bytes, "available");
  const std::string status = fileText("/proc/self/status");
  limitRoom(room, RLIMIT_AS, status, "VmSize:", "left under the address-space limit (ulimit -v)");
  limitRoom(room, RLIMIT_DATA, status, "VmData:", "left under the data limit (ulimit -d)");
  const MemoryGroup group = memoryGroup(fileText("/proc/self/mountinfo"), fileText("/proc/self/cgroup"));
  std::uint64_t cap = 0, used = 0;
  if (!group.folder.empty() &&
      fileNumber(group.folder + (group.unified ? "/memory.max" : "/memory.limit_in_bytes"), cap) &&
      cap < noGroupLimit &&
      fileNumber(group.folder + (group.unified ? "/memory.current" : "/memory.usage_in_bytes"), used))
    room.limit(cap > used ? cap - used : 0, "left under the control group's limit");
  return room;
}

bool checkMemory(std::uint64_t needed, const std::string& action, std::string& error) {
  const MemoryRoom room = memoryRoom();
  if (!room.known || needed <= room.bytes) return true;
  error = "cannot " + action + ": it needs about " + memoryText(needed) + " of memory and " + memoryText(room.bytes) +
          " is " + room.bound + "; choose a smaller --size";
  return false;
}
