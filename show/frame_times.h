// The frame rate as the player watches it: the latest frames' start and drawing
// times, and their medians, without allocating.
#pragma once

#include <cstdint>

// The start times and drawing times of the latest frames, for the frame rate.
struct FrameTimes {
  static constexpr int capacity = 512;
  std::uint64_t startNs[capacity] = {};
  std::uint64_t drawNs[capacity] = {};
  int count = 0;
  int next = 0;

  void clear() {
    count = 0;
    next = 0;
  }
  // A frame that started at `start` and was drawn and presented by `done`.
  void add(std::uint64_t start, std::uint64_t done);

  struct Summary {
    double frameMs;  // median time from one frame's start to the next's
    double drawMs;   // median time to draw and present a frame
    bool complete;   // the frames seen span the whole of the time asked for, or fill the ring
  };
  // Over the frames that started within `spanNs` of the latest one. No allocation:
  // the medians are taken in `scratch`.
  Summary summary(std::uint64_t spanNs);
  double scratch[capacity] = {};
};
