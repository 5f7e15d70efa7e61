// The live show as a player the viewer can drive: the keys' actions (pause, seeks,
// full screen, mute, the information overlay), the window's changes, the restart of
// --loop, and the watch on a renderer that cannot keep up.
#pragma once

#include <cstdint>

#include "platform/keys.h"
#include "platform/text_atlas.h"
#include "show/frame_times.h"
#include "show/overlay.h"

// The frame rate below which the viewer is told: 20 ms a frame, the median over two seconds.
constexpr double slowFrameMs = 20.0;
constexpr std::uint64_t slowSpanNs = 2'000'000'000;

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
  const char* note = nullptr;  // what a key that does nothing says in the overlay
  // Songs played in turn: this one's place and its name for the overlay (songCount 0
  // for the embedded show and for listening), and why its show ended early: the viewer
  // asked for another song, or dropped files on the window (LiveWindow::drops); `ended`
  // at the song's end, `none` where the viewer ended the show.
  int songIndex = 0;
  int songCount = 0;
  bool loopList = false;  // --loop with songs: the first again after the last
  const char* songLabel = "";
  enum class Leave { none, ended, next, previous, dropped };
  Leave leave = Leave::none;

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
  void show(LiveWindow& window, std::uint32_t position, const PlayClock& clock);

  // The overlay, drawn onto the window's back buffer after the picture.
  void drawOverlay(LiveWindow& window, std::uint32_t position, const PlayClock& clock);

  // Moves the clock to `position`; the beat marker counts from that scene's start.
  void seek(PlayClock& clock, ShowFrame& frame, std::uint32_t position);
  // Listening: the seek keys move through the endless schedule instead.
  void moveListening(PlayClock& clock, KeyAction action);
};
