// OrbitRing: the shell of swinging triangles.
#include "effects/orbit_ring.h"

#include <cmath>

#include "audio/spectrum.h"
#include "effects/random_layout.h"
#include "platform/render_queue.h"

namespace {

constexpr int orbitItems = 100;
constexpr float orbitTriangleSize = 0.2f;
constexpr float orbitBaseAlpha = 0.0625f;
constexpr float baseRed = 0.125f;
constexpr float baseGreen = 0.5f;
constexpr float baseBlue = 0.25f;
constexpr float innerRadius = 0.5f;  // the shell runs from 0.5 to 1
constexpr int bandWidth = 5;         // triangle i follows entries 100 - i .. 104 - i
constexpr float smoothingNew = 0.1f;
constexpr float smoothingOld = 0.9f;
constexpr float levelScale = 500.0f;
constexpr float redPerLevel = 0.25f;
constexpr float swingPerLevel = 5.0f;  // radians per unit of m, never wrapped
constexpr int copies = 10;
constexpr float copyTurn = 36.0f;

float randomTimes(float scale) {
  return static_cast<float>(static_cast<double>(randomInteger()) * static_cast<double>(scale));
}

}  // namespace

OrbitRing::OrbitRing()
    : vertexArray(new ColorVertexArray),
      itemCount(orbitItems),
      levels(new float[orbitItems]()),
      triangleSize(orbitTriangleSize),
      baseAlpha(orbitBaseAlpha) {
  vertexArray->resize(3 * itemCount);
  const float s = triangleSize;
  for (int i = 0; i < itemCount; ++i) {
    const float r = static_cast<float>(static_cast<double>(randomInteger()) * static_cast<double>(randomToHalfUnit) +
                                       static_cast<double>(innerRadius));
    const float t = randomTimes(randomToTurn);  // latitude
    const float u = randomTimes(randomToTurn);  // longitude about Y
    for (int corner = 0; corner < 3; ++corner) {
      vertexArray->setColor(3 * i + corner, baseRed, baseGreen, baseBlue, baseAlpha);
    }
    const float ax = r * std::cos(t) * std::cos(u);
    const float ay = r * std::sin(t);
    const float az = r * std::cos(t) * std::sin(u);
    vertexArray->setVertex(3 * i, ax, ay, az);
    const float v = randomTimes(randomToUnit);  // a tilt of 0 to 1 radian
    vertexArray->setVertex(3 * i + 1, ax + s * std::sin(v), ay + s * std::cos(v), az);
    vertexArray->setVertex(3 * i + 2, ax + s * std::cos(v), ay, az + s * std::sin(v));
  }
}

OrbitRing::~OrbitRing() {
  vertexArray->release();
  delete vertexArray;
  delete[] levels;
}

void OrbitRing::update() {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  const float s = triangleSize;
  for (int i = 0; i < itemCount; ++i) {
    levels[i] = static_cast<float>(bandLevel(itemCount - i, bandWidth)) * smoothingNew + levels[i] * smoothingOld;
    const float m = levels[i] * levelScale;
    vertexArray->setColor(3 * i + 2, baseRed + redPerLevel * m, baseGreen, baseBlue, (m + 1.0f) * baseAlpha);
    const float w = swingPerLevel * m;
    const float* anchor = vertexArray->vertex(3 * i);
    const float ax = anchor[0];
    const float ay = anchor[1];
    const float az = anchor[2];
    vertexArray->setVertex(3 * i + 1, ax + s * std::sin(w), ay + s * std::cos(w), az);
    vertexArray->setVertex(3 * i + 2, ax + s * std::cos(w), ay, az + s * std::sin(w));
  }
}

void OrbitRing::draw() {
  glEnable(GL_BLEND);
  for (int copy = 0; copy < copies; ++copy) {
    glRotatef(copyTurn, 0.0f, 1.0f, 0.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    vertexArray->draw(GL_TRIANGLES);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    vertexArray->draw(GL_TRIANGLES);
    renderCheckpoint();
  }
  glDisable(GL_BLEND);
}
