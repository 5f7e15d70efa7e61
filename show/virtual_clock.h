// Rendering on the virtual clock, as screenshots, captures and the benchmark do: frame n
// of a run at `fps` frames per second shows play position floor(n x 44,100 / fps).
#pragma once

#include <cstdint>

std::uint32_t virtualPosition(std::uint64_t frame, int fps);
// The first frame whose virtual position is at or after `position`.
std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps);

// A screenshot shows the frame at or after its moment on a clock of 60 frames per second.
constexpr int screenshotFps = 60;
