// The browser platform: the canvas with its WebGL 2 context and offscreen picture, the
// keys, resizing and full screen, and the sound through Web Audio.
#include "platform/web.h"

#include <GL/gl.h>
#include <SDL_keycode.h>  // emscripten's SDL headers: the key codes of platform/keys.h
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/sample_rate.h"
#include "platform/live.h"
#include "platform/viewport.h"
#include "web/gl/gl_subset.h"

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
};

Canvas canvas;

constexpr const char* canvasSelector = "#canvas";

// clang-format off
EM_JS(void, sizeCanvasFromPage, (int fill, int* width, int* height), {
  const c = document.getElementById('canvas');
  if (fill) {
    const ratio = window.devicePixelRatio || 1;
    c.style.width = '100%';
    c.style.height = '100%';
    HEAP32[width >> 2] = Math.max(1, Math.round(window.innerWidth * ratio));
    HEAP32[height >> 2] = Math.max(1, Math.round(window.innerHeight * ratio));
  } else {
    c.style.width = HEAP32[width >> 2] + 'px';
    c.style.height = HEAP32[height >> 2] + 'px';
  }
});

// Browsers let a page go full screen only while a key press or a click is recent: the
// player acts on the key in the next animation frame, well within that.
EM_JS(void, togglePageFullScreen, (), {
  const c = document.getElementById('canvas');
  if (document.fullscreenElement) {
    document.exitFullscreen().catch(() => {});
  } else if (c.requestFullscreen) {
    c.requestFullscreen().catch(() => {});
  }
});

EM_JS(char*, readPageQuery, (const char* name), {
  const value = new URLSearchParams(location.search).get(UTF8ToString(name));
  if (value === null) return 0;
  const size = lengthBytesUTF8(value) + 1;
  const text = _malloc(size);
  stringToUTF8(value, text, size);
  return text;
});

EM_JS(void, writePageTitle, (const char* title), { document.title = UTF8ToString(title); });

EM_JS(void, writePagePrompt, (const char* text), {
  const p = document.getElementById('prompt');
  if (!p) return;
  p.textContent = UTF8ToString(text);
  p.style.display = p.textContent ? 'flex' : 'none';
});

EM_JS(void, writePageReport, (const char* text), {
  const r = document.getElementById('report');
  if (r) r.textContent = UTF8ToString(text);
});

EM_JS(char*, readWebglRenderer, (), {
  const gl = GL.currentContext && GL.currentContext.GLctx;
  let name = "";
  if (gl) {
    const info = gl.getExtension('WEBGL_debug_renderer_info');
    name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
  }
  const size = lengthBytesUTF8(name) + 1;
  const text = _malloc(size);
  stringToUTF8(name, text, size);
  return text;
});

// The sound: one AudioContext, one buffer, a gain for muting, and a buffer source for
// each stretch of playing (a seek starts a new one).
EM_JS(int, openPageAudio, (const float* frames, int frameCount, int rate), {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return 0;
  let context;
  try {
    context = new Context({sampleRate: rate, latencyHint: 'playback'});
  } catch (e) {
    context = new Context();
  }
  const buffer = context.createBuffer(2, Math.max(frameCount, 1), rate);
  const left = buffer.getChannelData(0);
  const right = buffer.getChannelData(1);
  const samples = HEAPF32.subarray(frames >> 2, (frames >> 2) + 2 * frameCount);
  for (let i = 0; i < frameCount; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  const gain = context.createGain();
  gain.connect(context.destination);
  Module.pulse165Audio = {context: context, buffer: buffer, gain: gain, source: null, start: 0, rate: rate};
  return 1;
});

// Plays the buffer from `frame` on, starting now on the context's clock (at once, or
// when a suspended context resumes); the clock's start moves so that now is `frame`.
EM_JS(void, playPageAudioFrom, (double frame), {
  const a = Module.pulse165Audio;
  if (!a) return;
  if (a.source) {
    try { a.source.stop(); } catch (e) {}
    a.source.disconnect();
  }
  const now = a.context.currentTime;
  const offset = frame / a.rate;
  a.source = a.context.createBufferSource();
  a.source.buffer = a.buffer;
  a.source.connect(a.gain);
  if (offset < a.buffer.duration) a.source.start(now, offset);
  a.start = now - offset;
  if (a.context.state === 'suspended' && !a.held) a.context.resume();
});

// Seconds of the track heard: the output timestamp's context time carried on to now,
// where the browser reports a fresh one; otherwise the context's time less the output
// latency. Never beyond what the context has rendered.
EM_JS(double, pageAudioSeconds, (), {
  const a = Module.pulse165Audio;
  if (!a || !a.source) return 0;
  const c = a.context;
  let heard = c.currentTime - (c.outputLatency || c.baseLatency || 0);
  if (c.state === 'running' && c.getOutputTimestamp) {
    const t = c.getOutputTimestamp();
    const since = (performance.now() - t.performanceTime) / 1000;
    if (t.contextTime > 0 && t.performanceTime > 0 && since >= 0 && since < 0.5) heard = t.contextTime + since;
  }
  return Math.min(heard, c.currentTime) - a.start;
});

// Paused, the context is suspended: no sound, and its clock stands still.
EM_JS(void, holdPageAudio, (int hold), {
  const a = Module.pulse165Audio;
  if (!a) return;
  a.held = hold !== 0;
  if (a.held) a.context.suspend(); else a.context.resume();
});

EM_JS(void, mutePageAudio, (int silent), {
  const a = Module.pulse165Audio;
  if (a) a.gain.gain.value = silent ? 0 : 1;
});

EM_JS(void, closePageAudio, (), {
  const a = Module.pulse165Audio;
  if (!a) return;
  if (a.source) {
    try { a.source.stop(); } catch (e) {}
  }
  a.context.close();
  Module.pulse165Audio = null;
});
// clang-format on

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
  const KeyAction action = keyAction(keycodeOf(*event), modifiersOf(*event), event->repeat != 0);
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

std::string takeText(char* text) {
  std::string value = text != nullptr ? text : "";
  std::free(text);
  return value;
}

}  // namespace

