// The effects, the signal scope and their GL state discipline on the headless
// context: what each draw leaves behind, and where its pixels land.
#include <EGL/egl.h>
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/band_star.h"
#include "effects/color_vertex_array.h"
#include "effects/disk_swarm.h"
#include "effects/orbit_ring.h"
#include "effects/pillar_grid.h"
#include "effects/quadric_shapes.h"
#include "effects/ring_stack.h"
#include "platform/headless.h"
#include "platform/viewport.h"
#include "show/scope.h"
#include "tests/probe.h"
#include "show/show_state.h"

namespace {

constexpr int frameWidth = 320;
constexpr int frameHeight = 160;  // the show's 2:1 picture

// One context for every test of the suite: opening one costs far more than the
// tests. It is opened again only when another test's context has taken its place,
// and closed when the suite ends, well before Mesa's exit handlers run.
HeadlessContext* sharedContext = nullptr;

HeadlessContext& effectContext() {
  if (sharedContext == nullptr) sharedContext = new HeadlessContext;
  if (sharedContext->context == nullptr || eglGetCurrentContext() != sharedContext->context) {
    std::string error;
    if (!sharedContext->open(frameWidth, frameHeight, error)) ADD_FAILURE() << error;
  }
  return *sharedContext;
}

struct EffectDrawing : ::testing::Test {
  static void TearDownTestSuite() {
    delete sharedContext;  // closes it
    sharedContext = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(effectContext().context, nullptr);
    resetShow();
    glViewport(0, 0, frameWidth, frameHeight);
    viewportAspect = 2.0f;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // The frame loop's additive blending, which DiskSwarm and PillarGrid rely on.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }
  void TearDown() override {
    resetShow();
    viewportAspect = savedAspect;
  }
  float savedAspect = viewportAspect;
  static void resetShow() { rewindShow(); }

  // A view straight down -Z with one unit per pixel around the origin.
  static void lookAlongZ(double unitsPerPixel) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-frameWidth / 2 * unitsPerPixel, frameWidth / 2 * unitsPerPixel, -frameHeight / 2 * unitsPerPixel,
            frameHeight / 2 * unitsPerPixel, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  // Pixel of a point at (x, y) in lookAlongZ units.
  static int column(double x, double unitsPerPixel) { return static_cast<int>(frameWidth / 2 + x / unitsPerPixel); }
  static int row(double y, double unitsPerPixel) { return static_cast<int>(frameHeight / 2 - y / unitsPerPixel); }
};

void currentModelview(GLfloat* matrix) {
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
}

// An arbitrary placement that the three figures without a camera must give back.
void placeSomewhere() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(3.0f, -2.0f, -50.0f);
  glRotatef(23.0f, 0.3f, 1.0f, 0.2f);
  glScalef(0.5f, 0.5f, 0.5f);
}

void expectStateRestored(const char* what) {
  EXPECT_FALSE(glIsEnabled(GL_BLEND)) << what << " left blending on";
  GLint modes[2] = {0, 0};
  glGetIntegerv(GL_POLYGON_MODE, modes);
  EXPECT_EQ(modes[0], GL_FILL) << what;
  EXPECT_EQ(modes[1], GL_FILL) << what;
  GLint matrixMode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
  EXPECT_EQ(matrixMode, GL_MODELVIEW) << what;
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << what;
}

void expectModelviewNear(const GLfloat* expected, const char* what) {
  GLfloat now[16];
  currentModelview(now);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(now[i], expected[i], 1e-4) << what << " element " << i;
}

void expectBlendFunction(GLenum source, GLenum destination, const char* what) {
  GLint s = 0, d = 0;
  glGetIntegerv(GL_BLEND_SRC, &s);
  glGetIntegerv(GL_BLEND_DST, &d);
  EXPECT_EQ(s, static_cast<GLint>(source)) << what;
  EXPECT_EQ(d, static_cast<GLint>(destination)) << what;
}

// Every pixel exactly black.
int nonBlackPixels(const probe::Frame& frame) {
  return probe::litCount(frame, 0, 0, frame.width, frame.height, 0);
}

}  // namespace

