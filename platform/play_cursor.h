// The play cursor of an audio device that pulls its sound in buffers from a callback
// (SDL's): the callback copies the track and publishes how much it has handed over,
// through a sequence lock of atomics; the frame loop reads the position being heard.
// Apart from any device, so that tests drive both halves by hand.
#pragma once

#include <atomic>
#include <cstdint>

struct PlayCursor {
  const float* frames = nullptr;  // interleaved stereo floats
  std::uint32_t frameCount = 0;
  std::atomic<std::uint32_t> sequence{0};
  std::atomic<std::uint32_t> handedBefore{0};    // frames handed over before the latest callback
  std::atomic<std::uint32_t> handedOver{0};      // frames handed to the device so far, silence included
  std::atomic<std::uint64_t> callbackTimeNs{0};  // monotonic time of the latest callback
  std::atomic<std::uint32_t> latencyFrames{0};   // the device's buffering
  std::atomic<bool> muted{false};
  std::uint32_t lastReported = 0;  // never report less than this (until a seek)
  // The track that follows, gapless: the callback turns to it on the frame after the
  // last of this one, counts it in `tracksBegun`, and the cursor counts its frames.
  const float* nextFrames = nullptr;
  std::uint32_t nextCount = 0;
  std::atomic<std::uint32_t> tracksBegun{0};
  std::uint32_t tracksSeen = 0;  // the reader's: the count its position belongs to

  // Plays `count` frames from the first, on a device that buffers `latency` frames.
  void reset(const float* track, std::uint32_t count, std::uint32_t latency);
  // What the audio callback does with each buffer it is asked for: copy, then silence
  // after `frameCount` (silence throughout while muted); publish the count.
  void fill(float* out, std::uint32_t outFrames, std::uint64_t nowNs);
  // The cursor as seen at time `nowNs`.
  std::uint32_t positionAt(std::uint64_t nowNs);
  // With the device locked: the next buffer starts at `frame`.
  void moveCursor(std::uint32_t frame);
  // With the device locked: another track from its first frame, as a seek there (any
  // track queued is forgotten).
  void changeTrack(const float* track, std::uint32_t count);
  // With the device locked: `track` plays after this one without a gap.
  void queueTrack(const float* track, std::uint32_t count);
  // The reader's first step: where the next track has begun, positions count from its
  // start.
  void followTrack();
};

// Pure arithmetic of the play cursor, kept apart so that it can be tested without
// a device: frames handed over before the latest callback, plus the time since it,
// minus the device's buffering; never ahead of what was handed over, never backwards.
std::uint32_t interpolatePlayCursor(std::uint32_t handedBefore, std::uint32_t handedAfter, std::uint64_t callbackTimeNs,
                                    std::uint64_t nowNs, std::uint32_t latencyFrames, std::uint32_t lastReported);
