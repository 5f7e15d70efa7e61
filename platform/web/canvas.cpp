// The live window on the page: the canvas with its WebGL 2 context and the offscreen
// picture the show draws into, the keys, resizing and full screen.
#include <GL/gl.h>
#include <SDL_keycode.h>  // emscripten's SDL headers: the key codes of platform/keys.h
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/live.h"
#include "platform/viewport.h"
#include "platform/web/gl/gl_subset.h"
#include "platform/web/page.h"

// The page's side, in web/js/canvas.js.
extern "C" {
void pulse165_sizeCanvasFromPage(int fill, int* width, int* height);
void pulse165_togglePageFullScreen();
}

namespace {

// The page has one canvas; the live window's handle points here. What the page's
// events bring waits here until the player takes it.
struct Canvas {
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
  bool fillsPage = false;
  KeyAction pending[WindowEvents::maxActions] = {};
  int pendingCount = 0;
  bool sizeChanged = false;
  std::string renderer;
  // The page draws once per animation frame, which comes once per refresh of the
  // display: the time between swaps, smoothed, is its period.
  std::uint64_t lastSwapNs = 0;
  double periodNs = 0.0;
};
constexpr double periodSmoothing = 16.0;
constexpr double longestPeriodNs = 100e6;  // a longer gap is a hidden tab, not the display

Canvas canvas;

constexpr const char* canvasSelector = "#canvas";

// The page's key as the SDL key code that the keys table knows it by: the named keys
// the table uses, and letters by their lower case (SDL's codes for them).
int keycodeOf(const EmscriptenKeyboardEvent& event) {
  struct Named {
    const char* key;
    int code;
  };
  static constexpr Named named[] = {
      {"Escape", SDLK_ESCAPE}, {" ", SDLK_SPACE},   {"ArrowLeft", SDLK_LEFT},    {"ArrowRight", SDLK_RIGHT},
      {"PageUp", SDLK_PAGEUP}, {"Home", SDLK_HOME}, {"PageDown", SDLK_PAGEDOWN}, {"F11", SDLK_F11},
  };
  for (const Named& n : named)
    if (std::strcmp(event.key, n.key) == 0) return n.code;
  if (std::strcmp(event.key, "Enter") == 0)
    return event.location == DOM_KEY_LOCATION_NUMPAD ? SDLK_KP_ENTER : SDLK_RETURN;
  const unsigned char first = static_cast<unsigned char>(event.key[0]);
  if (first < 0x80 && event.key[1] == '\0') return std::tolower(first);
  return SDLK_UNKNOWN;
}

unsigned modifiersOf(const EmscriptenKeyboardEvent& event) {
  return (event.shiftKey ? KMOD_LSHIFT : 0) | (event.ctrlKey ? KMOD_LCTRL : 0) | (event.altKey ? KMOD_LALT : 0) |
         (event.metaKey ? KMOD_LGUI : 0);
}

EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* event, void*) {
  KeyAction action = keyAction(keycodeOf(*event), modifiersOf(*event), event->repeat != 0);
  if (action == KeyAction::none && event->repeat == 0) action = textAction(event->key);
  if (action == KeyAction::none) return EM_FALSE;
  if (canvas.pendingCount < WindowEvents::maxActions) canvas.pending[canvas.pendingCount++] = action;
  return EM_TRUE;  // the page's own use of the key (Space scrolls, F11) is not wanted
}

EM_BOOL onResize(int, const EmscriptenUiEvent*, void*) {
  canvas.sizeChanged = true;
  return EM_FALSE;
}

EM_BOOL onFullScreenChange(int, const EmscriptenFullscreenChangeEvent*, void*) {
  canvas.sizeChanged = true;
  return EM_FALSE;
}

void listen(bool on) {
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on ? onKeyDown : nullptr);
  emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, on ? onResize : nullptr);
  emscripten_set_fullscreenchange_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE,
                                           on ? onFullScreenChange : nullptr);
}
}  // namespace

