// The live platform on SDL2: the full-screen (or windowed) show window with its
// compatibility OpenGL context and input, and the audio output whose callback
// feeds the PlaybackBuffer and publishes a play cursor through a sequence lock.
#include "platform/live.h"

#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/sample_rate.h"
#include "platform/render_queue.h"
#include "platform/viewport.h"

namespace {

constexpr int audioChannels = 2;
constexpr int audioBufferFrames = 1024;  // about 23 ms per callback
constexpr std::uint64_t nanosecondsPerSecond = 1'000'000'000;

//----------------------------------------------------------------------------------
// Quiet stderr: without a sound server or card, ALSA prints a dozen lines of its own
// while SDL probes it. The show's one line about the failure is enough.
//----------------------------------------------------------------------------------
struct QuietStderr {
  int saved = -1;

  QuietStderr() {
    std::fflush(stderr);
    saved = dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0) {
      if (null >= 0) ::close(null);
      return;
    }
    dup2(null, STDERR_FILENO);
    ::close(null);
  }

  ~QuietStderr() {
    if (saved < 0) return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    ::close(saved);
  }
};

void SDLCALL audioCallback(void* user, Uint8* stream, int length) {
  auto* audio = static_cast<LiveAudio*>(user);
  const auto frames = static_cast<std::uint32_t>(length) / (audioChannels * sizeof(float));
  audio->fill(reinterpret_cast<float*>(stream), frames, monotonicNanoseconds());
}

}  // namespace

//----------------------------------------------------------------------------------
// Clock
//----------------------------------------------------------------------------------
std::uint64_t monotonicNanoseconds() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

//----------------------------------------------------------------------------------
// LiveWindow
//----------------------------------------------------------------------------------
bool LiveWindow::open(std::string& error) {
  close();
  constexpr const char* noDisplayHint = " (no display? try --screenshot, or run under Xvfb)";
  int initialised = 0;
  {
    QuietStderr quiet;  // the Wayland probe complains on stderr where there is no session
    initialised = SDL_InitSubSystem(SDL_INIT_VIDEO);
  }
  if (initialised != 0) {
    error = std::string("pulse165: cannot open the show window: ") + SDL_GetError() + noDisplayHint;
    return false;
  }
  // With no display at all SDL falls back on drivers that draw nowhere; a show
  // nobody can see is no show, unless someone asked for that driver by name.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  const bool invisible =
      driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
  if (invisible && (requested == nullptr || std::strstr(requested, driver) == nullptr)) {
    error = std::string("pulse165: cannot open the show window: no display found, only SDL's ") + driver + " driver" +
            noDisplayHint;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  // A show stays on screen when another window takes the focus.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");

  // The display: the one asked for, else the first for full screen.
  displayOutOfRange = false;
  const int displays = SDL_GetNumVideoDisplays();
  if (displayIndex >= 0 && displayIndex >= displays) {
    displayOutOfRange = true;
    error = "pulse165: cannot use display " + std::to_string(displayIndex) + ": " +
            (displays == 1 ? std::string("there is one display, number 0")
                           : "there are " + std::to_string(displays) + " displays, numbered 0 to " +
                                 std::to_string(displays - 1));
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  const int display = displayIndex >= 0 ? displayIndex : 0;

  int x = displayIndex >= 0 ? static_cast<int>(SDL_WINDOWPOS_CENTERED_DISPLAY(display)) : SDL_WINDOWPOS_UNDEFINED;
  int y = x;
  int width = requestWidth;
  int height = requestHeight;
  Uint32 flags = SDL_WINDOW_OPENGL;
  if (fullScreen) {
    // Created at the desktop's own size: without a window manager, full-screen
    // desktop mode alone leaves the X window at its creation size.
    SDL_DisplayMode mode;
    SDL_Rect bounds;
    if (SDL_GetDesktopDisplayMode(display, &mode) != 0 || SDL_GetDisplayBounds(display, &bounds) != 0) {
      error = std::string("pulse165: cannot open the show window: ") + SDL_GetError();
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      return false;
    }
    x = bounds.x;
    y = bounds.y;
    width = mode.w;
    height = mode.h;
    flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_FULLSCREEN_DESKTOP;
  } else {
    // A window larger than the display would hang off its edges: it is made to fit.
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(display, &usable) == 0 && usable.w > 0 && usable.h > 0) {
      width = width < usable.w ? width : usable.w;
      height = height < usable.h ? height : usable.h;
    }
    flags |= SDL_WINDOW_RESIZABLE;
  }

  // 32 depth bits where offered, else 24; nothing uses the depth buffer.
  constexpr int depthChoices[] = {32, 24};
  std::string why;
  for (int depth : depthChoices) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    SDL_Window* created = SDL_CreateWindow("pulse165", x, y, width, height, flags);
    if (created == nullptr) {
      why = SDL_GetError();
      continue;
    }
    SDL_GLContext createdContext = SDL_GL_CreateContext(created);
    if (createdContext == nullptr) {
      why = SDL_GetError();
      SDL_DestroyWindow(created);
      continue;
    }
    window = created;
    glContext = createdContext;
    break;
  }
  if (window == nullptr) {
    error = "pulse165: cannot open the show window: " + why;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }

  SDL_Window* sdlWindow = static_cast<SDL_Window*>(window);
  if (SDL_GL_MakeCurrent(sdlWindow, glContext) != 0) {
    error = std::string("pulse165: cannot open the show window: ") + SDL_GetError();
    close();
    return false;
  }
  resetRenderQueue();
  SDL_GL_SetSwapInterval(1);  // refused by some drivers; the frame loop paces itself anyway
  SDL_ShowCursor(fullScreen ? SDL_DISABLE : SDL_ENABLE);

  // The drawable as GL sees it: the viewport of a fresh context spans the real
  // surface, which is what matters if SDL's idea of the window differs from it.
  SDL_GL_GetDrawableSize(sdlWindow, &clientWidth, &clientHeight);
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  if (viewport[2] > 0 && viewport[3] > 0 && (viewport[2] != clientWidth || viewport[3] != clientHeight)) {
    clientWidth = viewport[2];
    clientHeight = viewport[3];
  }
  drawWidth = clientWidth;
  drawHeight = clientHeight;

  // The show draws into a picture of its own; without framebuffer objects it draws
  // straight into the back buffer, as it did before the picture existed.
  if (loadFramebufferCalls([](const char* name) { return SDL_GL_GetProcAddress(name); }, why))
    picture.create(clientWidth, clientHeight, why);
  return true;
}

