// The show on the virtual clock, for every run that renders without a display: the
// screenshot, the capture, the benchmark and the page's moment and benchmark. A run
// takes the frames of the show in order, one call at a time, so that a caller that
// must yield between frames (the page to the browser, a capture to its encoder) takes
// them as it goes. Frames can be replayed, which moves the show's state on as drawing
// them would (ShowFrame::advance), or drawn: a run that starts at a moment replays the
// show up to a lead-in before it, then draws the lead-in, which rebuilds the trails.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "audio/playback.h"
#include "show/frame.h"
#include "show/virtual_clock.h"

// The frames drawn before a moment that a run starts at, after the replay: enough for
// every channel of every pixel to come within one level of the whole run's from the
// moment on, in every scene (bench/replay_residue: 30 frames leave at most 1 level
// anywhere, 20 leave 2 in a few hundredths of a percent, 10 leave 7). What stays is the
// fade's residue: a pixel that kept 70 % of one level rounds to 1 for good where the
// whole run had once lit it.
constexpr std::uint64_t leadInFrames = 30;

struct OfflineRun {
  int fps = 60;
  std::uint64_t next = 0;  // the frame that step() draws
  std::unique_ptr<ShowFrame> frame;

  // A new frame (the effects' layouts as in a new process) on a clock of `framesPerSecond`,
  // at frame `first`. The show's start-up must have run on the current context.
  void start(int framesPerSecond, std::uint64_t first);

  // The play position that frame n shows: a frame past the music's end shows its end
  // (the spectrum's window reads no further than the guard after it).
  std::uint32_t position(std::uint64_t n) const { return std::min(virtualPosition(n, fps), playing.frames); }

  // Draws frame `next` and moves on to the one after; returns the position drawn.
  std::uint32_t step();

  // Draws every frame from `next` up to `end`, excluded.
  void stepUntil(std::uint64_t end);

  // Replays every frame from `next` up to `end`, excluded, without drawing.
  void replayUntil(std::uint64_t end);

  // From the show's start to frame `n`, to draw it as the whole run would: replays up
  // to `leadIn` frames before it, then draws those; step() then draws frame n.
  void catchUp(std::uint64_t n, std::uint64_t leadIn);

  // start() on a clock of `framesPerSecond` and catchUp() to frame n with the measured
  // lead-in: what every run that starts at a moment does.
  void startAt(int framesPerSecond, std::uint64_t n) {
    start(framesPerSecond, 0);
    catchUp(n, leadInFrames);
  }

  // Moves to frame n without drawing what lies between (a benchmark's next scene).
  void moveTo(std::uint64_t n) { next = n; }

  // The frame goes, and with it the effects' GL objects: before the context goes.
  void finish() { frame.reset(); }
};
