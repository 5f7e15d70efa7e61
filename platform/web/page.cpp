// The page around the show: its address's query, its title, prompt and report, the
// WebGL renderer's name and the page's clock.
#include "platform/web/page.h"

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>

// The page's side, in web/js/page.js.
extern "C" {
char* pulse165_readPageQuery(const char* name);
void pulse165_writePageTitle(const char* title);
void pulse165_writePagePrompt(const char* text);
void pulse165_writePageReport(const char* text);
char* pulse165_readWebglRenderer();
}

namespace {

std::string takeText(char* text) {
  std::string value = text != nullptr ? text : "";
  std::free(text);
  return value;
}
}  // namespace

std::string pageQuery(const char* name, bool& present) {
  char* value = pulse165_readPageQuery(name);
  present = value != nullptr;
  return takeText(value);
}

void setPageTitle(const char* title) {
  pulse165_writePageTitle(title);
}
void setPagePrompt(const char* text) {
  pulse165_writePagePrompt(text);
}
void setPageReport(const char* text) {
  pulse165_writePageReport(text);
}
std::string webglRenderer() {
  return takeText(pulse165_readWebglRenderer());
}
double pageMilliseconds() {
  return emscripten_get_now();
}

std::uint64_t monotonicNanoseconds() {
  return static_cast<std::uint64_t>(emscripten_get_now() * 1.0e6);
}