//----------------------------------------------------------------------------
// GL state after each draw

TEST_F(EffectDrawing, BandStarLeavesBlendingOffFillAndTheMatrixWhereItWas) {
  BandStar star;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  placeSomewhere();
  GLfloat before[16];
  currentModelview(before);
  glBlendFunc(GL_ONE, GL_ZERO);
  star.update(0.5f);
  expectBlendFunction(GL_SRC_ALPHA, GL_ONE, "BandStar::update");
  star.draw();
  expectStateRestored("BandStar::draw");
  expectModelviewNear(before, "BandStar::draw");
  expectBlendFunction(GL_SRC_ALPHA, GL_ONE, "BandStar::draw");
}

TEST_F(EffectDrawing, OrbitRingLeavesBlendingOffFillAndTheMatrixWhereItWas) {
  OrbitRing ring;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  placeSomewhere();
  GLfloat before[16];
  currentModelview(before);
  glBlendFunc(GL_ONE, GL_ZERO);
  ring.update();
  expectBlendFunction(GL_SRC_ALPHA, GL_ONE, "OrbitRing::update");
  ring.draw();
  expectStateRestored("OrbitRing::draw");
  expectModelviewNear(before, "OrbitRing::draw");
}

TEST_F(EffectDrawing, RingStackLeavesBlendingOffFillAndTheMatrixWhereItWas) {
  RingStack stack;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  placeSomewhere();
  GLfloat before[16];
  currentModelview(before);
  glBlendFunc(GL_ONE, GL_ZERO);
  stack.update(1.0f);
  expectBlendFunction(GL_SRC_ALPHA, GL_ONE, "RingStack::update");
  for (float phase : {0.5f, 7.25f, -1.0f}) {
    stack.draw(phase);
    expectStateRestored("RingStack::draw");
    expectModelviewNear(before, "RingStack::draw");
  }
}

TEST_F(EffectDrawing, DiskSwarmLeavesItsCameraAndTheLastColumnsTurn) {
  DiskSwarm swarm;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  playbackPosition = 44100;  // t = 1 s
  swarm.update(1.0f);
  const float bandThree = swarm.bands[3];
  swarm.draw();
  expectStateRestored("DiskSwarm::draw");
  // The modelview holds only the turn about Y by 275 + 70 t degrees.
  const double t = 44100 * static_cast<double>(secondsPerSample);
  const double angle = (275.0 + 70.0 * t) * M_PI / 180.0;
  GLfloat m[16];
  currentModelview(m);
  EXPECT_NEAR(m[0], std::cos(angle), 1e-4);
  EXPECT_NEAR(m[2], -std::sin(angle), 1e-4);
  EXPECT_NEAR(m[5], 1.0, 1e-6);
  EXPECT_NEAR(m[8], std::sin(angle), 1e-4);
  EXPECT_NEAR(m[10], std::cos(angle), 1e-4);
  EXPECT_NEAR(m[12] * m[12] + m[13] * m[13] + m[14] * m[14], 0.0, 1e-10);
  // The update turned the program-wide angle by 80 steps of 0.1 x bands[3]; drawing
  // turns nothing, so the same frame drawn again shows the same ribbons.
  EXPECT_NEAR(swirlAngle, 8.0 * bandThree, 1e-6);
  swarm.draw();
  EXPECT_NEAR(swirlAngle, 8.0 * bandThree, 1e-6);
}

TEST_F(EffectDrawing, PillarGridLeavesBlendingOffAndFill) {
  PillarGrid grid;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  grid.update(0.5f);
  grid.draw();
  expectStateRestored("PillarGrid::draw");
  // The last pillar: i = j = 10 on the top floor, at (400, 100, 400).
  GLfloat m[16];
  currentModelview(m);
  EXPECT_NEAR(m[12], 400.0, 1e-3);
  EXPECT_NEAR(m[13], 100.0, 1e-3);
  EXPECT_NEAR(m[14], 400.0, 1e-3);
}

