// The letterboxed 2:1 viewport that every frame draws into: its values, which the
// frame lines, the cameras and two effects read, and the one function that sets them.
#pragma once

#include <cstdint>

extern int viewportWidth;
extern int viewportHeight;
extern int viewportY;
extern float viewportAspect;

struct ViewportLayout {
  int width;
  int height;
  int y;
  float aspect;
};

// The letterbox for a client area of W x H: full width, W / 2 high, centred
// vertically; 32-bit integer arithmetic with truncating divisions, no clamping.
ViewportLayout letterboxViewport(std::int32_t clientWidth, std::int32_t clientHeight);

// Where a picture of the old client size goes in one of the new size when the window
// changes: scaled to the new width and placed so that its letterbox covers the new
// one, rows `bottom` up to `top` (counted from the bottom, `top` excluded).
struct CarriedRows {
  int bottom;
  int top;
};
CarriedRows carriedLetterbox(int fromWidth, int fromHeight, int toWidth, int toHeight);

// Sets the viewport values and the GL viewport for a client area of W x H; the only
// place that does. Needs a current GL context.
void setShowViewport(std::int32_t clientWidth, std::int32_t clientHeight);
