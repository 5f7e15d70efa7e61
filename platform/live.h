// The live platform on SDL2: the show window with its OpenGL context, the audio
// output that plays the PlaybackBuffer once, and the window's input.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct LiveWindow {
  // Full screen: a borderless window covering the desktop at its current
  // resolution, above other windows, cursor hidden. Windowed: an ordinary window
  // of the given client size.
  bool fullScreen = true;
  int requestWidth = 1280;
  int requestHeight = 720;

  // The drawable's size once open (what the show calls the client rectangle).
  int clientWidth = 0;
  int clientHeight = 0;

  // Opens the window and a double-buffered compatibility GL context (8 bits per
  // channel, a depth buffer) and makes it current. One line in `error` on failure.
  bool open(std::string& error);
  void swap();
  // Takes every pending window event without blocking; true when the viewer asked
  // to end the show (Escape key-down, or the window manager's close request).
  bool takeEndRequest();
  void close();
  ~LiveWindow() { close(); }

  void* window = nullptr;
  void* glContext = nullptr;
};

// Plays `frameCount` interleaved stereo float frames at 44,100 Hz once, from the first
// frame, and reports how many have been played: rising smoothly from 0 at `start`
// to exactly `frameCount`, then staying there.
struct LiveAudio {
  bool open(const float* frames, std::uint32_t frameCount, std::string& error);
  void start();
  std::uint32_t position();
  void close();
  ~LiveAudio() { close(); }

  // The two halves of the cursor, apart from the device so that tests can drive them:
  // what the audio callback does with each buffer it is asked for (copy, then silence
  // after `frameCount`; publish the count), and the cursor as seen at time `nowNs`.
  void fill(float* out, std::uint32_t outFrames, std::uint64_t nowNs);
  std::uint32_t positionAt(std::uint64_t nowNs);

  unsigned device = 0;
  const float* frames = nullptr;
  std::uint32_t frameCount = 0;
  // Published by the audio callback through a sequence lock of atomics.
  std::atomic<std::uint32_t> sequence{0};
  std::atomic<std::uint32_t> handedBefore{0};     // frames handed over before the latest callback
  std::atomic<std::uint32_t> handedOver{0};       // frames handed to the device so far, silence included
  std::atomic<std::uint64_t> callbackTimeNs{0};   // monotonic time of the latest callback
  std::atomic<std::uint32_t> latencyFrames{0};    // the device's buffering
  std::uint32_t lastReported = 0;                 // never report less than this
};

// Pure arithmetic of the play cursor, kept apart so that it can be tested without
// a device: frames handed over before the latest callback, plus the time since it,
// minus the device's buffering; never ahead of what was handed over, never backwards.
std::uint32_t interpolatePlayCursor(std::uint32_t handedBefore, std::uint32_t handedAfter,
                                    std::uint64_t callbackTimeNs, std::uint64_t nowNs,
                                    std::uint32_t latencyFrames, std::uint32_t lastReported);

std::uint64_t monotonicNanoseconds();
