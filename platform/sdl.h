// What the SDL back end lets its tests and benchmarks reach: the window itself, to post
// events to it and to swap it by hand.
#pragma once

struct LiveWindow;
struct SDL_Window;

// Null while the window is not open.
SDL_Window* sdlWindow(const LiveWindow& window);
