// The frame's own layers, the scene dispatch's GL discipline and cameras, and one
// whole show rendered headless.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>

#include "app/start_up.h"
#include "app/run.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "platform/glyphs.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/captions.h"
#include "show/schedule.h"
#include "tests/probe.h"
#include "show/show_state.h"

namespace {
using probe::Frame;
using probe::Rgb;

// First position of a beat.
std::uint32_t beatStart(int beat) {
  std::uint32_t p = static_cast<std::uint32_t>(std::ceil(beat * 16036.363636363636));
  while (p > 0 && beatClockAt(p - 1).beat >= beat) --p;
  while (beatClockAt(p).beat < beat) ++p;
  return p;
}

class ShowFrameTest : public ::testing::Test {
 protected:
  HeadlessContext context;

  void open(int width, int height) {
    std::string error;
    ASSERT_TRUE(context.open(width, height, error)) << error;
    ASSERT_TRUE(buildGlyphLists(error)) << error;
    glListBase(fontListBase);
    setShowViewport(width, height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
  }

  void SetUp() override { resetShowState(); }
  void TearDown() override { resetShowState(); }

  Frame grab() {
    glFinish();
    return probe::grab(context);
  }
};

Rgb scaled(float r, float g, float b, float alpha) { return probe::fromFloats(r * alpha, g * alpha, b * alpha); }
}  // namespace

TEST_F(ShowFrameTest, LetterboxBandsStayBlackAndTheFrameLinesFadeAsDrawn) {
  open(1024, 768);
  auto show = std::make_unique<ShowFrame>();
  show->draw(beatStart(4));
  const Frame f = grab();
  EXPECT_TRUE(probe::rectIs(f, 0, 0, 1024, 128, {0, 0, 0}, 0));
  EXPECT_TRUE(probe::rectIs(f, 0, 640, 1024, 128, {0, 0, 0}, 0));
  // The top line: white along its left 60 %, then fading to black at the right end.
  const int top = 128;
  EXPECT_TRUE(probe::pixelIs(f, 2, top, {255, 255, 255}, 8));
  EXPECT_TRUE(probe::pixelIs(f, 500, top, {255, 255, 255}, 8));
  const Rgb fading = f.at(820, top);
  EXPECT_GT(fading.r, 70);
  EXPECT_LT(fading.r, 190);
  EXPECT_LT(f.at(1021, top).r, 12);
  // The bottom line starts black at the left corner and is white from 40 % on.
  const int bottom = 639;
  EXPECT_LT(f.at(0, bottom).r, 12);
  EXPECT_TRUE(probe::pixelIs(f, 600, bottom, {255, 255, 255}, 8));
}

TEST_F(ShowFrameTest, BeatMarkerIsReddishBluishOrGreyByBeatAndBrightestOnTheBeat) {
  open(1024, 768);
  auto show = std::make_unique<ShowFrame>();
  // The marker's left part, clear of the scope's trace through its middle; it
  // stands one notch lower for every beat of the scene.
  auto markerAt = [&](std::uint32_t position) {
    glClear(GL_COLOR_BUFFER_BIT);
    show->draw(position);
    const Frame f = grab();
    const int notches = beatClockAt(position).beat;
    const int x = 975;  // x = 0.905 in the viewport
    const int y = 128 + static_cast<int>((1.0f - (0.885f - notches * 0.02765625f)) * 0.5f * 512);
    return f.at(x, y);
  };
  EXPECT_TRUE(probe::near(markerAt(beatStart(0)), scaled(1, 0.5f, 0.5f, 0.25f), 3));
  EXPECT_TRUE(probe::near(markerAt(beatStart(4)), scaled(0.5f, 0.5f, 1, 0.25f), 3));
  EXPECT_TRUE(probe::near(markerAt(beatStart(1)), scaled(0.7f, 0.7f, 0.7f, 0.25f), 3));
  EXPECT_TRUE(probe::near(markerAt(beatStart(16)), scaled(1, 0.5f, 0.5f, 0.25f), 3));
  // Later in the beat the same marker is dimmer.
  const Rgb onTheBeat = markerAt(beatStart(1));
  const Rgb late = markerAt(beatStart(1) + 12000);
  EXPECT_LT(late.r, onTheBeat.r / 2);
  EXPECT_GT(late.r, 0);
}

TEST_F(ShowFrameTest, MarkerJumps32NotchesOnTheFirstFrameOfTheGreetingsThenReturnsToTheTop) {
  open(1024, 768);
  auto show = std::make_unique<ShowFrame>();
  show->draw(beatStart(250));
  EXPECT_EQ(show->baseBeat, 192);
  const int x = 975;
  auto rowOf = [](float ndcY) { return 128 + static_cast<int>((1.0f - ndcY) * 0.5f * 512); };
  glClear(GL_COLOR_BUFFER_BIT);
  show->draw(beatStart(288));
  Frame f = grab();
  // (288 - 192) % 64 = 32 notches of 0.02765625 below the top place.
  EXPECT_TRUE(f.lit(x, rowOf(0.9f - 0.885f - 0.015f), 20));
  EXPECT_FALSE(f.lit(x, rowOf(0.885f), 20));
  EXPECT_EQ(show->baseBeat, 288);
  glClear(GL_COLOR_BUFFER_BIT);
  show->draw(beatStart(288) + 735);
  f = grab();
  EXPECT_TRUE(f.lit(x, rowOf(0.885f), 20));
}

// Every line of words stays inside the 2:1 picture in the embedded face: drawn
// through a projection that halves them, at full light, the words must land in the
// middle half of the frame. The claim's tall mark reaches past the top on purpose.
TEST_F(ShowFrameTest, CaptionsStayInsideThePicture) {
  open(512, 256);
  auto boundsOf = [&](auto draw) {
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glScalef(0.5f, 0.5f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    glBlendFunc(GL_ONE, GL_ONE);
    draw();
    return probe::litBounds(grab(), 1);
  };
  auto inside = [](const probe::Box& box) {
    return box.width > 0 && box.x >= 128 && box.y >= 64 && box.x + box.width <= 384 && box.y + box.height <= 192;
  };
  for (const char* title : {"quorlbanze", "mirtlespire", "greetings"})
    EXPECT_TRUE(inside(boundsOf([&] { drawTitleCaption(title, 1.0f); }))) << title;
  for (int beat : {16, 48}) EXPECT_TRUE(inside(boundsOf([&] { drawOpeningCaption(beatClockAt(beatStart(beat))); })));
  EXPECT_TRUE(inside(boundsOf([&] { drawClaimCaption(beatClockAt(beatStart(200))); })));
  EXPECT_TRUE(inside(boundsOf([&] {
    for (float beatTime = 288.0f; beatTime < 352.0f; beatTime += 1.0f) drawGreetingsRoll(beatTime);
  })));
}

TEST_F(ShowFrameTest, OpeningSceneNeverWritesTheBaseBeat) {
  open(320, 160);
  auto show = std::make_unique<ShowFrame>();
  show->baseBeat = 0;
  for (int beat : {0, 17, 63}) {
    show->draw(beatStart(beat));
    EXPECT_EQ(show->baseBeat, 0);
  }
  show->baseBeat = 123;
  show->draw(beatStart(10));
  EXPECT_EQ(show->baseBeat, 123);
}

TEST_F(ShowFrameTest, EverySceneLeavesBlendingOffFillModeAndTheModelview) {
  open(320, 160);
  auto show = std::make_unique<ShowFrame>();
  const int expectedBase[] = {0, 0, 64, 128, 192, 288, 352, 416, 416, 416};
  for (int beat : {0, 63, 64, 127, 128, 191, 192, 230, 287, 288, 300, 351, 352, 415, 416, 419, 420, 485, 486, 492}) {
    const std::uint32_t p = beat == 492 ? playbackFrameCount : beatStart(beat);
    playbackPosition = p;
    analyseSpectrum(&playbackBuffer[2 * static_cast<std::size_t>(p)]);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    dispatchScene(*show, beatClockAt(p));
    EXPECT_FALSE(glIsEnabled(GL_BLEND)) << "beat " << beat;
    GLint polygonMode[2];
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    EXPECT_EQ(polygonMode[0], GL_FILL) << "beat " << beat;
    GLint matrixMode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    EXPECT_EQ(matrixMode, GL_MODELVIEW) << "beat " << beat;
    const int scene = sceneForBeat(beatClockAt(p).beat);
    if (scene > 1) {
      EXPECT_EQ(show->baseBeat, expectedBase[scene]) << "beat " << beat;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "beat " << beat;
  }
}

namespace {
// Independent camera arithmetic in double precision: perspective times look-at.
using Matrix = std::array<double, 16>;  // column-major, as GL keeps it

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row)
      for (int k = 0; k < 4; ++k) r[c * 4 + row] += a[k * 4 + row] * b[c * 4 + k];
  return r;
}

Matrix identity() {
  Matrix m{};
  m[0] = m[5] = m[10] = m[15] = 1;
  return m;
}

Matrix translation(double x, double y, double z) {
  Matrix m = identity();
  m[12] = x;
  m[13] = y;
  m[14] = z;
  return m;
}

Matrix perspective(double aspect) {
  const double f = 1.0 / std::tan(130.0 * M_PI / 360.0), n = 1, far = 1000;
  Matrix m{};
  m[0] = f / aspect;
  m[5] = f;
  m[10] = (far + n) / (n - far);
  m[11] = -1;
  m[14] = 2 * far * n / (n - far);
  return m;
}

Matrix lookAt(std::array<double, 3> eye, std::array<double, 3> centre, std::array<double, 3> up) {
  auto normalise = [](std::array<double, 3> v) {
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return std::array<double, 3>{v[0] / l, v[1] / l, v[2] / l};
  };
  auto cross = [](std::array<double, 3> a, std::array<double, 3> b) {
    return std::array<double, 3>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  };
  const auto f = normalise({centre[0] - eye[0], centre[1] - eye[1], centre[2] - eye[2]});
  const auto s = normalise(cross(f, up));
  const auto u = cross(s, f);
  Matrix m = identity();
  for (int i = 0; i < 3; ++i) {
    m[i * 4 + 0] = s[i];
    m[i * 4 + 1] = u[i];
    m[i * 4 + 2] = -f[i];
  }
  return multiply(m, translation(-eye[0], -eye[1], -eye[2]));
}

::testing::AssertionResult matricesAgree(const Matrix& expected, const float* observed) {
  double largest = 0;
  for (double v : expected) largest = std::max(largest, std::fabs(v));
  for (int i = 0; i < 16; ++i)
    if (std::fabs(expected[i] - observed[i]) > 1e-3 * largest)
      return ::testing::AssertionFailure() << "element " << i << ": expected " << expected[i] << " observed "
                                           << observed[i];
  return ::testing::AssertionSuccess();
}
}  // namespace

TEST_F(ShowFrameTest, SceneCamerasLiveInTheProjectionAsTheTableSays) {
  open(640, 320);
  auto show = std::make_unique<ShowFrame>();
  const double aspect = viewportAspect;
  for (int beat : {70, 130, 300, 417, 450}) {
    const std::uint32_t p = beatStart(beat) + 5000;
    const BeatClock c = beatClockAt(p);
    const double t = c.beatTime;
    Matrix expected;
    switch (sceneForBeat(beat)) {
      case 2:
        expected = multiply(perspective(aspect),
                            lookAt({0, 30 + 5 * std::cos(0.3926875 * t), 20}, {-100, -200, 100}, {0, 0, -1}));
        break;
      case 3: {
        const double a = 1.57075 * t;
        expected = multiply(perspective(aspect), lookAt({20 * std::sin(a), 20 * std::cos(a),
                                                          400 + 150 * std::cos(3.1415 * t)},
                                                         {0, 0, 0}, {0, 1, 0}));
        break;
      }
      case 5:  // the last of the three views
        expected = multiply(translation(-0.6, 0, 0),
                            multiply(perspective(aspect),
                                     lookAt({50 * std::sin(0.5 * t), 300 + 50 * std::cos(0.5 * t),
                                             400 + 50 * std::cos(0.25 * t)},
                                            {0, 0, 0}, {0, 1, 0})));
        break;
      default: {
        const double a = 0.785375 * t;
        expected = multiply(perspective(aspect),
                            lookAt({30 * std::sin(a), 400 + 50 * std::cos(a), 30 * std::cos(a)}, {0, 0, 0}, {0, 1, 0}));
      }
    }
    playbackPosition = p;
    analyseSpectrum(&playbackBuffer[2 * static_cast<std::size_t>(p)]);
    dispatchScene(*show, c);
    float projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_TRUE(matricesAgree(expected, projection)) << "beat " << beat;
  }
}

TEST_F(ShowFrameTest, WholeShowRendersToTheEndOfTheBufferWithEverySceneVisible) {
  open(320, 160);
  {
    // The real soundtrack, as the show plays it.
    initialiseShow(embeddedTrack, embeddedTrackSize, 320, 160, nullptr);
  }
  auto show = std::make_unique<ShowFrame>();
  int litFrames[10] = {};
  int sampled[10] = {};
  std::uint32_t last = 0;
  std::uint64_t n = 0;
  for (;; ++n) {
    const std::uint32_t p = virtualPosition(n, 60);
    ASSERT_LE(p, playbackFrameCount);
    show->draw(p);
    last = p;
    if (n % 30 == 0) {
      const Frame f = grab();
      const int scene = sceneForBeat(beatClockAt(p).beat);
      ++sampled[scene];
      // Beyond the frame lines and the scope's column: the scene itself.
      if (probe::litCount(f, 0, 45, 280, 70, 24) > 20) ++litFrames[scene];
    }
    if (p >= playbackFrameCount) break;
  }
  EXPECT_EQ(last, playbackFrameCount);
  EXPECT_EQ(n, 10740u);
  for (int scene = 1; scene <= 9; ++scene) {
    EXPECT_GT(sampled[scene], 0) << "scene " << scene;
    EXPECT_GT(litFrames[scene], 0) << "scene " << scene << " never showed anything";
  }
}