TEST_F(EffectDrawing, SignalScopeLeavesIdentityProjectionAndBlendingAsItWas) {
  glMatrixMode(GL_PROJECTION);
  glOrtho(-3, 3, -3, 3, -3, 3);
  drawSignalScope();
  GLfloat projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(projection[i], (i % 5 == 0) ? 1.0f : 0.0f) << "element " << i;
  expectStateRestored("drawSignalScope");
  // (x, y) -> (0.925 - 0.05 y, 0.9 x)
  GLfloat m[16];
  currentModelview(m);
  EXPECT_NEAR(m[0], 0.0, 1e-6);
  EXPECT_NEAR(m[1], 0.9, 1e-6);
  EXPECT_NEAR(m[4], -0.05, 1e-6);
  EXPECT_NEAR(m[5], 0.0, 1e-6);
  EXPECT_NEAR(m[12], 0.925, 1e-6);
  expectBlendFunction(GL_SRC_ALPHA, GL_ONE, "drawSignalScope");
}

//----------------------------------------------------------------------------
// Pixels: nothing at level 0, light where each figure stands when loud

TEST_F(EffectDrawing, LevelZeroAddsNothingToABlackImage) {
  std::fill(spectrum, spectrum + spectrumSize, 0.02f);
  for (std::uint32_t frame = 0; frame < 20000; ++frame) playbackBuffer[2 * frame] = 0.5f;
  playbackPosition = 15000;
  {
    BandStar star;
    lookAlongZ(0.5);
    star.update(0.0f);
    star.draw();
  }
  {
    RingStack stack;
    lookAlongZ(8.0);
    stack.update(0.0f);
    stack.draw(0.5f);
  }
  {
    DiskSwarm swarm;
    swarm.update(0.0f);
    swarm.draw();
  }
  {
    PillarGrid grid;
    grid.update(0.0f);
    grid.draw();
  }
  EXPECT_EQ(nonBlackPixels(probe::grab(effectContext())), 0);
  resetShowState();
}

TEST_F(EffectDrawing, LoudBandStarLightsATenSidedRingAroundTheAxis) {
  BandStar star;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);  // levels 0.01: heights 40 down to 25
  lookAlongZ(1.0);
  star.update(1.0f);
  star.draw();
  const probe::Frame frame = probe::grab(effectContext());
  // Seen along the axis, each ribbon spans 25 to 40 units from it, 16 units wide at most.
  EXPECT_FALSE(frame.lit(column(0, 1.0), row(0, 1.0), 0)) << "the axis";
  for (int copy = 0; copy < 10; ++copy) {
    const double angle = (90.0 + 36.0 * copy) * M_PI / 180.0;  // the ribbon stands on +Y before its turns
    const double r = 30.0;
    EXPECT_TRUE(frame.lit(column(r * std::cos(angle), 1.0), row(r * std::sin(angle), 1.0))) << "copy " << copy;
    const double outside = 45.0;
    EXPECT_FALSE(frame.lit(column(outside * std::cos(angle), 1.0), row(outside * std::sin(angle), 1.0), 0))
        << "outside copy " << copy;
  }
  const probe::Box box = probe::litBounds(frame, 0);
  EXPECT_NEAR(box.x + box.width / 2.0, frameWidth / 2.0, 1.5);
  EXPECT_NEAR(box.y + box.height / 2.0, frameHeight / 2.0, 1.5);
  EXPECT_LE(box.height, 2 * 42);
  EXPECT_GE(box.height, 2 * 38);
}

