// What the live window and its offscreen picture do the same on every back end
// (platform/sdl_window.cpp and framebuffer.cpp on the desktop, platform/web on the page):
// taking a new size, and following it with the trail carried.
#include <string>

#include "platform/framebuffer.h"
#include "platform/live.h"
#include "platform/viewport.h"

bool LiveWindow::takeClientSize(int width, int height) {
  if (width <= 0 || height <= 0 || (width == clientWidth && height == clientHeight)) return false;
  clientWidth = width;
  clientHeight = height;
  return true;
}

bool OffscreenPicture::resizeCarrying(int newWidth, int newHeight, std::string& why) {
  OffscreenPicture carried;
  if (!carried.create(newWidth, newHeight, why)) {
    bind();
    return false;
  }
  const CarriedRows rows = carriedLetterbox(width, height, newWidth, newHeight);
  copyTo(carried.framebuffer, 0, rows.bottom, newWidth, rows.top - rows.bottom);
  destroy();
  *this = carried;
  bind();
  return true;
}
