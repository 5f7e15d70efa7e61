// The square tube and the octagon, as a GLU quadric draws them.
#include "effects/quadric_shapes.h"

#include <GL/gl.h>

#include <cmath>
#include <initializer_list>

namespace {

constexpr double fullTurn = 6.283185307179586;  // 2 pi

// GLU's corner directions: the angle of slice i rounded to a float, its sine and
// cosine each rounded to a float; the last slice closes on the first.
void sliceDirection(int i, int slices, float& s, float& c) {
  const int wrapped = i == slices ? 0 : i;
  const float angle = static_cast<float>(fullTurn * wrapped / slices);
  s = static_cast<float>(std::sin(static_cast<double>(angle)));
  c = static_cast<float>(std::cos(static_cast<double>(angle)));
}

float* put(float* at, float x, float y, float z) {
  at[0] = x;
  at[1] = y;
  at[2] = z;
  return at + 3;
}

}  // namespace

void QuadricTube::shape(float radius, float height) {
  float corner[tubeSlices + 1][2];
  for (int i = 0; i <= tubeSlices; ++i) {
    float s, c;
    sliceDirection(i, tubeSlices, s, c);
    corner[i][0] = radius * s;
    corner[i][1] = radius * c;
  }
  float* at = positions;
  // The side: bottom and top of each slice edge in turn.
  for (int i = 0; i <= tubeSlices; ++i) {
    at = put(at, corner[i][0], corner[i][1], 0.0f);
    at = put(at, corner[i][0], corner[i][1], height);
  }
  // The outline: the bottom ring, the top ring, then each slice edge upwards.
  for (const float z : {0.0f, height}) {
    for (int i = 0; i < tubeSlices; ++i) {
      at = put(at, corner[i][0], corner[i][1], z);
      at = put(at, corner[i + 1][0], corner[i + 1][1], z);
    }
  }
  for (int i = 0; i < tubeSlices; ++i) {
    at = put(at, corner[i][0], corner[i][1], 0.0f);
    at = put(at, corner[i][0], corner[i][1], height);
  }
}

void QuadricTube::bind() const {
  glVertexPointer(3, GL_FLOAT, 0, positions);
}

void QuadricTube::drawFace() const {
  glDrawArrays(GL_QUAD_STRIP, 0, faceVertices);
}

void QuadricTube::drawOutline() const {
  glDrawArrays(GL_LINES, faceVertices, outlineVertices);
}

void QuadricDisk::shape(float radius) {
  float rim[diskSlices + 1][2];
  for (int i = 0; i <= diskSlices; ++i) {
    float s, c;
    sliceDirection(i, diskSlices, s, c);
    rim[i][0] = radius * s;
    rim[i][1] = radius * c;
  }
  float* at = positions;
  // The fan: the centre, then the rim clockwise seen from +z, from slice 8 (= 0) down to 0.
  at = put(at, 0.0f, 0.0f, 0.0f);
  for (int i = diskSlices; i >= 0; --i) at = put(at, rim[i][0], rim[i][1], 0.0f);
  // The rim, counter-clockwise from slice 0.
  for (int i = 0; i < diskSlices; ++i) {
    at = put(at, rim[i][0], rim[i][1], 0.0f);
    at = put(at, rim[i + 1][0], rim[i + 1][1], 0.0f);
  }
}

void QuadricDisk::bind() const {
  glVertexPointer(3, GL_FLOAT, 0, positions);
}

void QuadricDisk::drawFace() const {
  glDrawArrays(GL_TRIANGLE_FAN, 0, faceVertices);
}

void QuadricDisk::drawOutline() const {
  glDrawArrays(GL_LINES, faceVertices, outlineVertices);
}
