// The browser platform: the canvas with its WebGL 2 context and offscreen framebuffer,
// the keys, and the sound through Web Audio.
#include "platform/web.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/live.h"
#include "web/gl/gl_subset.h"

namespace {

// The page has one canvas; the live window's handle points here.
struct Canvas {
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
  GLuint framebuffer = 0;
  GLuint colourBuffer = 0;
  int width = 0;
  int height = 0;
  bool endRequested = false;
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

EM_JS(void, toggleFullScreen, (), {
  const c = document.getElementById('canvas');
  if (document.fullscreenElement) {
    document.exitFullscreen();
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

// The sound: one AudioContext, one buffer, one source; the clock is the context's.
EM_JS(int, openPageAudio, (const float* frames, int frameCount), {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return 0;
  let context;
  try {
    context = new Context({sampleRate: 44100, latencyHint: 'playback'});
  } catch (e) {
    context = new Context();
  }
  const buffer = context.createBuffer(2, Math.max(frameCount, 1), 44100);
  const left = buffer.getChannelData(0);
  const right = buffer.getChannelData(1);
  const samples = HEAPF32.subarray(frames >> 2, (frames >> 2) + 2 * frameCount);
  for (let i = 0; i < frameCount; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  const source = context.createBufferSource();
  source.buffer = buffer;
  source.connect(context.destination);
  Module.pulse165Audio = {context: context, source: source, start: -1};
  return 1;
});

EM_JS(void, startPageAudio, (), {
  const a = Module.pulse165Audio;
  if (!a) return;
  a.start = a.context.currentTime;
  a.source.start(a.start);
  if (a.context.state !== 'running') a.context.resume();
});

// Seconds of sound heard since the start: the output timestamp's context time carried
// on to now, where the browser reports one; otherwise the context's time less the
// output latency. Never beyond what the context has rendered.
EM_JS(double, pageAudioSeconds, (), {
  const a = Module.pulse165Audio;
  if (!a || a.start < 0) return 0;
  const c = a.context;
  let heard = c.currentTime - (c.outputLatency || c.baseLatency || 0);
  if (c.getOutputTimestamp) {
    const t = c.getOutputTimestamp();
    if (t.contextTime > 0 && t.performanceTime > 0)
      heard = t.contextTime + (performance.now() - t.performanceTime) / 1000;
  }
  return Math.min(heard, c.currentTime) - a.start;
});

EM_JS(void, closePageAudio, (), {
  const a = Module.pulse165Audio;
  if (!a) return;
  try { a.source.stop(); } catch (e) {}
  a.context.close();
  Module.pulse165Audio = null;
});
// clang-format on

EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* event, void*) {
  switch (keyAction(event->key)) {
    case KeyAction::end:
      canvas.endRequested = true;
      return EM_TRUE;
    case KeyAction::fullScreen:
      toggleFullScreen();  // inside the key's handler, as browsers require
      return EM_TRUE;
    case KeyAction::none:
      break;
  }
  return EM_FALSE;
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
KeyAction keyAction(const char* key) {
  if (std::strcmp(key, "Escape") == 0) return KeyAction::end;
  if (std::strcmp(key, "f") == 0 || std::strcmp(key, "F") == 0) return KeyAction::fullScreen;
  return KeyAction::none;
}

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

  GLint maxSize = 0;
  emscripten_glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  if (width > maxSize || height > maxSize) {
    error = "pulse165: the picture is larger than WebGL allows (" + std::to_string(maxSize) + " on a side)";
    close();
    return false;
  }
  // The show draws into its own image; the canvas's buffer is replaced at every
  // presentation, this one keeps the previous frame for the trail fade.
  emscripten_glGenRenderbuffers(1, &canvas.colourBuffer);
  emscripten_glBindRenderbuffer(GL_RENDERBUFFER, canvas.colourBuffer);
  emscripten_glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  emscripten_glGenFramebuffers(1, &canvas.framebuffer);
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, canvas.framebuffer);
  emscripten_glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, canvas.colourBuffer);
  if (emscripten_glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    error = "pulse165: WebGL cannot draw into an offscreen image";
    close();
    return false;
  }
  if (!openGlSubset(error)) {
    close();
    return false;
  }
  canvas.width = width;
  canvas.height = height;
  canvas.endRequested = false;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, onKeyDown);
  clientWidth = width;
  clientHeight = height;
  window = &canvas;
  glContext = reinterpret_cast<void*>(static_cast<std::intptr_t>(canvas.context));
  return true;
}

void LiveWindow::swap() {
  if (window == nullptr) return;
  flushGlSubset();
  emscripten_glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.framebuffer);
  emscripten_glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  emscripten_glBlitFramebuffer(0, 0, canvas.width, canvas.height, 0, 0, canvas.width, canvas.height,
                               GL_COLOR_BUFFER_BIT, GL_NEAREST);
  emscripten_glBindFramebuffer(GL_FRAMEBUFFER, canvas.framebuffer);
}

bool LiveWindow::takeEndRequest() {
  const bool end = canvas.endRequested;
  canvas.endRequested = false;
  return end;
}

void LiveWindow::close() {
  if (canvas.context == 0) return;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
  emscripten_webgl_make_context_current(canvas.context);
  if (canvas.framebuffer != 0) emscripten_glDeleteFramebuffers(1, &canvas.framebuffer);
  if (canvas.colourBuffer != 0) emscripten_glDeleteRenderbuffers(1, &canvas.colourBuffer);
  emscripten_webgl_destroy_context(canvas.context);
  canvas = Canvas{};
  window = nullptr;
  glContext = nullptr;
}

//----------------------------------------------------------------------------------
// LiveAudio on Web Audio
//----------------------------------------------------------------------------------
bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  frames = playFrames;
  frameCount = playFrameCount;
  lastReported = 0;
  if (openPageAudio(playFrames, static_cast<int>(playFrameCount)) == 0) {
    error = "pulse165: this browser offers no Web Audio";
    return false;
  }
  device = 1;
  return true;
}

void LiveAudio::start() {
  if (device != 0) startPageAudio();
}

std::uint32_t LiveAudio::position() {
  if (device == 0) return lastReported;
  const double played = pageAudioSeconds() * 44100.0;
  std::uint32_t cursor = played <= 0.0 ? 0 : (played >= frameCount ? frameCount : static_cast<std::uint32_t>(played));
  if (cursor < lastReported) cursor = lastReported;  // never backwards
  lastReported = cursor;
  return cursor;
}

void LiveAudio::close() {
  if (device == 0) return;
  closePageAudio();
  device = 0;
}
