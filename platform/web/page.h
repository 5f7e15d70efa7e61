// The browser platform, in this folder: platform/web/canvas.cpp and audio.cpp implement
// the live window and audio of platform/live.h on the page's canvas, WebGL 2 (through
// the GL subset in gl/) and Web Audio; page.cpp adds what only the page has: its
// address's query, its title and prompt. The glyphs come from the build's tapes.
//
// LiveWindow: the canvas "#canvas" with a WebGL 2 context and the offscreen picture
// that the show draws into; present() copies the picture onto the canvas, which then
// takes the overlay until swap(). fullScreen fills the page (drawing buffer = page size
// x device pixel ratio, followed when the page changes size); otherwise the drawing
// buffer and the canvas are requestWidth x requestHeight. The keys come from the one
// table of platform/keys.h; toggleFullScreen() uses the page's full-screen API.
// LiveAudio: an AudioContext at the show's 44,100 Hz playing the frames through a gain (mute);
// position() is the number of frames played, read from the AudioContext's clock. A
// seek starts a new buffer source at the frame and moves the clock's start with it;
// pause() and resume() suspend and resume the context. open() must run inside a user
// gesture (a click) for the browser to let the sound start.
#pragma once

#include <string>

struct LiveWindow;

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

// A video leaving the page: the canvas's drawing buffer and the show's picture at
// W x H (black), the canvas shown scaled into the page meanwhile, so that each frame
// presented on it is the video's frame. False with the reason where WebGL cannot draw
// that large; the window is then as it was.
bool holdCanvasAt(LiveWindow& window, int width, int height, std::string& why);
// The canvas filling the page again, with a black picture of its size.
void fillPageAgain(LiveWindow& window);