//----------------------------------------------------------------------------------
// The offscreen picture on WebGL 2: a renderbuffer, copied by blitting. The GL subset
// gathers drawing in batches, so each of these first draws what it holds.
//----------------------------------------------------------------------------------
bool OffscreenPicture::create(int pictureWidth, int pictureHeight, std::string& why) {
  destroy();
  GLint maxSize = 0;
  emscripten_glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  if (pictureWidth <= 0 || pictureHeight <= 0 || pictureWidth > maxSize || pictureHeight > maxSize) {
    why = "the picture is larger than WebGL allows (" + std::to_string(maxSize) + " on a side)";
    return false;
  }
  flushGlSubset();
  width = pictureWidth;
  height = pictureHeight;
  colorIsTexture = false;
  emscripten_glGenRenderbuffers(1, &colorBuffer);
  emscripten_glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
  emscripten_glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  emscripten_glGenFramebuffers(1, &framebuffer);
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  emscripten_glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
  if (emscripten_glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    why = "WebGL cannot draw into an offscreen picture";
    destroy();
    return false;
  }
  glClear(GL_COLOR_BUFFER_BIT);  // black: the show itself never clears it
  return true;
}

void OffscreenPicture::destroy() {
  if (framebuffer != 0 || colorBuffer != 0) flushGlSubset();
  if (framebuffer != 0) {
    emscripten_glBindFramebuffer(GL_FRAMEBUFFER, 0);
    emscripten_glDeleteFramebuffers(1, &framebuffer);
  }
  if (colorBuffer != 0) emscripten_glDeleteRenderbuffers(1, &colorBuffer);
  framebuffer = colorBuffer = 0;
  width = height = 0;
}

void OffscreenPicture::bind() const {
  flushGlSubset();
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void OffscreenPicture::copyTo(unsigned target, int x, int y, int w, int h) const {
  flushGlSubset();
  emscripten_glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  emscripten_glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
  const bool sameSize = w == width && h == height;
  emscripten_glBlitFramebuffer(0, 0, width, height, x, y, x + w, y + h, GL_COLOR_BUFFER_BIT,
                               sameSize ? GL_NEAREST : GL_LINEAR);
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, target);
}

//----------------------------------------------------------------------------------
// LiveWindow on the canvas
//----------------------------------------------------------------------------------
bool LiveWindow::open(std::string& error) {
  close();
  int width = requestWidth;
  int height = requestHeight;
  pulse165_sizeCanvasFromPage(fullScreen ? 1 : 0, &width, &height);
  emscripten_set_canvas_element_size(canvasSelector, width, height);

  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_FALSE;
  attributes.stencil = EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.premultipliedAlpha = EM_FALSE;
  attributes.preserveDrawingBuffer = EM_FALSE;
  attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
  canvas.context = emscripten_webgl_create_context(canvasSelector, &attributes);
  if (canvas.context <= 0) {
    error = "pulse165: this browser offers no WebGL 2 on the canvas";
    canvas.context = 0;
    return false;
  }
  emscripten_webgl_make_context_current(canvas.context);
  if (!openGlSubset(error)) {
    close();
    return false;
  }
  // The show draws into a picture of its own, which keeps the previous frame for the
  // trail fade; the canvas's buffer is replaced at every presentation.
  std::string why;
  if (!picture.create(width, height, why)) {
    error = "pulse165: " + why;
    close();
    return false;
  }
  canvas.fillsPage = fullScreen;
  canvas.pendingCount = 0;
  canvas.sizeChanged = false;
  canvas.renderer = webglRenderer();
  listen(true);
  clientWidth = width;
  clientHeight = height;
  drawWidth = width;
  drawHeight = height;
  return true;
}

void LiveWindow::present() {
  // Once the page has shown the canvas, the browser clears it lazily, before the next
  // drawing call that touches it, but not before a copy: paused, the overlay's first
  // drawing would clear away the picture just copied. A clear of our own comes first.
  flushGlSubset();
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, 0);
  emscripten_glClear(GL_COLOR_BUFFER_BIT);
  if (picture.width == clientWidth && picture.height == clientHeight) {
    picture.copyTo(0, 0, 0, picture.width, picture.height);
    return;
  }
  // Held through a resize: scaled so that its letterbox covers the canvas's.
  const CarriedRows rows = carriedLetterbox(picture.width, picture.height, clientWidth, clientHeight);
  picture.copyTo(0, 0, rows.bottom, clientWidth, rows.top - rows.bottom);
}

