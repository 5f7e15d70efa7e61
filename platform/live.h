// The live platform, as every back end offers it to the show: the show window with its
// OpenGL context and input, and the audio output that plays the track once. On the
// desktop SDL2's (platform/sdl_window.cpp, platform/sdl_audio.cpp), in the browser the
// page's; each keeps its own state behind an opaque pointer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
  bool dropped = false;         // files were dropped on the window: LiveWindow::drops
  // The desktop's media controls asked for a position (seekTo) or a step (seekBy).
  enum class MediaSeek { none, to, by };
  MediaSeek seek = MediaSeek::none;
  std::int64_t seekMicroseconds = 0;
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
  // The display's refresh period where a swap waits for it, in nanoseconds; 0 where a
  // swap shows the frame at once (or nothing says).
  std::uint64_t refreshNs() const;

  // Takes every pending event without blocking, or waits up to `waitMs` for the first.
  void takeEvents(WindowEvents& events, int waitMs = 0);

  // Takes the drawable's current size as the client size; the picture keeps its own
  // until fitPicture(). True when the size changed.
  bool followSize();
  // What every back end's followSize() ends with: a size of at least one pixel that
  // differs from the client size becomes it. True when it did.
  bool takeClientSize(int width, int height);
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
  LiveWindow() = default;
  LiveWindow(const LiveWindow&) = delete;
  LiveWindow& operator=(const LiveWindow&) = delete;
  ~LiveWindow() { close(); }

  // What the desktop's media controls show (MPRIS, where a session bus answers): the
  // song that plays, or the show, with whether another lies either side of it; and
  // each frame whether it plays and where, and whether the player jumped there.
  struct MediaSong {
    std::string title, artist, album;
    std::uint32_t frames = 0;
    int index = 0;
    bool canGoNext = false, canGoPrevious = false;
  };
  void announce(const MediaSong& song);
  void tellPlayback(bool paused, std::uint32_t position, bool jumped);

  // Paths of the files and folders dropped on the window, in order, until taken.
  std::vector<std::string> drops;

  // The show's picture; framebuffer 0 where the context has no framebuffer objects,
  // and the show then draws straight into the back buffer.
  OffscreenPicture picture;
  // The back end's own state (its window and context), opaque here; null while closed.
  struct Native;
  Native* native = nullptr;
};

// Plays `frameCount` interleaved stereo float frames at 44,100 Hz once, from the first
// frame (or where seek() puts it), and reports how far it has played: rising smoothly
// from the start to exactly `frameCount`, then staying there.
struct LiveAudio {
  bool open(const float* frames, std::uint32_t frameCount, std::string& error);
  void start();
  std::uint32_t position();
  // The frames the device holds ahead of what is heard (0 where it does not say), and
  // where that figure comes from: "from the sound server", "estimated" or "".
  std::uint32_t latency() const;
  const char* latencySource() const;
  // Moves the play position to `frame`: what the device still holds plays out, the
  // position stays at `frame` meanwhile, then rises with the sound from there.
  void seek(std::uint32_t frame);
  // Plays another `frameCount` frames from their first, as a seek to it: the device,
  // its pause and its muting stay as they are.
  void change(const float* frames, std::uint32_t frameCount);
  // Plays `frameCount` frames after the last of these, without a gap; position() then
  // counts in them, from the moment the device turns to them (tracksBegun() rises).
  void queue(const float* frames, std::uint32_t frameCount);
  // How many queued tracks have begun, as of the last position().
  std::uint32_t tracksBegun() const;
  // Stops and restarts the device. Stopped, the position is not to be trusted: the
  // caller keeps the one it read and seeks back to it before resuming.
  void pause();
  void resume();
  // Silence instead of the track; the device and the position run on.
  void setMuted(bool silent);
  void close();
  LiveAudio() = default;
  LiveAudio(const LiveAudio&) = delete;
  LiveAudio& operator=(const LiveAudio&) = delete;
  ~LiveAudio() { close(); }

  // The back end's own state (its device and play cursor), opaque here; null while closed.
  struct Device;
  Device* device = nullptr;
};

// Nanoseconds on a clock that only goes forward.
std::uint64_t monotonicNanoseconds();
