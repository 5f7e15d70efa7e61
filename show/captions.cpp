// Captions: flat on the screen in normalised device coordinates, each placed by
// its own translation, scale and turn, brightening with the beat.
#include "show/captions.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>

#include "show/scenes.h"

namespace {
constexpr float openingRate = 0.098171875f;  // 3.1415 / 32: one swell every 32 beats
constexpr float greetingRate = 0.13089584f;  // about 3.1415 / 24: a half sine of 24 beats
constexpr int claimEndBeat = 256;
constexpr int markStartBeat = 224;
constexpr int signOffBeat = 32;
constexpr float rollStartBeat = static_cast<float>(firstBeatOfScene(5));  // with the greetings
constexpr float firstGroupCloses = 36.0f;  // the first four names are gone by then
constexpr float secondGroupOpens = 28.0f;  // the last four do not show before
}  // namespace

const char* const greetingTexts[greetingCount] = {
    "velvet pixelry", "orbix", "tidal crypt", "kvax", "hexamonks", "zqr", "the quiet grid", "lumen dept",
};

void drawText(const char* text) {
  glCallLists(static_cast<GLsizei>(std::strlen(text)), GL_UNSIGNED_BYTE, text);
}

const char* openingLine(int beat) {
  return beat < signOffBeat ? "celebrate the scene" : "[f]elbrin tevola 2008";
}

void drawOpeningCaption(const BeatClock& clock) {
  glDisable(GL_BLEND);
  const float g = std::fabs(0.25f * std::sin(openingRate * clock.beatTime));
  glColor3f(g, g, g);
  glLoadIdentity();
  glTranslatef(-0.8f, -0.9f, 0);
  glScalef(0.17f, 0.12f, 1);
  drawText(openingLine(clock.beat));
}

void drawTitleCaption(const char* title, float beatPhase) {
  glEnable(GL_BLEND);
  glColor4f(1, 1, 1, 0.05f * beatPhase);
  glLoadIdentity();
  glTranslatef(-0.9f, -0.9f, 0);
  glScalef(0.12f, 0.34f, 1);
  glRotatef(90, 0, 0, 1);  // the title runs up the left edge
  drawText(title);
  glDisable(GL_BLEND);
}

void drawClaimCaption(const BeatClock& clock) {
  const float p = clock.beatPhase;
  glEnable(GL_BLEND);
  const float a = 0.1f * p;
  glColor4f(1, 1, 1, a);
  glLoadIdentity();
  glTranslatef(-0.6f, -0.9f, 0);
  glScalef(0.17f, 0.12f, 1);
  if (clock.beat < claimEndBeat) {
    drawText("realtime generation");
    if (clock.beat >= markStartBeat) {
      // A tall mark at the left edge that swells by a ninth on every beat.
      glLoadIdentity();
      glTranslatef(-0.97f, -0.9f, 0);
      glScalef(0.9f + a, 2.7f + 0.3f * p, 1);
      drawText("!");
    }
  }
  glDisable(GL_BLEND);
}

float greetingBrightness(int i, float s) {
  float x;
  if (i < 4) {
    if (s >= firstGroupCloses) return 0;
    x = s - 4.0f * static_cast<float>(i);
  } else {
    if (s < secondGroupOpens) return 0;
    x = s - 4.0f * static_cast<float>(i) - 12.0f;
  }
  const float v = 0.5f * std::sin(greetingRate * x);
  return v > 0 ? v : 0;
}

void drawGreetingsRoll(float beatTime) {
  const float s = beatTime - rollStartBeat;
  for (int i = 0; i < greetingCount; ++i) {
    const float v = greetingBrightness(i, s);
    if (!(v > 0)) continue;
    glColor3f(v, v, v);
    glLoadIdentity();
    glTranslatef(-0.3f, 0.05f - 0.25f * static_cast<float>(i % 4), 0);
    glScalef(0.15f, 0.11f, 1);
    drawText(greetingTexts[i]);
  }
}