TEST_F(EffectDrawing, LoudOrbitRingStaysInsideItsShell) {
  OrbitRing ring;
  std::fill(spectrum, spectrum + spectrumSize, 0.01f);
  constexpr double unitsPerPixel = 1.0 / 64;  // the shell's outer radius is 64 pixels
  lookAlongZ(unitsPerPixel);
  ring.update();
  ring.draw();
  const probe::Frame frame = probe::grab(effectContext());
  // Anchors lie within radius 1, the swinging corners 0.2 further out at most.
  int lit = 0;
  for (int y = 0; y < frameHeight; ++y) {
    for (int x = 0; x < frameWidth; ++x) {
      if (!frame.lit(x, y, 0)) continue;
      ++lit;
      const double dx = (x + 0.5 - frameWidth / 2) * unitsPerPixel;
      const double dy = (frameHeight / 2 - y - 0.5) * unitsPerPixel;
      EXPECT_LE(std::hypot(dx, dy), 1.2 + 2 * unitsPerPixel) << "pixel (" << x << ", " << y << ")";
    }
  }
  EXPECT_GT(lit, 1000);
}

TEST_F(EffectDrawing, LoudRingStackScrollsAColumnThatRepeatsEveryLayer) {
  RingStack stack;
  std::fill(spectrum, spectrum + spectrumSize, 0.02f);  // levels 0.002: theta = 1, triangles 20 units tall
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-400, 400, -200, 200, -1000, 1000);  // side view: 2.5 units per pixel, a layer every 80 rows
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  stack.update(1.0f);
  stack.draw(0.5f);
  const probe::Frame frame = probe::grab(effectContext());
  const probe::Box box = probe::litBounds(frame, 0);
  // Anchors at radius 150, triangles reaching 10 units further: |x| <= 160.
  EXPECT_GE(box.x, static_cast<int>(frameWidth / 2 - 160 / 2.5) - 1);
  EXPECT_LE(box.x + box.width, static_cast<int>(frameWidth / 2 + 160 / 2.5) + 1);
  EXPECT_GT(box.width, static_cast<int>(2 * 140 / 2.5));
  // The column runs through the whole view, the same from one layer to the next.
  int litRows = 0;
  for (int y = 0; y + 80 < frameHeight; ++y) {
    const int here = probe::litCount(frame, 0, y, frameWidth, 1, 0);
    const int layerBelow = probe::litCount(frame, 0, y + 80, frameWidth, 1, 0);
    EXPECT_NEAR(here, layerBelow, 2 + here / 20) << "row " << y;
    if (here > 0) ++litRows;
  }
  EXPECT_GT(litRows, 60);
  // Half a beat later the column has moved down by 50 units, 20 rows.
  glClear(GL_COLOR_BUFFER_BIT);
  stack.draw(1.0f);
  const probe::Frame later = probe::grab(effectContext());
  for (int y = 0; y + 20 < frameHeight; ++y) {
    EXPECT_NEAR(probe::litCount(later, 0, y + 20, frameWidth, 1, 0), probe::litCount(frame, 0, y, frameWidth, 1, 0),
                2 + probe::litCount(frame, 0, y, frameWidth, 1, 0) / 20)
        << "row " << y;
  }
}

namespace {

// Where a point lands under the swirling camera at t = 0: the eye at (0, 0, 40)
// looking at the origin, the picture rolled by -270 degrees. Built here from the
// camera's description, not read back from the effect.
void projectAtTimeZero(double x, double y, double z, double& px, double& py) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  GLdouble identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  gluPerspective(130.0, 2.0, 1.0, 1000.0);
  glRotatef(-270.0f, 0, 0, 1);
  gluLookAt(0, 0, 40, 0, 0, 0, 0, 1, 0);
  GLdouble projection[16];
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  const GLint viewport[4] = {0, 0, frameWidth, frameHeight};
  GLdouble wx, wy, wz;
  gluProject(x, y, z, identity, projection, viewport, &wx, &wy, &wz);
  px = wx;
  py = frameHeight - wy;
}

}  // namespace

