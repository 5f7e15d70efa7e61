// Rendering on the virtual clock, as screenshots, captures and the benchmark do: frame n
// of a run at `fps` frames per second shows play position floor(n x 44,100 / fps).
#pragma once

#include <cstdint>

std::uint32_t virtualPosition(std::uint64_t frame, int fps);
// The first frame whose virtual position is at or after `position`.
std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps);

// A screenshot of a moment renders the three seconds before it first, at 60 frames per
// second, so that the trails and the smoothed levels stand as they would live.
constexpr int screenshotFps = 60;
struct FrameSpan {
  std::uint64_t first;
  std::uint64_t last;  // the frame at or after the moment: drawn last, included
};
FrameSpan screenshotFrames(std::uint32_t atPosition);
