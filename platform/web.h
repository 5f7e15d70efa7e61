// The browser platform: platform/web.cpp implements the live window and audio of
// platform/live.h on the page's canvas, WebGL 2 and Web Audio, and adds what only the
// page has: its address's query, its title and prompt, and full screen.
//
// LiveWindow: the canvas "#canvas" with a WebGL 2 context and an offscreen framebuffer
// that the show draws into; swap() presents it to the canvas, so the trail fade always
// finds the previous frame. fullScreen fills the page (drawing buffer = page size x device
// pixel ratio); otherwise the drawing buffer and the canvas are requestWidth x
// requestHeight. takeEndRequest() reports Escape.
// LiveAudio: an AudioContext at 44,100 Hz playing the frames once; position() is the
// number of frames played since start(), read from the AudioContext's clock. open()
// must run inside a user gesture (a click) for the browser to let the sound start.
#pragma once

#include <string>

// The show's keys, by the browser's key name (KeyboardEvent.key). The one place that
// maps keys to what they do.
enum class KeyAction { none, end, fullScreen };
KeyAction keyAction(const char* key);

// The value of `name` in the page's query (?at=83.5&size=800x400); `present` is false
// when the query lacks it. "?benchmark" is present with an empty value.
std::string pageQuery(const char* name, bool& present);
void setPageTitle(const char* title);
// The line over the canvas ("click to play"); an empty text hides it.
void setPagePrompt(const char* text);
// Writes `text` into the page's report block, for scripts that read the page.
void setPageReport(const char* text);
// The WebGL renderer as the browser names it ("SwiftShader ...", "ANGLE (...)").
std::string webglRenderer();
// Milliseconds on the page's monotonic clock.
double pageMilliseconds();