TEST_F(EffectDrawing, LoudDiskSwarmLightsItsInnerColumns) {
  DiskSwarm swarm;
  std::fill(spectrum, spectrum + spectrumSize, 0.1f);
  swarm.update(1.0f);  // bands 0.03: e = 50, colours clamped to white
  swarm.draw();
  const probe::Frame frame = probe::grab(effectContext());
  // Ring 0, column 0 turned by -10 degrees about Y: disk 1 (radius 5) at (25, 50, 0).
  const double a = -10.0 * M_PI / 180.0;
  double px, py;
  projectAtTimeZero(25 * std::cos(a), 50, -25 * std::sin(a), px, py);
  EXPECT_TRUE(probe::pixelIs(frame, static_cast<int>(px), static_cast<int>(py), {255, 255, 255}, 8));
  // The origin itself stays dark: no ring reaches inside radius 25 - 5.
  projectAtTimeZero(0, 0, 0, px, py);
  EXPECT_FALSE(frame.lit(static_cast<int>(px), static_cast<int>(py), 0));
}

TEST_F(EffectDrawing, PillarGridTintTurnsWarmAboveTheThreshold) {
  PillarGrid grid;
  grid.update(1.0f);
  double px, py;
  projectAtTimeZero(10, -80, 0, px, py);  // inside the face of the pillar at the origin's floor -100
  const int x = static_cast<int>(px), y = static_cast<int>(py);

  grid.bands[3] = 0.01f;  // warm: (0.5, 0.25, 0.125)
  grid.draw();
  const probe::Rgb warm = probe::grab(effectContext()).at(x, y);
  EXPECT_GT(warm.r, warm.b);
  EXPECT_GT(warm.r, 100);

  glClear(GL_COLOR_BUFFER_BIT);
  grid.bands[3] = 0.002f;  // exactly at the threshold: cool
  grid.draw();
  const probe::Rgb cool = probe::grab(effectContext()).at(x, y);
  EXPECT_GT(cool.b, cool.r);
  EXPECT_GT(cool.b, 0);
}

//----------------------------------------------------------------------------
// The signal scope in the 2:1 picture

TEST_F(EffectDrawing, SignalScopeTracesStandAtTheirColumnsAtSilence) {
  playbackPosition = 1000;
  drawSignalScope();
  const probe::Frame frame = probe::grab(effectContext());
  const int middle = frameHeight / 2 + 3;  // a row that both traces cross
  const double waveColumn = (0.925 + 1) / 2 * frameWidth;
  const double spectrumColumn = (0.95 + 1) / 2 * frameWidth;
  int waveHits = 0, spectrumHits = 0, otherHits = 0;
  for (int x = 0; x < frameWidth; ++x) {
    if (!frame.lit(x, middle, 0)) continue;
    const probe::Rgb c = frame.at(x, middle);
    if (std::fabs(x + 0.5 - waveColumn) <= 1.0) {
      ++waveHits;
      EXPECT_TRUE(probe::pixelIs(frame, x, middle, probe::fromFloats(0.5f, 0.5f, 0.0f)));
    } else if (std::fabs(x + 0.5 - spectrumColumn) <= 1.0) {
      ++spectrumHits;
      EXPECT_TRUE(probe::pixelIs(frame, x, middle, probe::fromFloats(0.0f, 0.5f, 0.0f)));
    } else {
      ++otherHits;
      ADD_FAILURE() << "lit at " << x << ": " << c;
    }
  }
  EXPECT_EQ(waveHits, 1);
  EXPECT_EQ(spectrumHits, 1);
  EXPECT_EQ(otherHits, 0);
  // Both traces run from near the bottom to near the top of the picture.
  const probe::Box box = probe::litBounds(frame, 0);
  EXPECT_NEAR(box.y, (1 - 0.886) / 2 * frameHeight, 2.0);
  EXPECT_NEAR(box.y + box.height, (1 + 0.886) / 2 * frameHeight, 2.0);
}

TEST_F(EffectDrawing, SignalScopeFullSpectrumIsRedAtTheInnerEdge) {
  std::fill(spectrum, spectrum + spectrumSize, 1.0f / 40);  // beyond 1/80: v = 1
  drawSignalScope();
  const probe::Frame frame = probe::grab(effectContext());
  const double innerColumn = (0.9 + 1) / 2 * frameWidth;
  const int middle = frameHeight / 2 + 3;
  bool sawRed = false;
  for (int x = 0; x < frameWidth; ++x) {
    if (std::fabs(x + 0.5 - innerColumn) <= 1.0 && frame.lit(x, middle, 0)) {
      EXPECT_TRUE(probe::pixelIs(frame, x, middle, {255, 0, 0}));
      sawRed = true;
    }
  }
  EXPECT_TRUE(sawRed);
}

