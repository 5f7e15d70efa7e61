// The page around the show: its address's query, its title, prompt and report, the
// WebGL renderer's name and the page's clock.
#include "platform/web/page.h"

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>

namespace {
// clang-format off
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
// clang-format on

std::string takeText(char* text) {
  std::string value = text != nullptr ? text : "";
  std::free(text);
  return value;
}
}  // namespace

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
