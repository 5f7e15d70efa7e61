// The virtual clock of headless rendering.
#include "show/virtual_clock.h"

#include <algorithm>

#include "audio/playback.h"

std::uint32_t virtualPosition(std::uint64_t frame, int fps) {
  return static_cast<std::uint32_t>(frame * sampleRate / static_cast<std::uint64_t>(fps));
}

std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps) {
  // ceil(position x fps / 44,100), exact in integers.
  return (static_cast<std::uint64_t>(position) * fps + sampleRate - 1) / sampleRate;
}

CaptureSpan captureSpan(std::uint32_t from, std::uint32_t to, int fps) {
  CaptureSpan span;
  span.firstFrame = firstFrameAtOrAfter(from, fps);
  // Frame n lies before `to` exactly when n x 44,100 < to x fps, so the frame after
  // the last one is the first frame at or after `to`.
  const std::uint64_t after = firstFrameAtOrAfter(to, fps);
  span.frameCount = after > span.firstFrame ? after - span.firstFrame : 0;
  span.soundStart = virtualPosition(span.firstFrame, fps);
  if (span.frameCount == 0) return span;
  const std::uint32_t last = virtualPosition(span.firstFrame + span.frameCount - 1, fps);
  const std::uint32_t end = std::min(virtualPosition(span.firstFrame + span.frameCount, fps), to);
  span.soundFrames = end - span.soundStart;
  span.lastFrameSamples = end - last;
  return span;
}

CaptureSpan captureSegment(std::uint32_t from, std::uint32_t to, int fps, int k, int n) {
  const CaptureSpan whole = captureSpan(from, to, fps);
  if (n <= 1 || whole.frameCount == 0) return whole;
  const std::uint64_t first = whole.firstFrame + whole.frameCount * static_cast<std::uint64_t>(k - 1) / n;
  const std::uint64_t after = whole.firstFrame + whole.frameCount * static_cast<std::uint64_t>(k) / n;
  // Each piece from its first frame's sample to the next piece's: the sound joins
  // sample for sample, and the last piece ends where the whole does.
  return captureSpan(virtualPosition(first, fps), k == n ? to : virtualPosition(after, fps), fps);
}
