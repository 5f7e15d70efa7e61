// The sound's and the picture's delays, and the position they ask the frame to show.
#include "platform/latency.h"

#include "audio/sample_rate.h"

namespace {
constexpr std::uint64_t microsecondsPerSecond = 1'000'000;
constexpr std::int64_t nanosecondsPerMillisecond = 1'000'000;
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
// A delay measured longer than this (a stall, a debugger) is not the path's.
constexpr std::uint64_t longestDrawNs = 250'000'000;
constexpr std::uint64_t longestShownNs = 100'000'000;
}  // namespace

std::uint32_t heardFrame(std::uint32_t handedOver, std::uint32_t latencyFrames, std::uint32_t lastReported,
                         std::uint32_t frameCount) {
  std::uint32_t heard = handedOver > latencyFrames ? handedOver - latencyFrames : 0;
  if (heard < lastReported) heard = lastReported;
  return heard < frameCount ? heard : frameCount;
}

std::uint32_t microsecondsToFrames(std::uint64_t microseconds) {
  const std::uint64_t frames = (microseconds * sampleRate + microsecondsPerSecond / 2) / microsecondsPerSecond;
  return frames < UINT32_MAX ? static_cast<std::uint32_t>(frames) : UINT32_MAX;
}

void PictureDelay::add(std::uint64_t readNs, std::uint64_t swappedNs) {
  if (swappedNs < readNs) return;
  // A gap longer than a frame could be shown (a pause, a stall) is not the frames' pace.
  const std::uint64_t since = swappedNs - lastSwapNs;
  if (lastSwapNs != 0 && swappedNs > lastSwapNs && since <= longestShownNs)
    shownNs = shownNs > 0.0 ? shownNs + (static_cast<double>(since) - shownNs) / smoothing : static_cast<double>(since);
  lastSwapNs = swappedNs;
  std::uint64_t took = swappedNs - readNs;
  if (took > longestDrawNs) took = longestDrawNs;
  if (!measured) {
    drawNs = static_cast<double>(took);
    measured = true;
  } else {
    drawNs += (static_cast<double>(took) - drawNs) / smoothing;
  }
}

std::uint64_t PictureDelay::delayNs() const {
  return static_cast<std::uint64_t>(drawNs) + refreshNs / 2;
}

std::int64_t framesAhead(std::uint64_t pictureDelayNs, int avOffsetMs) {
  const std::int64_t aheadNs = static_cast<std::int64_t>(pictureDelayNs) - avOffsetMs * nanosecondsPerMillisecond;
  // Rounded towards minus infinity, so that a frame is never drawn ahead of its sound.
  std::int64_t ahead = aheadNs * sampleRate / nanosecondsPerSecond;
  if (ahead * nanosecondsPerSecond > aheadNs * sampleRate) --ahead;
  return ahead;
}

std::uint32_t aimedPosition(std::uint32_t heard, std::uint64_t pictureDelayNs, int avOffsetMs,
                            std::uint32_t frameCount) {
  std::int64_t position = static_cast<std::int64_t>(heard) + framesAhead(pictureDelayNs, avOffsetMs);
  if (position < 0) position = 0;
  if (position > frameCount) position = frameCount;
  return static_cast<std::uint32_t>(position);
}