void LiveWindow::present() {
  if (picture.framebuffer == 0) return;
  if (picture.width == clientWidth && picture.height == clientHeight) {
    picture.copyTo(0, 0, 0, picture.width, picture.height);
    return;
  }
  bindFramebuffer(0);
  glPushAttrib(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glPopAttrib();
  const CarriedRows rows = carriedLetterbox(picture.width, picture.height, clientWidth, clientHeight);
  picture.copyTo(0, 0, rows.bottom, clientWidth, rows.top - rows.bottom);
}

void LiveWindow::swap() {
  SDL_GL_SwapWindow(static_cast<SDL_Window*>(window));
  if (picture.framebuffer != 0) picture.bind();
}

void LiveWindow::takeEvents(WindowEvents& events, int waitMs) {
  SDL_Event event;
  bool have = SDL_PollEvent(&event) != 0;
  if (!have && waitMs > 0) have = SDL_WaitEventTimeout(&event, waitMs) != 0;
  for (; have; have = SDL_PollEvent(&event) != 0) {
    switch (event.type) {
      case SDL_KEYDOWN: {
        const KeyAction action = keyAction(event.key.keysym.sym, event.key.keysym.mod, event.key.repeat != 0);
        if (action != KeyAction::none && events.actionCount < WindowEvents::maxActions)
          events.actions[events.actionCount++] = action;
        break;
      }
      case SDL_QUIT:
        events.closeRequested = true;
        break;
      case SDL_WINDOWEVENT:
        switch (event.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            events.closeRequested = true;
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_RESIZED:
            events.sizeChanged = true;
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
            events.exposed = true;
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
  }
}

bool LiveWindow::followSize() {
  int width = 0;
  int height = 0;
  SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(window), &width, &height);
  if (width <= 0 || height <= 0 || (width == clientWidth && height == clientHeight)) return false;
  clientWidth = width;
  clientHeight = height;
  return true;
}

bool LiveWindow::fitPicture() {
  if (drawWidth == clientWidth && drawHeight == clientHeight) return false;
  if (picture.framebuffer != 0) {
    // The old picture, scaled so that its letterbox covers the new one: the trail
    // goes on from there. Where no new picture can be made, the show draws into the
    // back buffer from now on.
    OffscreenPicture old = picture;
    picture = OffscreenPicture{};
    std::string why;
    if (picture.create(clientWidth, clientHeight, why)) {
      const CarriedRows rows = carriedLetterbox(old.width, old.height, clientWidth, clientHeight);
      old.copyTo(picture.framebuffer, 0, rows.bottom, clientWidth, rows.top - rows.bottom);
    }
    old.destroy();
    if (picture.framebuffer != 0) picture.bind();
  }
  if (picture.framebuffer == 0) {
    glClear(GL_COLOR_BUFFER_BIT);
  }
  drawWidth = clientWidth;
  drawHeight = clientHeight;
  return true;
}

void LiveWindow::toggleFullScreen() {
  SDL_Window* sdlWindow = static_cast<SDL_Window*>(window);
  if ((SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_FULLSCREEN) == 0) {
    SDL_GetWindowPosition(sdlWindow, &windowedX, &windowedY);
    SDL_GetWindowSize(sdlWindow, &windowedWidth, &windowedHeight);
    int display = SDL_GetWindowDisplayIndex(sdlWindow);
    SDL_Rect bounds;
    if (display < 0 || SDL_GetDisplayBounds(display, &bounds) != 0) return;
    // Over the whole display first: without a window manager, full-screen desktop
    // mode alone leaves the window as it is.
    SDL_SetWindowBordered(sdlWindow, SDL_FALSE);
    SDL_SetWindowPosition(sdlWindow, bounds.x, bounds.y);
    SDL_SetWindowSize(sdlWindow, bounds.w, bounds.h);
    SDL_SetWindowFullscreen(sdlWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
    SDL_SetWindowAlwaysOnTop(sdlWindow, SDL_TRUE);
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  if (windowedWidth == 0) {
    // Started full screen: a window of the requested size, centred on this display.
    const int display = SDL_GetWindowDisplayIndex(sdlWindow);
    SDL_Rect usable;
    windowedWidth = requestWidth;
    windowedHeight = requestHeight;
    if (display >= 0 && SDL_GetDisplayUsableBounds(display, &usable) == 0) {
      windowedWidth = windowedWidth < usable.w ? windowedWidth : usable.w;
      windowedHeight = windowedHeight < usable.h ? windowedHeight : usable.h;
      windowedX = usable.x + (usable.w - windowedWidth) / 2;
      windowedY = usable.y + (usable.h - windowedHeight) / 2;
    }
  }
  SDL_SetWindowFullscreen(sdlWindow, 0);
  SDL_SetWindowAlwaysOnTop(sdlWindow, SDL_FALSE);
  SDL_SetWindowBordered(sdlWindow, SDL_TRUE);
  SDL_SetWindowResizable(sdlWindow, SDL_TRUE);
  SDL_SetWindowSize(sdlWindow, windowedWidth, windowedHeight);
  SDL_SetWindowPosition(sdlWindow, windowedX, windowedY);
  SDL_ShowCursor(SDL_ENABLE);
}

const char* LiveWindow::renderer() const {
  if (glContext == nullptr) return "";
  const GLubyte* name = glGetString(GL_RENDERER);
  return name != nullptr ? reinterpret_cast<const char*>(name) : "";
}

void LiveWindow::close() {
  if (window == nullptr) return;
  picture.destroy();
  if (glContext != nullptr) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(glContext));
  SDL_DestroyWindow(static_cast<SDL_Window*>(window));
  SDL_ShowCursor(SDL_ENABLE);
  glContext = nullptr;
  window = nullptr;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

//----------------------------------------------------------------------------------
// LiveAudio
//----------------------------------------------------------------------------------
bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  frames = playFrames;
  frameCount = playFrameCount;
  sequence.store(0);
  handedBefore.store(0);
  handedOver.store(0);
  callbackTimeNs.store(0);
  latencyFrames.store(0);
  muted.store(false);
  lastReported = 0;

  SDL_AudioSpec wanted;
  std::memset(&wanted, 0, sizeof wanted);
  wanted.freq = sampleRate;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = audioChannels;
  wanted.samples = audioBufferFrames;
  wanted.callback = audioCallback;
  wanted.userdata = this;
  SDL_AudioSpec obtained;
  std::memset(&obtained, 0, sizeof obtained);

  std::string why;
  {
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      why = SDL_GetError();
    } else {
      // No changes allowed: SDL converts to whatever the device really takes.
      device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
      if (device == 0) {
        why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
      }
    }
  }
  if (device == 0) {
    error = "pulse165: cannot open the audio device: " + why + " (try --mute)";
    return false;
  }
  latencyFrames.store(obtained.samples);
  return true;
}

void LiveAudio::start() {
  if (device != 0) SDL_PauseAudioDevice(device, 0);
}

void LiveAudio::fill(float* out, std::uint32_t outFrames, std::uint64_t nowNs) {
  const std::uint32_t before = handedOver.load(std::memory_order_relaxed);  // only this thread writes it
  const std::uint32_t remaining = before < frameCount ? frameCount - before : 0;
  const std::uint32_t copied = remaining < outFrames ? remaining : outFrames;
  constexpr std::size_t frameBytes = audioChannels * sizeof(float);
  if (muted.load(std::memory_order_relaxed)) {
    std::memset(out, 0, outFrames * frameBytes);
  } else {
    if (copied > 0) std::memcpy(out, frames + static_cast<std::size_t>(before) * audioChannels, copied * frameBytes);
    std::memset(out + static_cast<std::size_t>(copied) * audioChannels, 0, (outFrames - copied) * frameBytes);
  }

  // The silence after the track counts as handed over too, so that the cursor can
  // run on to the very last frame of the track.
  const std::uint32_t after = before + outFrames >= before ? before + outFrames : UINT32_MAX;

  const std::uint32_t s = sequence.load(std::memory_order_relaxed);
  sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  handedBefore.store(before, std::memory_order_relaxed);
  handedOver.store(after, std::memory_order_relaxed);
  callbackTimeNs.store(nowNs, std::memory_order_relaxed);
  sequence.store(s + 2, std::memory_order_release);
}

std::uint32_t LiveAudio::positionAt(std::uint64_t nowNs) {
  std::uint32_t before = 0;
  std::uint32_t after = 0;
  std::uint64_t timeNs = 0;
  for (;;) {
    const std::uint32_t s1 = sequence.load(std::memory_order_acquire);
    if ((s1 & 1u) != 0) continue;  // the callback is halfway through publishing
    before = handedBefore.load(std::memory_order_relaxed);
    after = handedOver.load(std::memory_order_relaxed);
    timeNs = callbackTimeNs.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequence.load(std::memory_order_relaxed) == s1) break;
  }
  std::uint32_t cursor = interpolatePlayCursor(before, after, timeNs, nowNs, latencyFrames.load(), lastReported);
  if (cursor > frameCount) cursor = frameCount;
  lastReported = cursor;
  return cursor;
}

std::uint32_t LiveAudio::position() {
  return positionAt(monotonicNanoseconds());
}

void LiveAudio::moveCursor(std::uint32_t frame) {
  if (frame > frameCount) frame = frameCount;
  // As if a callback had just handed over nothing from `frame` on: the next one
  // copies from there, and until the device plays it the cursor holds at `frame`.
  const std::uint32_t s = sequence.load(std::memory_order_relaxed);
  sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  handedBefore.store(frame, std::memory_order_relaxed);
  handedOver.store(frame, std::memory_order_relaxed);
  sequence.store(s + 2, std::memory_order_release);
  lastReported = frame;
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device != 0) SDL_LockAudioDevice(device);
  moveCursor(frame);
  if (device != 0) SDL_UnlockAudioDevice(device);
}

