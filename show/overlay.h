// The information overlay (key i): time, beat and phase, scene, frame rate and renderer
// in the window's corner, on the window only, never in the picture.
#pragma once

#include <cstdint>

#include "platform/text_atlas.h"
#include "show/frame_times.h"

struct LiveWindow;

// The overlay's lines for a play position, into fixed buffers (no allocation); room
// for the more lines that they become in a narrow window.
struct OverlayLines {
  static constexpr int lineCount = 12;
  static constexpr int lineLength = 160;
  char lines[lineCount][lineLength] = {};
  int count = 0;
};
// The way from the sound to the picture, where there is sound: how late the sound is
// heard after it is handed over and who says so, how late a frame is seen after its
// position is read, and the viewer's offset.
struct OverlaySync {
  bool sound = false;
  double soundMs = 0;
  const char* soundFrom = "";
  double pictureMs = 0;
  int offsetMs = 0;
};
// Listening: the source, the beat it follows and how sure, the gain; a note for a key
// that does nothing while listening.
struct OverlayListen {
  bool on = false;
  const char* source = "";
  double bpm = 0;
  bool locked = false;
  bool music = false;
  bool lost = false;
  int agreeing = 0;
  double gainDb = 0;
  const char* note = nullptr;
};
// Songs played in turn: which of how many, and its name; a note for a key that does
// nothing here.
struct OverlaySong {
  int index = 0;
  int count = 0;
  const char* label = "";
  const char* note = nullptr;
};
void formatOverlay(OverlayLines& out, std::uint32_t position, const FrameTimes::Summary& times, const char* renderer,
                   bool paused, bool muted, double slowFps, const OverlaySync& sync = {},
                   const OverlayListen& listen = {}, const OverlaySong& song = {});

// The lines of `in` broken into lines no wider than `width` pixels of `text`: at their
// "   " separators, at single spaces within a part that is wider on its own, and
// within a word that is. What does not fit into out's lines is left out.
void breakOverlayLines(const OverlayLines& in, int width, const TextAtlas& text, OverlayLines& out);

// The lines broken to the window's width and as many as its height takes, on a dark
// panel in its top left corner, drawn onto the window's back buffer after the picture.
void drawOverlayLines(const LiveWindow& window, const TextAtlas& text, const OverlayLines& formatted);
