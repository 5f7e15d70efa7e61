// The virtual clock of headless rendering.
#include "show/virtual_clock.h"

#include "audio/playback.h"

namespace {
constexpr std::uint32_t screenshotLeadIn = 3 * sampleRate;  // frames rendered before the moment
}

std::uint32_t virtualPosition(std::uint64_t frame, int fps) {
  return static_cast<std::uint32_t>(frame * sampleRate / static_cast<std::uint64_t>(fps));
}

std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps) {
  // ceil(position x fps / 44,100), exact in integers.
  return (static_cast<std::uint64_t>(position) * fps + sampleRate - 1) / sampleRate;
}

FrameSpan screenshotFrames(std::uint32_t atPosition) {
  const std::uint32_t start = atPosition > screenshotLeadIn ? atPosition - screenshotLeadIn : 0;
  return {firstFrameAtOrAfter(start, screenshotFps), firstFrameAtOrAfter(atPosition, screenshotFps)};
}
