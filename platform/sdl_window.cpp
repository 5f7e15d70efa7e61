// The live window on SDL2: the full-screen (or windowed) show window with its
// compatibility OpenGL context and the offscreen picture the show draws into, and the
// window's input, the desktop's media controls among it.
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/sample_rate.h"
#include "platform/live.h"
#include "platform/mpris.h"
#include "platform/render_queue.h"
#include "platform/sdl.h"
#include "platform/sdl_quiet.h"
#include "platform/viewport.h"

// A named display that does not answer is asked this many times, this far apart.
constexpr int displayAttempts = 3;
constexpr Uint32 displayRetryMs = 250;

// The back end's own: SDL's window and context, and where the window stood before it
// filled the screen.
struct LiveWindow::Native {
  SDL_Window* window = nullptr;
  SDL_GLContext glContext = nullptr;
  int windowedX = 0;
  int windowedY = 0;
  int windowedWidth = 0;  // 0 until the window has been one
  int windowedHeight = 0;
  MprisPlayer media;  // the desktop's media controls, where a session bus answers
};

bool LiveWindow::open(std::string& error) {
  close();
  constexpr const char* noDisplayHint = " (no display? try --screenshot, or run under Xvfb)";
  // With no display at all SDL falls back on drivers that draw nowhere; a show
  // nobody can see is no show, unless someone asked for that driver by name. Where a
  // display is named but did not answer (a server still starting, or too busy to take
  // the connection at once), it is asked again a few times.
  const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  const bool displayNamed = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  const char* driver = nullptr;
  bool invisible = false;
  for (int attempt = 0;; ++attempt) {
    int initialised = 0;
    {
      QuietStderr quiet;  // the Wayland probe complains on stderr where there is no session
      initialised = SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    if (initialised != 0) {
      error = std::string("pulse165: cannot open the show window: ") + SDL_GetError() + noDisplayHint;
      return false;
    }
    driver = SDL_GetCurrentVideoDriver();
    invisible = driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
                (requested == nullptr || std::strstr(requested, driver) == nullptr);
    if (!invisible || !displayNamed || attempt + 1 >= displayAttempts) break;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Delay(displayRetryMs);
  }
  if (invisible) {
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
    native = new Native;
    native->window = created;
    native->glContext = createdContext;
    break;
  }
  if (native == nullptr) {
    error = "pulse165: cannot open the show window: " + why;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }

  SDL_Window* sdlWindow = native->window;
  if (SDL_GL_MakeCurrent(sdlWindow, native->glContext) != 0) {
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
  native->media.open();
  return true;
}

void LiveWindow::present() {
  if (picture.framebuffer == 0) return;
  if (picture.width == clientWidth && picture.height == clientHeight) {
    picture.copyTo(0, 0, 0, picture.width, picture.height);
    return;
  }
  // Held through a resize: scaled so that its letterbox covers the window's, the rest black.
  bindFramebuffer(0);
  glPushAttrib(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glPopAttrib();
  const CarriedRows rows = carriedLetterbox(picture.width, picture.height, clientWidth, clientHeight);
  picture.copyTo(0, 0, rows.bottom, clientWidth, rows.top - rows.bottom);
}

void LiveWindow::swap() {
  renderFinish();  // the present's fence of the queue's own (render_queue.h)
  SDL_GL_SwapWindow(native->window);
  if (picture.framebuffer != 0) picture.bind();
}

std::uint64_t LiveWindow::refreshNs() const {
  // Swaps wait for the vertical blank only where the driver took the swap interval
  // and the display says how often it comes.
  if (native == nullptr || SDL_GL_GetSwapInterval() == 0) return 0;
  SDL_DisplayMode mode;
  if (SDL_GetWindowDisplayMode(native->window, &mode) != 0 || mode.refresh_rate <= 0) return 0;
  return 1'000'000'000ull / static_cast<std::uint64_t>(mode.refresh_rate);
}

namespace {
// What the desktop's media controls asked since the last look, as the keys' actions.
void takeMediaRequests(MprisPlayer& media, SDL_Window* window, WindowEvents& events) {
  MprisCommand commands[8];
  const int count = media.poll(commands, 8);
  for (int i = 0; i < count; ++i) {
    KeyAction action = KeyAction::none;
    switch (commands[i].request) {
      case MprisRequest::playPause:
        action = KeyAction::pause;
        break;
      case MprisRequest::play:
        action = KeyAction::play;
        break;
      case MprisRequest::pause:
        action = KeyAction::hold;
        break;
      case MprisRequest::stop:
        action = KeyAction::stop;
        break;
      case MprisRequest::next:
        action = KeyAction::nextSong;
        break;
      case MprisRequest::previous:
        action = KeyAction::previousSong;
        break;
      case MprisRequest::seek:
      case MprisRequest::setPosition:
        events.seek =
            commands[i].request == MprisRequest::seek ? WindowEvents::MediaSeek::by : WindowEvents::MediaSeek::to;
        events.seekMicroseconds = commands[i].microseconds;
        break;
      case MprisRequest::raise:
        SDL_RaiseWindow(window);
        break;
      case MprisRequest::quit:
        events.closeRequested = true;
        break;
      case MprisRequest::none:
        break;
    }
    if (action != KeyAction::none && events.actionCount < WindowEvents::maxActions)
      events.actions[events.actionCount++] = action;
  }
}

std::int64_t microseconds(std::uint32_t frames) {
  return static_cast<std::int64_t>(frames) * 1'000'000 / sampleRate;
}
}  // namespace

void LiveWindow::announce(const MediaSong& song) {
  if (native == nullptr) return;
  MprisSong now{song.title, song.artist, song.album, microseconds(song.frames), song.index};
  native->media.setSong(now, song.canGoNext, song.canGoPrevious);
}

void LiveWindow::tellPlayback(bool paused, std::uint32_t position, bool jumped) {
  if (native == nullptr) return;
  native->media.setStatus(paused ? MprisStatus::paused : MprisStatus::playing);
  native->media.setPosition(microseconds(position));
  if (jumped) native->media.seeked(microseconds(position));
}

void LiveWindow::takeEvents(WindowEvents& events, int waitMs) {
  if (native != nullptr && native->media.isOpen()) takeMediaRequests(native->media, native->window, events);
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
      case SDL_TEXTINPUT: {
        const KeyAction action = textAction(event.text.text);
        if (action != KeyAction::none && events.actionCount < WindowEvents::maxActions)
          events.actions[events.actionCount++] = action;
        break;
      }
      case SDL_DROPFILE:
        if (event.drop.file != nullptr) {
          drops.emplace_back(event.drop.file);
          SDL_free(event.drop.file);
          events.dropped = true;
        }
        break;
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
  SDL_GL_GetDrawableSize(native->window, &width, &height);
  return takeClientSize(width, height);
}

bool LiveWindow::fitPicture() {
  if (drawWidth == clientWidth && drawHeight == clientHeight) return false;
  // Where no new picture can be made, the show draws into the back buffer from now on.
  std::string why;
  if (picture.framebuffer != 0 && !picture.resizeCarrying(clientWidth, clientHeight, why)) picture.destroy();
  if (picture.framebuffer == 0) {
    glClear(GL_COLOR_BUFFER_BIT);
  }
  drawWidth = clientWidth;
  drawHeight = clientHeight;
  return true;
}

void LiveWindow::toggleFullScreen() {
  SDL_Window* sdlWindow = native->window;
  if ((SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_FULLSCREEN) == 0) {
    SDL_GetWindowPosition(sdlWindow, &native->windowedX, &native->windowedY);
    SDL_GetWindowSize(sdlWindow, &native->windowedWidth, &native->windowedHeight);
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
  if (native->windowedWidth == 0) {
    // Started full screen: a window of the requested size, centred on this display.
    const int display = SDL_GetWindowDisplayIndex(sdlWindow);
    SDL_Rect usable;
    native->windowedWidth = requestWidth;
    native->windowedHeight = requestHeight;
    if (display >= 0 && SDL_GetDisplayUsableBounds(display, &usable) == 0) {
      native->windowedWidth = native->windowedWidth < usable.w ? native->windowedWidth : usable.w;
      native->windowedHeight = native->windowedHeight < usable.h ? native->windowedHeight : usable.h;
      native->windowedX = usable.x + (usable.w - native->windowedWidth) / 2;
      native->windowedY = usable.y + (usable.h - native->windowedHeight) / 2;
    }
  }
  SDL_SetWindowFullscreen(sdlWindow, 0);
  SDL_SetWindowAlwaysOnTop(sdlWindow, SDL_FALSE);
  SDL_SetWindowBordered(sdlWindow, SDL_TRUE);
  SDL_SetWindowResizable(sdlWindow, SDL_TRUE);
  SDL_SetWindowSize(sdlWindow, native->windowedWidth, native->windowedHeight);
  SDL_SetWindowPosition(sdlWindow, native->windowedX, native->windowedY);
  SDL_ShowCursor(SDL_ENABLE);
}

const char* LiveWindow::renderer() const {
  if (native == nullptr) return "";
  const GLubyte* name = glGetString(GL_RENDERER);
  return name != nullptr ? reinterpret_cast<const char*>(name) : "";
}

void LiveWindow::close() {
  if (native == nullptr) return;
  picture.destroy();
  native->media.close();
  SDL_GL_DeleteContext(native->glContext);
  SDL_DestroyWindow(native->window);
  SDL_ShowCursor(SDL_ENABLE);
  delete native;
  native = nullptr;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

SDL_Window* sdlWindow(const LiveWindow& window) {
  return window.native != nullptr ? window.native->window : nullptr;
}
