// DiskSwarm: the disk rings and their ribbons.
#include "effects/disk_swarm.h"

#include <GL/gl.h>

#include <cmath>

#include "audio/playback.h"
#include "effects/quadric_shapes.h"
#include "platform/render_queue.h"

float swirlAngle = 0.0f;

namespace {

constexpr int rings = 16;
constexpr int columnsPerRing = 8;
constexpr int disksPerColumn = 5;
constexpr float columnTurn = 0.125f;    // of 360 degrees between columns
constexpr float spinPerSecond = 70.0f;  // degrees
constexpr float heightPerBand = 2000.0f;
constexpr float heightLimit = 50.0f;
constexpr float colourPerHeight = 0.2f;
constexpr float diskRed = 0.6f;
constexpr float diskGreen = 0.2f;
constexpr float diskBlue = 0.1f;
constexpr float ringSpacing = 5.0f;
constexpr float shrinkStep = 0.06666667f;  // 1 / 15: ring 15 shrinks to nothing
constexpr float diskRadius = 5.0f;         // an octagon, as eight GLU slices make it

constexpr int ribbons = diskRibbons;
constexpr int ribbonPairs = diskRibbonPairs;
constexpr int ribbonBand = 3;
constexpr float ribbonBrightness = 50.0f;
constexpr float ribbonRed = 0.125f;
constexpr float ribbonGreen = 0.25f;
constexpr float ribbonBlue = 0.5f;
constexpr float swirlPerPair = 0.1f;
constexpr float pairStep = 0.03f;
constexpr float ribbonSpacing = 0.7853982f;  // pi / 4
constexpr float wobbleRadius = 10.0f;
constexpr float loopRadius = 80.0f;
constexpr float innerCurl = 20.0f;  // the ribbon spans the small circle from 20 to 22
constexpr float outerCurl = 22.0f;

}  // namespace

DiskSwarm::DiskSwarm() : quadric(gluNewQuadric()), bands{}, level(1.0f), ribbonSwirl{} {}

DiskSwarm::~DiskSwarm() {
  gluDeleteQuadric(quadric);
}

void DiskSwarm::update(float newLevel) {
  smoothSwirlBands(bands);
  level = newLevel;
  // The swirl turns a little at every pair of every ribbon, in the order they are drawn.
  for (int s = 0; s < ribbons; ++s) {
    for (int j = 0; j < ribbonPairs; ++j) {
      swirlAngle = swirlAngle + swirlPerPair * bands[ribbonBand];
      ribbonSwirl[s][j] = swirlAngle;
    }
  }
}

void DiskSwarm::draw() {
  glEnable(GL_BLEND);
  const float t = static_cast<float>(playbackPosition) * secondsPerSample;
  placeSwirlCamera();

  // Every disk is the same octagon in its own placement: the vertices that
  // gluDisk(inner 0, outer 5, 8 slices, 1 loop) would emit, filled then outlined.
  QuadricDisk disk;
  disk.shape(diskRadius);
  glEnableClientState(GL_VERTEX_ARRAY);
  disk.bind();

  for (int k = 0; k < rings; ++k) {
    const int b = 5 + k;
    const int c = 10 + 2 * k;
    const int n = 15 - k;
    for (int m = 0; m < columnsPerRing; ++m) {
      glLoadIdentity();
      glRotatef(static_cast<float>(m * 360) * columnTurn - static_cast<float>(c) + spinPerSecond * t, 0.0f, 1.0f, 0.0f);
      float e = heightPerBand * bands[k];
      if (e > heightLimit) e = heightLimit;
      if (e < -heightLimit) e = -heightLimit;
      const float f = colourPerHeight * e * level;
      glColor3f(diskRed * f, diskGreen * f, diskBlue * f);
      for (int i = 1; i <= disksPerColumn; ++i) {
        const float g = (static_cast<float>(n) * shrinkStep) / static_cast<float>(i);
        // The outer ring is scaled to a point: nothing of it reaches the picture.
        if (g == 0.0f) continue;
        glPushMatrix();
        glTranslatef(ringSpacing * static_cast<float>(b), static_cast<float>(i) * e, 0.0f);
        glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
        glScalef(g, g, g);
        disk.drawFace();
        disk.drawOutline();
        glPopMatrix();
      }
    }
    renderCheckpoint();
  }
  glDisableClientState(GL_VERTEX_ARRAY);

  // The ribbons ride in the last column's turn about Y.
  for (int s = 0; s < ribbons; ++s) {
    glBegin(GL_QUAD_STRIP);
    const float base = static_cast<float>(s) * ribbonSpacing;
    for (int j = 0; j < ribbonPairs; ++j) {
      const float d = ribbonBrightness * static_cast<float>(j) * bands[ribbonBand] * level;
      glColor3f(ribbonRed * d, ribbonGreen * d, ribbonBlue * d);
      const float phi = ribbonSwirl[s][j] + pairStep * static_cast<float>(j) + base;
      const float wobbleX = wobbleRadius * std::cos(phi / 4.0f);
      const float wobbleZ = wobbleRadius * std::sin(phi / 4.0f);
      const float loopX = loopRadius * std::sin(phi);
      const float loopZ = loopRadius * std::cos(phi);
      const float curlX = std::sin(8.0f * phi);
      const float curlZ = std::cos(8.0f * phi);
      glVertex3f(wobbleX + loopX + innerCurl * curlX, std::sin(4.0f * phi), wobbleZ + loopZ + innerCurl * curlZ);
      glVertex3f(wobbleX + loopX + outerCurl * curlX, std::cos(4.0f * phi), wobbleZ + loopZ + outerCurl * curlZ);
    }
    glEnd();
  }
  glDisable(GL_BLEND);
}
