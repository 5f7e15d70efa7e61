// Rendering on the virtual clock, as screenshots, captures and the benchmark do: frame n
// of a run at `fps` frames per second shows play position floor(n x 44,100 / fps).
#pragma once

#include <cstdint>

std::uint32_t virtualPosition(std::uint64_t frame, int fps);
// The first frame whose virtual position is at or after `position`.
std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps);

// A screenshot shows the frame at or after its moment on a clock of 60 frames per second.
constexpr int screenshotFps = 60;

// The frames and the sound of a capture (the desktop's, or the page's video) of [from, to) at `fps` frames per second.
// Frame n shows play position floor(n x 44,100 / fps); the capture holds every frame
// whose position lies in the span, and the sound runs from the first frame's position
// to the position of the frame after the last, or to `to` where that comes first: the
// last frame is then shown only until `to`, and both last equally long.
struct CaptureSpan {
  std::uint64_t firstFrame = 0;  // frame index on the virtual clock
  std::uint64_t frameCount = 0;
  std::uint32_t soundStart = 0;        // play position of the first frame: the sound's first sample
  std::uint32_t soundFrames = 0;       // sample frames of the sound
  std::uint32_t lastFrameSamples = 0;  // how long the last frame is shown, in sample frames
};

CaptureSpan captureSpan(std::uint32_t from, std::uint32_t to, int fps);

// The K-th of N pieces of that capture, cut on frame boundaries (as evenly as whole
// frames allow): each piece's sound starts on the sample where the previous one's
// ends, so that the pieces joined end to end are the whole capture.
CaptureSpan captureSegment(std::uint32_t from, std::uint32_t to, int fps, int k, int n);
