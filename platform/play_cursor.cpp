// The play cursor: the callback's half, the reader's half, and their arithmetic.
#include "platform/play_cursor.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "audio/sample_rate.h"

namespace {
constexpr int audioChannels = 2;
constexpr std::uint64_t nanosecondsPerSecond = 1'000'000'000;
}  // namespace

void PlayCursor::reset(const float* track, std::uint32_t count, std::uint32_t latency) {
  frames = track;
  frameCount = count;
  sequence.store(0);
  handedBefore.store(0);
  handedOver.store(0);
  callbackTimeNs.store(0);
  latencyFrames.store(latency);
  muted.store(false);
  lastReported = 0;
}

void PlayCursor::fill(float* out, std::uint32_t outFrames, std::uint64_t nowNs) {
  std::uint32_t before = handedOver.load(std::memory_order_relaxed);  // only this thread writes it
  std::uint32_t remaining = before < frameCount ? frameCount - before : 0;
  const bool silent = muted.load(std::memory_order_relaxed);
  constexpr std::size_t frameBytes = audioChannels * sizeof(float);
  if (nextFrames != nullptr && remaining < outFrames) {
    // This track ends within the buffer: its last frames, then the next one's first.
    if (remaining > 0 && !silent)
      std::memcpy(out, frames + static_cast<std::size_t>(before) * audioChannels, remaining * frameBytes);
    else
      std::memset(out, 0, remaining * frameBytes);
    out += static_cast<std::size_t>(remaining) * audioChannels;
    outFrames -= remaining;
    frames = std::exchange(nextFrames, nullptr);
    frameCount = nextCount;
    before = 0;  // the buffer's rest counts in the new track's frames
    remaining = frameCount;
    tracksBegun.fetch_add(1, std::memory_order_release);
  }
  const std::uint32_t copied = remaining < outFrames ? remaining : outFrames;
  if (silent) {
    std::memset(out, 0, outFrames * frameBytes);
  } else {
    if (copied > 0) std::memcpy(out, frames + static_cast<std::size_t>(before) * audioChannels, copied * frameBytes);
    std::memset(out + static_cast<std::size_t>(copied) * audioChannels, 0, (outFrames - copied) * frameBytes);
  }

  // The silence after the track counts as handed over too, so that the cursor can
  // run on to the very last frame of the track.
  const std::uint32_t after = before + outFrames >= before ? before + outFrames : UINT32_MAX;

  const std::uint32_t s = sequence.load(std::memory_order_relaxed);
  sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  handedBefore.store(before, std::memory_order_relaxed);
  handedOver.store(after, std::memory_order_relaxed);
  callbackTimeNs.store(nowNs, std::memory_order_relaxed);
  sequence.store(s + 2, std::memory_order_release);
}

std::uint32_t PlayCursor::positionAt(std::uint64_t nowNs) {
  followTrack();
  std::uint32_t before = 0;
  std::uint32_t after = 0;
  std::uint64_t timeNs = 0;
  for (;;) {
    const std::uint32_t s1 = sequence.load(std::memory_order_acquire);
    if ((s1 & 1u) != 0) continue;  // the callback is halfway through publishing
    before = handedBefore.load(std::memory_order_relaxed);
    after = handedOver.load(std::memory_order_relaxed);
    timeNs = callbackTimeNs.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequence.load(std::memory_order_relaxed) == s1) break;
  }
  std::uint32_t cursor = interpolatePlayCursor(before, after, timeNs, nowNs, latencyFrames.load(), lastReported);
  if (cursor > frameCount) cursor = frameCount;
  lastReported = cursor;
  return cursor;
}

void PlayCursor::moveCursor(std::uint32_t frame) {
  if (frame > frameCount) frame = frameCount;
  // As if a callback had just handed over nothing from `frame` on: the next one
  // copies from there, and until the device plays it the cursor holds at `frame`.
  const std::uint32_t s = sequence.load(std::memory_order_relaxed);
  sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  handedBefore.store(frame, std::memory_order_relaxed);
  handedOver.store(frame, std::memory_order_relaxed);
  sequence.store(s + 2, std::memory_order_release);
  lastReported = frame;
}

void PlayCursor::changeTrack(const float* track, std::uint32_t count) {
  frames = track;
  frameCount = count;
  nextFrames = nullptr;
  moveCursor(0);
}

void PlayCursor::queueTrack(const float* track, std::uint32_t count) {
  nextFrames = track;
  nextCount = count;
}

void PlayCursor::followTrack() {
  const std::uint32_t begun = tracksBegun.load(std::memory_order_acquire);
  if (begun == tracksSeen) return;
  tracksSeen = begun;
  lastReported = 0;
}

std::uint32_t interpolatePlayCursor(std::uint32_t handedBefore, std::uint32_t handedAfter, std::uint64_t callbackTimeNs,
                                    std::uint64_t nowNs, std::uint32_t latencyFrames, std::uint32_t lastReported) {
  // Long gaps (a stalled device) cannot move the cursor past the cap below anyway;
  // bounding the gap keeps the product within 64 bits.
  constexpr std::uint64_t longestGapNs = 60 * nanosecondsPerSecond;
  std::uint64_t elapsedNs = nowNs > callbackTimeNs ? nowNs - callbackTimeNs : 0;
  if (elapsedNs > longestGapNs) elapsedNs = longestGapNs;
  const auto elapsedFrames = static_cast<std::int64_t>(elapsedNs * sampleRate / nanosecondsPerSecond);

  // The device plays what the latest callback handed over only after the buffering
  // ahead of it has drained, and cannot have played more than was handed over.
  std::int64_t cursor = static_cast<std::int64_t>(handedBefore) - latencyFrames + elapsedFrames;
  const std::int64_t cap = static_cast<std::int64_t>(handedAfter) - latencyFrames;
  if (cursor > cap) cursor = cap;
  if (cursor < 0) cursor = 0;
  if (cursor < lastReported) cursor = lastReported;
  return static_cast<std::uint32_t>(cursor);
}
