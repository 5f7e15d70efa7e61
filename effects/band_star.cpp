// BandStar: the ten-sided ribbon star that follows the spectrum and the waveform.
#include "effects/band_star.h"

#include <cmath>
#include <cstdint>

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "platform/render_queue.h"

namespace {

constexpr int bandStarSegments = 25;
constexpr int spectrumStride = 10;  // segment i follows spectrum entry 10 i
constexpr float smoothingNew = 0.1f;
constexpr float smoothingOld = 0.9f;
constexpr float segmentFraction = 0.041666668f;  // 1 / 24: the far segment is at 1
constexpr std::uint32_t framesPerSegment = 500;  // each segment looks 500 frames further back
constexpr float widthScale = 200.0f;
constexpr float nearHalfWidth = 8.0f;
constexpr float halfWidthTaper = 7.0f;
constexpr float heightScale = 2000.0f;
constexpr float nearHeight = 20.0f;
constexpr float heightTaper = 15.0f;
constexpr float segmentDepth = 20.0f;
constexpr int copies = 10;
constexpr float copyTurn = 36.0f;  // degrees: ten copies make a full turn

}  // namespace

BandStar::BandStar()
    : segmentCount(bandStarSegments),
      levels(new float[bandStarSegments]()),
      red(0.125f),
      green(0.25f),
      blue(0.5f),
      vertexArray(new ColorVertexArray) {
  vertexArray->resize(2 * segmentCount);
}

BandStar::~BandStar() {
  vertexArray->release();
  delete vertexArray;
  delete[] levels;
}

void BandStar::setColor(float r, float g, float b) {
  red = r;
  green = g;
  blue = b;
}

void BandStar::update(float level) {
  for (int i = 0; i < segmentCount; ++i) {
    levels[i] = std::sqrt(spectrum[spectrumStride * i]) * smoothingNew + levels[i] * smoothingOld;
  }
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);

  const std::uint32_t p = playbackPosition;
  for (int j = 0; j < segmentCount; ++j) {
    const float d = static_cast<float>(j) * segmentFraction;
    const std::uint32_t back = framesPerSegment * static_cast<std::uint32_t>(j);
    // The buffer is never read before its start: near the beginning the far
    // segments simply see silence.
    const float s = p > back ? std::fabs(*playing.at(p - back)) : 0.0f;
    const float x = s * (1.0f - d * 0.5f) * widthScale + nearHalfWidth - d * halfWidthTaper;
    const float y = levels[j] * heightScale + nearHeight - d * heightTaper;
    const float z = segmentDepth * static_cast<float>(j);
    const float a = level - d * level;
    vertexArray->setVertex(2 * j, -x, y, z);
    vertexArray->setVertex(2 * j + 1, x, y, z);
    vertexArray->setColor(2 * j, red, green, blue, a);
    vertexArray->setColor(2 * j + 1, red, green, blue, a);
  }
}

void BandStar::draw() {
  glEnable(GL_BLEND);
  for (int copy = 0; copy < copies; ++copy) {
    glRotatef(copyTurn, 0.0f, 0.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    vertexArray->draw(GL_QUAD_STRIP);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    vertexArray->draw(GL_QUAD_STRIP);
    renderCheckpoint();
  }
  glDisable(GL_BLEND);
}