//----------------------------------------------------------------------------------
// The page
//----------------------------------------------------------------------------------
std::string pageQuery(const char* name, bool& present) {
  char* value = readPageQuery(name);
  present = value != nullptr;
  return takeText(value);
}

void setPageTitle(const char* title) {
  writePageTitle(title);
}
void setPagePrompt(const char* text) {
  writePagePrompt(text);
}
void setPageReport(const char* text) {
  writePageReport(text);
}
std::string webglRenderer() {
  return takeText(readWebglRenderer());
}
double pageMilliseconds() {
  return emscripten_get_now();
}

std::uint64_t monotonicNanoseconds() {
  return static_cast<std::uint64_t>(emscripten_get_now() * 1.0e6);
}

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
  sizeCanvasFromPage(fullScreen ? 1 : 0, &width, &height);
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
  // The browser shows the canvas once the page's code returns to it.
  picture.bind();
}

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
  sizeCanvasFromPage(1, &width, &height);
  if (width == clientWidth && height == clientHeight) return false;
  emscripten_set_canvas_element_size(canvasSelector, width, height);
  clientWidth = width;
  clientHeight = height;
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
  togglePageFullScreen();
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

//----------------------------------------------------------------------------------
// LiveAudio on Web Audio
//----------------------------------------------------------------------------------
// The back end's own: the track's length and the position last reported; the page
// holds the sound.
struct LiveAudio::Device {
  std::uint32_t frameCount = 0;
  std::uint32_t lastReported = 0;  // never report less than this (until a seek)
};

bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  if (openPageAudio(playFrames, static_cast<int>(playFrameCount), sampleRate) == 0) {
    error = "pulse165: this browser offers no Web Audio";
    return false;
  }
  device = new Device{playFrameCount, 0};
  return true;
}

void LiveAudio::start() {
  if (device != nullptr) playPageAudioFrom(0);
}

std::uint32_t LiveAudio::position() {
  if (device == nullptr) return 0;
  const double played = pageAudioSeconds() * sampleRate;
  const std::uint32_t end = device->frameCount;
  std::uint32_t cursor = played <= 0.0 ? 0 : (played >= end ? end : static_cast<std::uint32_t>(played));
  if (cursor < device->lastReported) cursor = device->lastReported;  // never backwards, and held at a seek's frame
  device->lastReported = cursor;
  return cursor;
}

std::uint32_t LiveAudio::latency() const {
  return 0;  // the page's clock is the context's output, already heard
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device == nullptr) return;
  if (frame > device->frameCount) frame = device->frameCount;
  device->lastReported = frame;
  playPageAudioFrom(frame);
}

void LiveAudio::pause() {
  if (device != nullptr) holdPageAudio(1);
}

void LiveAudio::resume() {
  if (device != nullptr) holdPageAudio(0);
}

void LiveAudio::setMuted(bool silent) {
  if (device != nullptr) mutePageAudio(silent ? 1 : 0);
}

void LiveAudio::close() {
  if (device == nullptr) return;
  closePageAudio();
  delete device;
  device = nullptr;
}