void LiveAudio::pause() {
  if (device != 0) SDL_PauseAudioDevice(device, 1);
}

void LiveAudio::resume() {
  if (device != 0) SDL_PauseAudioDevice(device, 0);
}

void LiveAudio::setMuted(bool silent) {
  muted.store(silent, std::memory_order_relaxed);
}

void LiveAudio::close() {
  if (device == 0) return;
  SDL_CloseAudioDevice(device);
  device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

//----------------------------------------------------------------------------------
// Play cursor arithmetic
//----------------------------------------------------------------------------------
std::uint32_t interpolatePlayCursor(std::uint32_t handedBefore, std::uint32_t handedAfter, std::uint64_t callbackTimeNs,
                                    std::uint64_t nowNs, std::uint32_t latencyFrames, std::uint32_t lastReported) {
  // Long gaps (a stalled device) cannot move the cursor past the cap below anyway;
  // bounding the gap keeps the product within 64 bits.
  constexpr std::uint64_t longestGapNs = 60 * nanosecondsPerSecond;
  std::uint64_t elapsedNs = nowNs > callbackTimeNs ? nowNs - callbackTimeNs : 0;
  if (elapsedNs > longestGapNs) elapsedNs = longestGapNs;
  const auto elapsedFrames = static_cast<std::int64_t>(elapsedNs * sampleRate / nanosecondsPerSecond);

  // The device plays what the latest callback handed over only after the buffering
  // ahead of it has drained, and cannot have played more than was handed over.
  std::int64_t cursor = static_cast<std::int64_t>(handedBefore) - latencyFrames + elapsedFrames;
  const std::int64_t cap = static_cast<std::int64_t>(handedAfter) - latencyFrames;
  if (cursor > cap) cursor = cap;
  if (cursor < 0) cursor = 0;
  if (cursor < lastReported) cursor = lastReported;
  return static_cast<std::uint32_t>(cursor);
}