void LiveWindow::swap() {
  // The browser shows the canvas once the page's code returns to it, at the display's
  // next refresh.
  picture.bind();
  const std::uint64_t now = monotonicNanoseconds();
  const double gap = static_cast<double>(now - canvas.lastSwapNs);
  if (canvas.lastSwapNs != 0 && gap < longestPeriodNs)
    canvas.periodNs = canvas.periodNs == 0.0 ? gap : canvas.periodNs + (gap - canvas.periodNs) / periodSmoothing;
  canvas.lastSwapNs = now;
}

std::uint64_t LiveWindow::refreshNs() const {
  return static_cast<std::uint64_t>(canvas.periodNs);
}

// The page has no media controls of the desktop's to tell.
void LiveWindow::announce(const MediaSong&) {}
void LiveWindow::tellPlayback(bool, std::uint32_t, bool) {}

void LiveWindow::takeEvents(WindowEvents& events, int) {
  for (int i = 0; i < canvas.pendingCount && events.actionCount < WindowEvents::maxActions; ++i)
    events.actions[events.actionCount++] = canvas.pending[i];
  canvas.pendingCount = 0;
  events.sizeChanged = events.sizeChanged || canvas.sizeChanged;
  canvas.sizeChanged = false;
}

bool LiveWindow::followSize() {
  if (!canvas.fillsPage) return false;
  int width = 0;
  int height = 0;
  pulse165_sizeCanvasFromPage(1, &width, &height);
  if (!takeClientSize(width, height)) return false;
  emscripten_set_canvas_element_size(canvasSelector, width, height);
  return true;
}

bool LiveWindow::fitPicture() {
  if (drawWidth == clientWidth && drawHeight == clientHeight) return false;
  std::string why;
  if (!picture.resizeCarrying(clientWidth, clientHeight, why)) {
    std::fprintf(stderr, "pulse165: %s; the picture keeps its size\n", why.c_str());
    // The canvas too, which the page then stretches over itself.
    emscripten_set_canvas_element_size(canvasSelector, drawWidth, drawHeight);
    clientWidth = drawWidth;
    clientHeight = drawHeight;
    return false;
  }
  drawWidth = clientWidth;
  drawHeight = clientHeight;
  return true;
}

void LiveWindow::toggleFullScreen() {
  pulse165_togglePageFullScreen();
}

bool holdCanvasAt(LiveWindow& window, int width, int height, std::string& why) {
  OffscreenPicture picture;
  if (!picture.create(width, height, why)) {
    window.picture.bind();
    return false;
  }
  window.picture.destroy();
  window.picture = picture;
  int pageWidth = 0, pageHeight = 0;
  pulse165_sizeCanvasFromPage(1, &pageWidth, &pageHeight);  // its style: scaled into the page
  emscripten_set_canvas_element_size(canvasSelector, width, height);
  canvas.fillsPage = false;
  window.clientWidth = window.drawWidth = width;
  window.clientHeight = window.drawHeight = height;
  return true;
}

void fillPageAgain(LiveWindow& window) {
  canvas.fillsPage = true;
  window.followSize();
  std::string why;
  if (window.picture.create(window.clientWidth, window.clientHeight, why)) {
    window.drawWidth = window.clientWidth;
    window.drawHeight = window.clientHeight;
  } else {
    std::fprintf(stderr, "pulse165: %s\n", why.c_str());
  }
}

const char* LiveWindow::renderer() const {
  return canvas.renderer.c_str();
}

void LiveWindow::close() {
  if (canvas.context == 0) return;
  listen(false);
  emscripten_webgl_make_context_current(canvas.context);
  picture.destroy();
  emscripten_webgl_destroy_context(canvas.context);
  canvas = Canvas{};
}
