// What the offscreen picture does the same on every back end (platform/framebuffer.cpp
// on the desktop's GL, the page's on WebGL): following a resize with the trail carried.
#include <string>

#include "platform/framebuffer.h"
#include "platform/viewport.h"

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
