// The live platform on SDL2: the show window with its OpenGL context, the audio
// output that plays the PlaybackBuffer once, and the window's input.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/framebuffer.h"
#include "platform/keys.h"

// What the viewer did since the last look: the actions of the keys pressed, in order,
// and what happened to the window.
struct WindowEvents {
  static constexpr int maxActions = 16;  // more in one look are dropped
  KeyAction actions[maxActions] = {};
  int actionCount = 0;
  bool closeRequested = false;  // the window manager's close button, or a quit request
  bool sizeChanged = false;     // the drawable may have another size now
  bool exposed = false;         // the window shows its content anew (uncovered, mapped)
  void clear() { *this = WindowEvents{}; }
};

struct LiveWindow {
  // Full screen: a borderless window covering the desktop at its current
  // resolution, above other windows, cursor hidden. Windowed: an ordinary window
  // of the given client size, at most the display's.
  bool fullScreen = true;
  int requestWidth = 1280;
  int requestHeight = 720;
  int displayIndex = -1;  // -1: full screen on the first display, a window where the system puts it

  // The drawable's size once open (what the show calls the client rectangle).
  int clientWidth = 0;
  int clientHeight = 0;
  // The size the show draws at: the client size, but for a resize that fitPicture()
  // has not taken up yet (paused, the held picture keeps its size).
  int drawWidth = 0;
  int drawHeight = 0;

  // Set by open() when displayIndex names no display: the viewer's mistake.
  bool displayOutOfRange = false;

  // Opens the window and a double-buffered compatibility GL context (8 bits per
  // channel, a depth buffer), makes it current and binds the offscreen picture of the
  // client's size that the show draws into. One line in `error` on failure.
  bool open(std::string& error);

  // Copies the picture onto the window's back buffer, which then takes the drawing
  // (the overlay) until swap(). A picture of another size than the window (held
  // through a resize) is scaled so that its letterbox covers the window's, the rest
  // of the window black.
  void present();
  // Shows the back buffer, then binds the picture again.
  void swap();

  // Takes every pending event without blocking, or waits up to `waitMs` for the first.
  void takeEvents(WindowEvents& events, int waitMs = 0);

  // Takes the drawable's current size as the client size; the picture keeps its own
  // until fitPicture(). True when the size changed.
  bool followSize();
  // Brings the picture to the client size: a new picture of that size, black, with the
  // old picture's letterbox scaled into its own. True when the size the show draws at
  // changed, and the show's viewport has to follow it.
  bool fitPicture();

  // Between full screen on the window's display (at the desktop's resolution) and the
  // window it came from, or one of the requested size when it started full screen.
  void toggleFullScreen();

  // The GL renderer's name.
  const char* renderer() const;

  void close();
  ~LiveWindow() { close(); }

  void* window = nullptr;
  void* glContext = nullptr;
  // The show's picture; framebuffer 0 where the context has no framebuffer objects,
  // and the show then draws straight into the back buffer.
  OffscreenPicture picture;
  int windowedX = 0;
  int windowedY = 0;
  int windowedWidth = 0;  // 0 until the window has been one
  int windowedHeight = 0;
};

// Plays `frameCount` interleaved stereo float frames at 44,100 Hz once, from the first
// frame (or where seek() puts it), and reports how far it has played: rising smoothly
// from the start to exactly `frameCount`, then staying there.
struct LiveAudio {
  bool open(const float* frames, std::uint32_t frameCount, std::string& error);
  void start();
  std::uint32_t position();
  // Moves the play position to `frame`: what the device still holds plays out, the
  // position stays at `frame` meanwhile, then rises with the sound from there.
  void seek(std::uint32_t frame);
  // Stops and restarts the device. Stopped, the position is not to be trusted: the
  // caller keeps the one it read and seeks back to it before resuming.
  void pause();
  void resume();
  // Silence instead of the track; the device and the position run on.
  void setMuted(bool silent);
  void close();
  ~LiveAudio() { close(); }

  // The two halves of the cursor, apart from the device so that tests can drive them:
  // what the audio callback does with each buffer it is asked for (copy, then silence
  // after `frameCount`; publish the count), and the cursor as seen at time `nowNs`.
  void fill(float* out, std::uint32_t outFrames, std::uint64_t nowNs);
  std::uint32_t positionAt(std::uint64_t nowNs);
  // What seek() does with the device locked: the next buffer starts at `frame`.
  void moveCursor(std::uint32_t frame);

  unsigned device = 0;
  const float* frames = nullptr;
  std::uint32_t frameCount = 0;
  // Published by the audio callback through a sequence lock of atomics.
  std::atomic<std::uint32_t> sequence{0};
  std::atomic<std::uint32_t> handedBefore{0};    // frames handed over before the latest callback
  std::atomic<std::uint32_t> handedOver{0};      // frames handed to the device so far, silence included
  std::atomic<std::uint64_t> callbackTimeNs{0};  // monotonic time of the latest callback
  std::atomic<std::uint32_t> latencyFrames{0};   // the device's buffering
  std::atomic<bool> muted{false};
  std::uint32_t lastReported = 0;  // never report less than this (until a seek)
};

// Pure arithmetic of the play cursor, kept apart so that it can be tested without
// a device: frames handed over before the latest callback, plus the time since it,
// minus the device's buffering; never ahead of what was handed over, never backwards.
std::uint32_t interpolatePlayCursor(std::uint32_t handedBefore, std::uint32_t handedAfter, std::uint64_t callbackTimeNs,
                                    std::uint64_t nowNs, std::uint32_t latencyFrames, std::uint32_t lastReported);

std::uint64_t monotonicNanoseconds();
