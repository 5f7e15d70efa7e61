// The signal scope: a zigzag waveform trace and a spectrum trace that runs from
// green at silence to red at full level, side by side in the right-hand column.
#include "show/scope.h"

#include <GL/gl.h>

#include <cstddef>

#include "audio/playback.h"
#include "audio/spectrum.h"

namespace {

constexpr float columnX = 0.925f;  // the waveform's rest line in device x
constexpr float columnWidth = 0.05f;
constexpr float columnHeight = 0.9f;
constexpr float waveRed = 0.5f;
constexpr float waveGreen = 0.5f;
constexpr float waveBlue = 0.0f;
constexpr int waveVertices = 512;  // 256 frames, left and right alternately
constexpr int waveCentre = 256;
constexpr float waveStep = 0.0038461538f;  // 1 / 260
constexpr int firstBin = 1;
constexpr int lastBin = 255;
constexpr int binCentre = 128;
constexpr float binStep = 0.0076923077f;  // 1 / 130
constexpr float spectrumGain = 80.0f;     // an entry of 1/80 reaches full level
constexpr float spectrumGreen = 0.5f;
constexpr float spectrumOffset = 0.5f;

}  // namespace

void drawSignalScope() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Local x runs up the screen, local y to the left: (x, y) -> (0.925 - 0.05 y, 0.9 x).
  glTranslatef(columnX, 0.0f, 0.0f);
  glScalef(columnWidth, columnHeight, 1.0f);
  glRotatef(90.0f, 0.0f, 0.0f, 1.0f);

  glColor3f(waveRed, waveGreen, waveBlue);
  glBegin(GL_LINE_STRIP);
  const float* samples = playing.at(playbackPosition);
  for (int i = 0; i < waveVertices; ++i) {
    glVertex2f(static_cast<float>(i - waveCentre) * waveStep, samples[i]);
  }
  glEnd();

  glBegin(GL_LINE_STRIP);
  for (int j = firstBin; j <= lastBin; ++j) {
    float v = spectrum[j] * spectrumGain;
    if (v > 1.0f) v = 1.0f;
    glColor3f(v, spectrumGreen - v, 0.0f);
    glVertex2f(static_cast<float>(j - binCentre) * binStep, v - spectrumOffset);
  }
  glEnd();
}
