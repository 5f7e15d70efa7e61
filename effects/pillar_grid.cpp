// PillarGrid: the lattice of square pillars.
#include "effects/pillar_grid.h"

#include <GL/gl.h>

#include "effects/quadric_shapes.h"
#include "platform/render_queue.h"

namespace {

constexpr int tintBand = 3;
constexpr int heightBand = 10;
constexpr float tintThreshold = 0.002f;
constexpr float tintBrightness = 100.0f;
constexpr float tintStrong = 0.5f;
constexpr float tintMiddle = 0.25f;
constexpr float tintWeak = 0.125f;
constexpr int gridReach = 10;  // pillars from -10 to 10 along X and Z
constexpr int floors = 5;
constexpr float gridSpacing = 40.0f;
constexpr float floorSpacing = 50.0f;
constexpr float lowestFloor = -100.0f;
constexpr float heightPerBand = 50.0f;
constexpr float baseHeight = 20.0f;
constexpr float pillarRadius = 10.0f;  // the tube's four corners, as four GLU slices make it

}  // namespace

PillarTint pillarTint(float colourBand) {
  const float d = tintBrightness * colourBand;
  if (colourBand > tintThreshold) return {tintStrong * d, tintMiddle * d, tintWeak * d};
  return {tintWeak * d, tintMiddle * d, tintStrong * d};
}

PillarGrid::PillarGrid() : quadric(gluNewQuadric()), bands{}, level(1.0f) {}

PillarGrid::~PillarGrid() {
  gluDeleteQuadric(quadric);
}

void PillarGrid::update(float newLevel) {
  smoothSwirlBands(bands);
  level = newLevel;
}

void PillarGrid::draw() {
  glEnable(GL_BLEND);
  placeSwirlCamera();
  const PillarTint tint = pillarTint(bands[tintBand]);
  const float h = heightPerBand * bands[heightBand] + baseHeight;
  // Every pillar is the same tube in its own placement: the vertices that
  // gluCylinder(radius 10, 10, h, 4 slices, 1 stack) would emit, filled then outlined.
  QuadricTube tube;
  tube.shape(pillarRadius, h);
  glEnableClientState(GL_VERTEX_ARRAY);
  tube.bind();
  for (int i = -gridReach; i <= gridReach; ++i) {
    glColor4f(tint.red, tint.green, tint.blue, level);
    for (int j = -gridReach; j <= gridReach; ++j) {
      for (int k = 0; k < floors; ++k) {
        glLoadIdentity();
        glTranslatef(gridSpacing * static_cast<float>(i), floorSpacing * static_cast<float>(k) + lowestFloor,
                     gridSpacing * static_cast<float>(j));
        glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
        tube.drawFace();
        tube.drawOutline();
      }
    }
    renderCheckpoint();
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_BLEND);
}
