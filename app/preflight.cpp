// Size checks before the work: the renderer's limit and the machine's free memory.
#include "app/preflight.h"

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

std::string gibibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1ull << 30));
  return text;
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

bool checkMemory(std::uint64_t needed, const std::string& action, std::string& error) {
  std::ifstream file("/proc/meminfo");
  std::stringstream text;
  text << file.rdbuf();
  std::uint64_t available = 0;
  if (!availableMemory(text.str(), available) || needed <= available) return true;
  error = "cannot " + action + ": it needs about " + gibibytes(needed) + " of memory and " + gibibytes(available) +
          " is available; choose a smaller --size";
  return false;
}