//----------------------------------------------------------------------------
// The quadric shapes: what GLU would have drawn, vertex for vertex

namespace {

// Everything the GL hands back in feedback mode for what `draw` submits: the
// primitives after transformation and clipping, with their window coordinates.
template <typename Draw>
std::vector<GLfloat> feedbackOf(Draw draw) {
  std::vector<GLfloat> buffer(4096);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  const GLint used = glRenderMode(GL_RENDER);
  buffer.resize(used > 0 ? static_cast<std::size_t>(used) : 0);
  return buffer;
}

// Line segments of a feedback buffer as (x0, y0, z0, x1, y1, z1), whether a strip
// began them (GL_LINE_RESET_TOKEN) or continued them (GL_LINE_TOKEN).
std::vector<std::vector<GLfloat>> feedbackSegments(const std::vector<GLfloat>& buffer, bool keepZeroLength) {
  std::vector<std::vector<GLfloat>> segments;
  for (std::size_t at = 0; at + 7 <= buffer.size(); at += 7) {
    const GLfloat token = buffer[at];
    EXPECT_TRUE(token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) << "token " << token;
    std::vector<GLfloat> segment(buffer.begin() + static_cast<long>(at) + 1,
                                 buffer.begin() + static_cast<long>(at) + 7);
    const bool zeroLength = segment[0] == segment[3] && segment[1] == segment[4] && segment[2] == segment[5];
    if (keepZeroLength || !zeroLength) segments.push_back(segment);
  }
  return segments;
}

// A camera that keeps the whole shape in view and off every axis.
void viewShape() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(130.0, 2.0, 1.0, 1000.0);
  gluLookAt(37, 23, 61, 0, 0, 10, 0, 1, 0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
}

}  // namespace

TEST_F(EffectDrawing, SquareTubeIsWhatGluCylinderDraws) {
  GLUquadric* quadric = gluNewQuadric();
  for (float height : {20.0f, 21.337f, 57.5f}) {
    viewShape();
    QuadricTube tube;
    tube.shape(10.0f, height);
    glEnableClientState(GL_VERTEX_ARRAY);
    tube.bind();

    gluQuadricDrawStyle(quadric, GLU_FILL);
    const std::vector<GLfloat> gluFace = feedbackOf([&] { gluCylinder(quadric, 10.0, 10.0, height, 4, 1); });
    const std::vector<GLfloat> ourFace = feedbackOf([&] { tube.drawFace(); });
    ASSERT_FALSE(gluFace.empty());
    EXPECT_EQ(ourFace, gluFace) << "height " << height;

    gluQuadricDrawStyle(quadric, GLU_SILHOUETTE);
    const auto gluOutline = feedbackSegments(feedbackOf([&] { gluCylinder(quadric, 10.0, 10.0, height, 4, 1); }), true);
    const auto ourOutline = feedbackSegments(feedbackOf([&] { tube.drawOutline(); }), true);
    EXPECT_EQ(gluOutline.size(), 12u);
    EXPECT_EQ(ourOutline, gluOutline) << "height " << height;
    glDisableClientState(GL_VERTEX_ARRAY);
  }
  gluDeleteQuadric(quadric);
}

