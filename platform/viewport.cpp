// The letterboxed 2:1 viewport.
#include "platform/viewport.h"

#include <GL/gl.h>

#include <cmath>

int viewportWidth = 0;
int viewportHeight = 0;
int viewportY = 0;
float viewportAspect = 0.0f;

ViewportLayout letterboxViewport(std::int32_t clientWidth, std::int32_t clientHeight) {
  ViewportLayout layout;
  layout.width = clientWidth;
  layout.height = clientWidth / 2;
  layout.y = clientHeight / 2 - clientWidth / 4;  // negative on screens wider than 2:1
  layout.aspect = static_cast<float>(static_cast<double>(clientWidth) / static_cast<double>(layout.height));
  return layout;
}

CarriedRows carriedLetterbox(int fromWidth, int fromHeight, int toWidth, int toHeight) {
  const ViewportLayout from = letterboxViewport(fromWidth, fromHeight);
  const ViewportLayout to = letterboxViewport(toWidth, toHeight);
  const double scale = static_cast<double>(toWidth) / fromWidth;
  return {static_cast<int>(std::lround(to.y - from.y * scale)),
          static_cast<int>(std::lround(to.y + (fromHeight - from.y) * scale))};
}

void setShowViewport(std::int32_t clientWidth, std::int32_t clientHeight) {
  const ViewportLayout layout = letterboxViewport(clientWidth, clientHeight);
  viewportWidth = layout.width;
  viewportHeight = layout.height;
  viewportY = layout.y;
  viewportAspect = layout.aspect;
  glViewport(0, viewportY, viewportWidth, viewportHeight);
}
