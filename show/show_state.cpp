// Resetting the show's process-wide state.
#include "show/show_state.h"

#include <algorithm>

void resetShowState() {
  clearPlaybackBuffer();
  playMusic(embeddedMusic());
  viewportWidth = viewportHeight = viewportY = 0;
  viewportAspect = 0.0f;
  rewindShow();
}

void rewindShow() {
  playbackPosition = 0;
  std::fill(std::begin(spectrum), std::end(spectrum), 0.0f);
  resetRandom();
  swirlAngle = 0.0f;
}
