// The way from a sample to the eye: what lies between handing the sound over and its
// being heard (the sound server's latency), and between reading the play position and
// the frame's appearing (the picture's own delay), so that each frame is drawn for the
// sound heard while it is seen. Arithmetic only, apart from any device.
#pragma once

#include <cstdint>

// The sample being heard: what was handed to the sound server, less what the server
// reports still lies ahead of its output; never before `lastReported` (a seek's frame,
// or the last position read), never past the track's end.
std::uint32_t heardFrame(std::uint32_t handedOver, std::uint32_t latencyFrames, std::uint32_t lastReported,
                         std::uint32_t frameCount);

// A latency in microseconds as frames of the track, rounded to the nearest.
std::uint32_t microsecondsToFrames(std::uint64_t microseconds);

// How long a frame takes from reading the play position to being seen: the time to its
// swap, smoothed over the last frames, and where swaps wait for the display's refresh,
// on average half a refresh period more (the swap lands anywhere in the period).
// Each frame then stays on screen until the next swap: that time, smoothed too.
struct PictureDelay {
  static constexpr int smoothing = 8;  // each frame moves the average an eighth of the way
  std::uint64_t refreshNs = 0;         // 0: the swap shows the frame at once (no vertical blank)
  double drawNs = 0.0;
  bool measured = false;
  double shownNs = 0.0;          // from one swap to the next
  std::uint64_t lastSwapNs = 0;  // 0: none yet

  void add(std::uint64_t readNs, std::uint64_t swappedNs);
  std::uint64_t delayNs() const;
};

// The longest --av-offset either way, in milliseconds, and the step of its keys.
constexpr int longestAvOffsetMs = 1000;
constexpr int avOffsetStepMs = 10;

// How far ahead of the sound heard a frame is drawn: the picture's delay less the
// viewer's offset, in frames, rounded towards minus infinity (never ahead of its sound).
std::int64_t framesAhead(std::uint64_t pictureDelayNs, int avOffsetMs);

// The position to draw: the one heard now, carried ahead by the picture's delay, and
// back by the viewer's offset (positive: the sound reaches the ear later than the
// system says, so the picture waits for it). Within the track.
std::uint32_t aimedPosition(std::uint32_t heard, std::uint64_t pictureDelayNs, int avOffsetMs,
                            std::uint32_t frameCount);