TEST_F(EffectDrawing, OctagonIsWhatGluDiskDrawsLessItsEmptyHole) {
  GLUquadric* quadric = gluNewQuadric();
  viewShape();
  glScalef(4.0f, 4.0f, 4.0f);
  QuadricDisk disk;
  disk.shape(5.0f);
  glEnableClientState(GL_VERTEX_ARRAY);
  disk.bind();

  gluQuadricDrawStyle(quadric, GLU_FILL);
  const std::vector<GLfloat> gluFace = feedbackOf([&] { gluDisk(quadric, 0.0, 5.0, 8, 1); });
  const std::vector<GLfloat> ourFace = feedbackOf([&] { disk.drawFace(); });
  ASSERT_FALSE(gluFace.empty());
  EXPECT_EQ(ourFace, gluFace);

  // GLU also outlines the hole of radius 0: eight segments of no length, left out here.
  gluQuadricDrawStyle(quadric, GLU_SILHOUETTE);
  const std::vector<GLfloat> gluBuffer = feedbackOf([&] { gluDisk(quadric, 0.0, 5.0, 8, 1); });
  const auto gluAll = feedbackSegments(gluBuffer, true);
  const auto gluRim = feedbackSegments(gluBuffer, false);
  EXPECT_EQ(gluAll.size(), 16u);
  EXPECT_EQ(gluRim.size(), 8u);
  EXPECT_EQ(feedbackSegments(feedbackOf([&] { disk.drawOutline(); }), true), gluRim);
  glDisableClientState(GL_VERTEX_ARRAY);
  gluDeleteQuadric(quadric);
}

TEST_F(EffectDrawing, NothingOfNoSizeReachesThePicture) {
  // What the octagon's empty hole and the outer ring's disks scaled by 0 would draw.
  lookAlongZ(1.0);
  glColor3f(1, 1, 1);
  glBegin(GL_LINE_STRIP);
  for (int i = 0; i < 9; ++i) glVertex3f(0.0f, 0.0f, 0.0f);
  glEnd();
  glBegin(GL_LINE_STRIP);
  for (int i = 0; i < 9; ++i) glVertex3f(10.25f, -7.5f, 0.0f);
  glEnd();
  GLUquadric* quadric = gluNewQuadric();
  glTranslatef(20.0f, 10.0f, 0.0f);
  glScalef(0.0f, 0.0f, 0.0f);
  gluQuadricDrawStyle(quadric, GLU_FILL);
  gluDisk(quadric, 0.0, 5.0, 8, 1);
  gluQuadricDrawStyle(quadric, GLU_SILHOUETTE);
  gluDisk(quadric, 0.0, 5.0, 8, 1);
  gluDeleteQuadric(quadric);
  EXPECT_EQ(nonBlackPixels(probe::grab(effectContext())), 0);
}

TEST_F(EffectDrawing, ColorVertexArrayDrawsItsVerticesInTheirColours) {
  ColorVertexArray array;
  array.draw(GL_TRIANGLES);  // empty: nothing drawn, no error
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  array.resize(3);
  array.setVertex(0, -40.0f, -20.0f, 0.0f);
  array.setVertex(1, 40.0f, -20.0f, 0.0f);
  array.setVertex(2, 0.0f, 40.0f, 0.0f);
  for (int i = 0; i < 3; ++i) array.setColor(i, 0.0f, 1.0f, 0.0f, 1.0f);
  array.setColor(2, 1.0f, 0.0f, 0.0f, 1.0f);
  lookAlongZ(1.0);
  array.draw(GL_TRIANGLES);
  const probe::Frame frame = probe::grab(effectContext());
  EXPECT_TRUE(probe::pixelIs(frame, column(0, 1.0), row(38, 1.0), {250, 5, 0}, 8));  // near the red corner
  EXPECT_TRUE(probe::pixelIs(frame, column(-37, 1.0), row(-19, 1.0), {0, 250, 0}, 8));
  EXPECT_FALSE(frame.lit(column(45, 1.0), row(30, 1.0), 0));
  // The current colour is the last vertex's, as with one call per vertex.
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_COLOR, current);
  EXPECT_EQ(current[0], 1.0f);
  EXPECT_EQ(current[1], 0.0f);
  GLboolean arraysOn = GL_TRUE;
  glGetBooleanv(GL_VERTEX_ARRAY, &arraysOn);
  EXPECT_FALSE(arraysOn);
  glGetBooleanv(GL_COLOR_ARRAY, &arraysOn);
  EXPECT_FALSE(arraysOn);
}
