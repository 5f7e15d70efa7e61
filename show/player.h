// The live show as a player the viewer can drive: the keys' actions (pause, seeks,
// full screen, mute, the information overlay), the window's changes, the restart of
// --loop, and the watch on a renderer that cannot keep up.
#pragma once

#include <cstdint>

#include "platform/keys.h"
#include "platform/text_atlas.h"

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

// The frame rate below which the viewer is told: 20 ms a frame, the median over two seconds.
constexpr double slowFrameMs = 20.0;
constexpr std::uint64_t slowSpanNs = 2'000'000'000;

// The overlay's text size in pixels: a fortieth of the window's height, within these
// bounds (the browser build carries the glyphs of each size from the build).
constexpr int smallestOverlayText = 12;
constexpr int largestOverlayText = 32;

struct LiveWindow;
struct PlayClock;
struct ShowFrame;
struct WindowEvents;

struct LivePlayer {
  bool loop = false;  // --loop: start again at the end
  bool paused = false;
  bool muted = false;
  bool overlayOn = false;
  bool slowToldOnce = false;
  double slowFps = 0;  // what was measured when the warning was given
  FrameTimes times;
  TextAtlas text;
  const char* renderer = "";

  // Once the window and its context are open: the overlay's glyphs.
  void start(LiveWindow& window);

  enum class Step { go, moved, end };
  // Acts on what the viewer did. `moved`: a seek, or a resumption, has changed the
  // clock, so the position of the frame just drawn no longer stands.
  Step act(const WindowEvents& events, LiveWindow& window, PlayClock& clock, ShowFrame& frame);

  // While paused: waits for the viewer, keeps the held picture on the window.
  Step holdStill(LiveWindow& window, PlayClock& clock, ShowFrame& frame);

  // After each drawn frame: the frame rate's watch.
  void frameDone(std::uint64_t startNs, std::uint64_t doneNs);

  // Puts the held or new picture on the window, with the overlay where it is on.
  void show(LiveWindow& window, std::uint32_t position);

  // The overlay, drawn onto the window's back buffer after the picture.
  void drawOverlay(LiveWindow& window, std::uint32_t position);

  // Moves the clock to `position`; the beat marker counts from that scene's start.
  void seek(PlayClock& clock, ShowFrame& frame, std::uint32_t position);
};

// The overlay's lines for a play position, into fixed buffers (no allocation); room
// for the more lines that they become in a narrow window.
struct OverlayLines {
  static constexpr int lineCount = 12;
  static constexpr int lineLength = 160;
  char lines[lineCount][lineLength] = {};
  int count = 0;
};
void formatOverlay(OverlayLines& out, std::uint32_t position, const FrameTimes::Summary& times, const char* renderer,
                   bool paused, bool muted, double slowFps);

// The lines of `in` broken into lines no wider than `width` pixels of `text`: at their
// "   " separators, at single spaces within a part that is wider on its own, and
// within a word that is. What does not fit into out's lines is left out.
void breakOverlayLines(const OverlayLines& in, int width, const TextAtlas& text, OverlayLines& out);
