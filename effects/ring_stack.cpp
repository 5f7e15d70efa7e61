// RingStack: the scrolling column of triangle clouds.
#include "effects/ring_stack.h"

#include <cmath>
#include <initializer_list>

#include "audio/spectrum.h"
#include "effects/random_layout.h"
#include "platform/render_queue.h"

namespace {

constexpr int stackItems = 100;
constexpr float stackTriangleSize = 10.0f;
constexpr float stackBaseAlpha = 0.0625f;
constexpr float baseRed = 0.25f;
constexpr float baseGreen = 0.25f;
constexpr float baseBlue = 0.125f;
constexpr float bandRadius = 150.0f;  // the anchors lie on a cylinder of this radius
constexpr float bandHalfHeight = 100.0f;
constexpr int bandWidth = 5;  // item i follows entries 100 - i .. 104 - i
constexpr float smoothingNew = 0.1f;
constexpr float smoothingOld = 0.9f;
constexpr float stretchPerLevel = 250.0f;
constexpr float phaseWrap = 2.0f;  // beats per layer of scrolling
constexpr float scrollPerBeat = 100.0f;
constexpr float columnDrop = 2000.0f;
constexpr float layerSpacing = 200.0f;
constexpr int layers = 20;
constexpr int copies = 10;
constexpr float copyTurn = 36.0f;

float randomTimes(float scale) {
  return static_cast<float>(static_cast<double>(randomInteger()) * static_cast<double>(scale));
}

// The shape of construction and of every update: c is the random tilt at first,
// then the level-driven angle.
void shapeItem(ColorVertexArray& array, int i, float c, float s) {
  const float* anchor = array.vertex(3 * i);
  const float x = anchor[0];
  const float y = anchor[1];
  const float z = anchor[2];
  array.setVertex(3 * i + 1, x + s * std::sin(c), y + s * c, z + s * std::cos(c));
  array.setVertex(3 * i + 2, x + s * std::cos(c), y + 2.0f * s * c, z + s * std::sin(c));
}

}  // namespace

RingStack::RingStack()
    : vertexArray(new ColorVertexArray),
      itemCount(stackItems),
      levels(new float[stackItems]()),
      triangleSize(stackTriangleSize),
      baseAlpha(stackBaseAlpha) {
  vertexArray->resize(3 * itemCount);
  for (int i = 0; i < itemCount; ++i) {
    const float a = randomTimes(randomToTurn);
    const float x = bandRadius * std::cos(a);
    const float z = bandRadius * std::sin(a);
    const float b = randomTimes(randomToTurn);
    const float y = bandHalfHeight * std::sin(b);
    for (int corner = 0; corner < 3; ++corner) {
      vertexArray->setColor(3 * i + corner, baseRed, baseGreen, baseBlue, baseAlpha);
    }
    vertexArray->setVertex(3 * i, x, y, z);
    const float c = static_cast<float>(randomUnit());
    shapeItem(*vertexArray, i, c, triangleSize);
  }
}

RingStack::~RingStack() {
  vertexArray->release();
  delete vertexArray;
  delete[] levels;
}

void RingStack::update(float level) {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  for (int i = 0; i < itemCount; ++i) {
    levels[i] = smoothingNew * static_cast<float>(bandLevel(itemCount - i, bandWidth)) + smoothingOld * levels[i];
    const float h = stretchPerLevel * levels[i];
    const float l = h + 1.0f;
    vertexArray->setColor(3 * i + 2, baseRed * l, baseGreen * l, baseBlue * l, baseAlpha * l);
    shapeItem(*vertexArray, i, 2.0f * h, triangleSize);
  }
  for (int i = 0; i < itemCount; ++i) {
    for (int corner = 0; corner < 3; ++corner) {
      vertexArray->color(3 * i + corner)[3] *= level;
    }
  }
}

void RingStack::draw(float phase) {
  while (phase > phaseWrap) phase -= phaseWrap;
  glEnable(GL_BLEND);
  glPushMatrix();
  glTranslatef(0.0f, -scrollPerBeat * phase - columnDrop, 0.0f);
  // Every copy is outlined and filled in the same placement. The additive blend
  // makes the order of the 8,000 draws immaterial, so all outlines go first and all
  // fills after them, each pass walking the same turns from the same matrix: one
  // polygon mode change per pass instead of one per draw.
  for (const GLenum mode : {GL_LINE, GL_FILL}) {
    glPolygonMode(GL_FRONT_AND_BACK, mode);
    glPushMatrix();
    for (int layer = 0; layer < layers; ++layer) {
      glTranslatef(0.0f, layerSpacing, 0.0f);
      for (int copy = 0; copy < copies; ++copy) {
        glRotatef(copyTurn, 0.0f, 1.0f, 0.0f);
        vertexArray->draw(GL_TRIANGLES);
      }
      renderCheckpoint();
    }
    glPopMatrix();
  }
  glPopMatrix();
  glDisable(GL_BLEND);
}
