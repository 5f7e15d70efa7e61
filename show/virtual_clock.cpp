// The virtual clock of headless rendering.
#include "show/virtual_clock.h"

#include "audio/playback.h"

std::uint32_t virtualPosition(std::uint64_t frame, int fps) {
  return static_cast<std::uint32_t>(frame * sampleRate / static_cast<std::uint64_t>(fps));
}

std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps) {
  // ceil(position x fps / 44,100), exact in integers.
  return (static_cast<std::uint64_t>(position) * fps + sampleRate - 1) / sampleRate;
}
