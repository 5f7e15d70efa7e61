// The sixteen bands and the moving camera of DiskSwarm and PillarGrid.
#include "effects/swirl_camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "platform/viewport.h"

namespace {

constexpr int firstBandEntry = 50;
constexpr int bandEntries = 15;
constexpr float smoothingNew = 0.3f;
constexpr float smoothingOld = 0.7f;

constexpr double fieldOfView = 130.0;  // degrees, vertical
constexpr double nearPlane = 1.0;
constexpr double farPlane = 1000.0;
constexpr float slowRate = 0.1f;  // u = 0.1 t drives the roll and the breathing radius
constexpr float rollDegrees = -270.0f;
constexpr float meanRadius = 70.0f;
constexpr float radiusSwing = 30.0f;
constexpr float radiusBreath = 10.0f;
constexpr float eyeHeight = 50.0f;
constexpr float bobRate = 0.93f;

}  // namespace

void smoothSwirlBands(float* bands) {
  for (int k = 0; k < swirlBandCount; ++k) {
    bands[k] = smoothingNew * static_cast<float>(bandLevel(firstBandEntry + bandEntries * k, bandEntries)) +
               smoothingOld * bands[k];
  }
}

void placeSwirlCamera() {
  const float t = static_cast<float>(playbackPosition) * secondsPerSample;
  const float u = slowRate * t;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(fieldOfView, viewportAspect, nearPlane, farPlane);
  glRotatef(rollDegrees * std::cos(u), 0.0f, 0.0f, 1.0f);
  const float sinU = std::sin(u);
  const float r = meanRadius - radiusSwing * std::cos(t) + radiusBreath * sinU * sinU;
  gluLookAt(r * std::sin(t / 2.0f), eyeHeight * std::sin(bobRate * t), r * std::cos(t / 2.0f), 0.0, 0.0, 0.0, 0.0, 1.0,
            0.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}
