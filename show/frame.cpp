// One frame of the show, layer by layer.
#include "show/frame.h"

#include <GL/gl.h>

#include "audio/spectrum.h"
#include "platform/viewport.h"
#include "show/schedule.h"
#include "show/scope.h"
#include "show/show_clock.h"

namespace {
constexpr float trailKeep = 0.7f;          // the earlier image keeps 70 % per frame
constexpr float markerStep = 0.02765625f;  // 1.77 / 64: one notch per beat
constexpr float markerLeft = 0.9f, markerRight = 0.95f;
constexpr float markerTop = 0.9f, markerBottom = 0.87f;
constexpr float markerAlpha = 0.25f;

void drawBeatMarker(const BeatClock& clock, int baseBeat) {
  const float p = clock.beatPhase;
  if (clock.beat % 16 == 0) {
    glColor4f(p, 0.5f * p, 0.5f * p, markerAlpha);  // reddish, every 16th beat
  } else if (clock.beat % 4 == 0) {
    glColor4f(0.5f * p, 0.5f * p, p, markerAlpha);  // bluish, every 4th beat
  } else {
    glColor4f(0.7f * p, 0.7f * p, 0.7f * p, markerAlpha);
  }
  // Counted from the scene's first beat, also before it (a track's opening may start
  // a few beats early): 0 to 63 notches down.
  const int notch = ((clock.beat - baseBeat) % 64 + 64) % 64;
  const float h = static_cast<float>(notch) * markerStep;
  glBegin(GL_QUADS);
  glVertex2f(markerLeft, markerTop - h);
  glVertex2f(markerRight, markerTop - h);
  glVertex2f(markerRight, markerBottom - h);
  glVertex2f(markerLeft, markerBottom - h);
  glEnd();
  glDisable(GL_BLEND);
}

// White along most of the top edge fading out to the right, and a bottom edge
// that fades in from the left: the frame of the 2:1 picture.
void drawFrameLines() {
  const float w = static_cast<float>(viewportWidth);
  const float h = static_cast<float>(viewportHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, w, h, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glBegin(GL_LINES);
  glColor3f(1, 1, 1);
  glVertex2f(0, 0);
  glVertex2f(0.6f * w, 0);
  glVertex2f(0.6f * w, 0);
  glColor3f(0, 0, 0);
  glVertex2f(w, 0);
  glVertex2f(0, h - 1);
  glColor3f(1, 1, 1);
  glVertex2f(0.4f * w, h - 1);
  glVertex2f(0.4f * w, h - 1);
  glVertex2f(w, h - 1);
  glEnd();
}

}  // namespace

ShowFrame::ShowFrame() {
  blueStar.setColor(0.125f, 0.25f, 0.5f);
  amberStar.setColor(0.25f, 0.125f, 0.0625f);
}

void beginShowFrame(std::uint32_t position) {
  playbackPosition = position;
  analyseSpectrum(playing.at(position));

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  // The colour buffer is never cleared: the earlier image keeps 70 % of its light.
  glBlendFunc(GL_ONE, GL_SRC_ALPHA);
  glEnable(GL_BLEND);
  glColor4f(0, 0, 0, trailKeep);
  glRectf(-1, -1, 1, 1);
  glDisable(GL_BLEND);

  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
}

void ShowFrame::advance(std::uint32_t position) {
  playbackPosition = position;
  analyseSpectrum(playing.at(position));
  updateScene(*this, showClock.at(position));
}

void ShowFrame::draw(std::uint32_t position) {
  beginShowFrame(position);
  const BeatClock clock = showClock.at(position);
  glEnable(GL_BLEND);
  drawBeatMarker(clock, baseBeat);

  drawSignalScope();
  dispatchScene(*this, clock);
  drawFrameLines();
}
