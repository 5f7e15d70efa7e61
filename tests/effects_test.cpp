// The effects' arithmetic: vertices and colours after update on crafted spectra
// and buffers, checked against the figures' formulas. No drawing here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/band_star.h"
#include "effects/color_vertex_array.h"
#include "effects/disk_swarm.h"
#include "effects/orbit_ring.h"
#include "effects/pillar_grid.h"
#include "effects/ring_stack.h"
#include "show/show_state.h"

namespace {

// Puts the globals the effects read back to silence at position 0.
struct SilentShow : ::testing::Test {
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() { rewindShow(); }
  static void fillSpectrum(int first, int count, float value) {
    std::fill(spectrum + first, spectrum + first + count, value);
  }
  static void setLeft(std::uint32_t frame, float value) { playbackBuffer[2 * frame] = value; }
};

// The generator written out from its definition, for layouts drawn at construction.
struct ReferenceGenerator {
  std::uint32_t state = 1;
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

void expectVertex(const ColorVertexArray& array, int i, double x, double y, double z) {
  const float* p = array.positions + 4 * i;
  const double tolerance = 1e-5 * std::max({1.0, std::fabs(x), std::fabs(y), std::fabs(z)});
  EXPECT_NEAR(p[0], x, tolerance) << "x of vertex " << i;
  EXPECT_NEAR(p[1], y, tolerance) << "y of vertex " << i;
  EXPECT_NEAR(p[2], z, tolerance) << "z of vertex " << i;
  EXPECT_EQ(p[3], 1.0f) << "w of vertex " << i;
}

void expectColor(const ColorVertexArray& array, int i, double r, double g, double b, double a) {
  const float* c = array.colors + 4 * i;
  EXPECT_NEAR(c[0], r, 1e-6 * std::max(1.0, std::fabs(r))) << "red of vertex " << i;
  EXPECT_NEAR(c[1], g, 1e-6 * std::max(1.0, std::fabs(g))) << "green of vertex " << i;
  EXPECT_NEAR(c[2], b, 1e-6 * std::max(1.0, std::fabs(b))) << "blue of vertex " << i;
  EXPECT_NEAR(c[3], a, 1e-6 * std::max(1.0, std::fabs(a))) << "alpha of vertex " << i;
}

}  // namespace

//----------------------------------------------------------------------------
// ColorVertexArray

TEST(ColorVertexArray, ResizeToZeroOrLessLeavesItEmpty) {
  ColorVertexArray array;
  array.resize(4);
  ASSERT_EQ(array.count, 4);
  array.resize(0);
  EXPECT_EQ(array.count, 0);
  EXPECT_EQ(array.positions, nullptr);
  EXPECT_EQ(array.colors, nullptr);
  array.resize(3);
  array.resize(-2);
  EXPECT_EQ(array.count, 0);
  EXPECT_EQ(array.positions, nullptr);
  EXPECT_EQ(array.colors, nullptr);
}

TEST(ColorVertexArray, ReleaseTwiceIsHarmless) {
  ColorVertexArray array;
  array.resize(2);
  array.release();
  array.release();
  EXPECT_EQ(array.count, 0);
  EXPECT_EQ(array.positions, nullptr);
}

TEST(ColorVertexArray, SetVertexStoresWOneAndSetColorStoresUnclamped) {
  ColorVertexArray array;
  array.resize(3);
  array.setVertex(1, 2.0f, -3.0f, 4.5f);
  array.setColor(2, 1.5f, -0.25f, 0.0f, 7.0f);
  EXPECT_EQ(array.vertex(1), array.positions + 4);
  EXPECT_EQ(array.color(2), array.colors + 8);
  expectVertex(array, 1, 2.0, -3.0, 4.5);
  expectColor(array, 2, 1.5, -0.25, 0.0, 7.0);
}

//----------------------------------------------------------------------------
// BandStar

using BandStarUpdate = SilentShow;

TEST_F(BandStarUpdate, NearAndFarSegmentsFollowTheirFormulas) {
  BandStar star;
  star.setColor(0.9f, 0.6f, 0.3f);
  const std::uint32_t p = 20000;
  playbackPosition = p;
  setLeft(p, -0.25f);        // segment 0 reads frame p
  setLeft(p - 12000, 0.5f);  // segment 24 reads frame p - 24 x 500
  spectrum[0] = 0.04f;       // segment 0 follows entry 0
  spectrum[240] = 0.01f;     // segment 24 follows entry 240
  star.update(0.6f);

  const double level0 = std::sqrt(0.04f) * 0.1;
  const double level24 = std::sqrt(0.01f) * 0.1;
  // j = 0: half-width 200 s + 8, height 2000 level + 20, depth 0, alpha = level.
  expectVertex(*star.vertexArray, 0, -(0.25 * 200 + 8), level0 * 2000 + 20, 0);
  expectVertex(*star.vertexArray, 1, 0.25 * 200 + 8, level0 * 2000 + 20, 0);
  expectColor(*star.vertexArray, 0, 0.9, 0.6, 0.3, 0.6);
  expectColor(*star.vertexArray, 1, 0.9, 0.6, 0.3, 0.6);
  // j = 24: half-width 100 s + 1, height 2000 level + 5, depth 480, alpha 0.
  expectVertex(*star.vertexArray, 48, -(0.5 * 100 + 1), level24 * 2000 + 5, 480);
  expectVertex(*star.vertexArray, 49, 0.5 * 100 + 1, level24 * 2000 + 5, 480);
  expectColor(*star.vertexArray, 49, 0.9, 0.6, 0.3, 0.0);
  // A middle segment, j = 12 (d = 0.5), reads frame p - 6000.
  expectVertex(*star.vertexArray, 25, 8 - 3.5, 20 - 7.5, 240);
  EXPECT_NEAR(star.vertexArray->color(25)[3], 0.3, 1e-6);
  setLeft(p, 0.0f);
  setLeft(p - 12000, 0.0f);
}

TEST_F(BandStarUpdate, SegmentsNeverReadBeforeTheStartOfTheBuffer) {
  BandStar star;
  setLeft(0, 1.0f);  // frame 0 is never read by a segment
  setLeft(1, -0.5f);
  playbackPosition = 12000;  // segment 24 would need frame 0: it sees silence
  star.update(1.0f);
  expectVertex(*star.vertexArray, 49, 1.0, 5.0, 480.0);
  playbackPosition = 12001;  // now segment 24 reads frame 1
  star.update(1.0f);
  EXPECT_NEAR(star.vertexArray->vertex(49)[0], 0.5 * 100 + 1, 1e-5);
  playbackPosition = 0;  // at the start every segment is 2 x (8 - 7 j / 24) wide
  star.update(1.0f);
  for (int j = 0; j < 25; ++j) {
    EXPECT_NEAR(star.vertexArray->vertex(2 * j + 1)[0], 8 - 7 * j / 24.0, 1e-5) << "segment " << j;
  }
  setLeft(0, 0.0f);
  setLeft(1, 0.0f);
}

TEST_F(BandStarUpdate, SilenceDecaysTheLevelsByNineTenthsAndColourWaitsForUpdate) {
  BandStar star;
  spectrum[50] = 0.09f;  // segment 5
  star.update(1.0f);
  EXPECT_NEAR(star.levels[5], 0.03, 1e-7);
  spectrum[50] = 0.0f;
  star.setColor(1.0f, 0.0f, 0.0f);
  EXPECT_EQ(star.vertexArray->color(10)[0], 0.125f);  // the new colour is not in the vertices yet
  star.update(1.0f);
  EXPECT_NEAR(star.levels[5], 0.027, 1e-7);
  expectColor(*star.vertexArray, 10, 1.0, 0.0, 0.0, 1.0 - 5 / 24.0);
}

//----------------------------------------------------------------------------
// OrbitRing

using OrbitRingUpdate = SilentShow;

TEST_F(OrbitRingUpdate, LayoutTakesFourValuesPerTriangleInOrder) {
  OrbitRing ring;
  ReferenceGenerator generator;
  for (int i = 0; i < 2; ++i) {
    const double r = 0.5 + generator.next() / 65534.0;
    const double t = generator.next() * (2 * M_PI / 32767);
    const double u = generator.next() * (2 * M_PI / 32767);
    const double v = generator.next() / 32767.0;
    const double ax = r * std::cos(t) * std::cos(u), ay = r * std::sin(t), az = r * std::cos(t) * std::sin(u);
    expectVertex(*ring.vertexArray, 3 * i, ax, ay, az);
    expectVertex(*ring.vertexArray, 3 * i + 1, ax + 0.2 * std::sin(v), ay + 0.2 * std::cos(v), az);
    expectVertex(*ring.vertexArray, 3 * i + 2, ax + 0.2 * std::cos(v), ay, az + 0.2 * std::sin(v));
    expectColor(*ring.vertexArray, 3 * i + 2, 0.125, 0.5, 0.25, 0.0625);
  }
  // The 401st value belongs to whatever is built next.
  for (int i = 8; i < 400; ++i) generator.next();
  EXPECT_EQ(randomInteger(), generator.next());
}

TEST_F(OrbitRingUpdate, SilenceSwingsCornersToTheAxesInTheBaseColour) {
  OrbitRing ring;
  ring.update();
  for (int i : {0, 57, 99}) {
    const float* a = ring.vertexArray->vertex(3 * i);
    expectVertex(*ring.vertexArray, 3 * i + 1, a[0], a[1] + 0.2, a[2]);
    expectVertex(*ring.vertexArray, 3 * i + 2, a[0] + 0.2, a[1], a[2]);
    expectColor(*ring.vertexArray, 3 * i + 2, 0.125, 0.5, 0.25, 0.0625);
  }
}

TEST_F(OrbitRingUpdate, LoudBandReddensTheThirdCornerAndSwingsTheOthers) {
  OrbitRing ring;
  float anchor[3];
  std::copy(ring.vertexArray->vertex(0), ring.vertexArray->vertex(0) + 3, anchor);
  fillSpectrum(100, 5, 0.004f);  // triangle 0 follows entries 100 to 104
  ring.update();
  const double m = 0.004f * 0.1 * 500;  // 0.2
  const double w = 5 * m;
  expectColor(*ring.vertexArray, 2, 0.125 + 0.25 * m, 0.5, 0.25, (m + 1) * 0.0625);
  expectVertex(*ring.vertexArray, 0, anchor[0], anchor[1], anchor[2]);  // the anchor stays
  expectVertex(*ring.vertexArray, 1, anchor[0] + 0.2 * std::sin(w), anchor[1] + 0.2 * std::cos(w), anchor[2]);
  expectVertex(*ring.vertexArray, 2, anchor[0] + 0.2 * std::cos(w), anchor[1], anchor[2] + 0.2 * std::sin(w));
  expectColor(*ring.vertexArray, 0, 0.125, 0.5, 0.25, 0.0625);  // the anchor keeps the base colour
  // Triangle 1 follows entries 99 to 103: four of its five entries are loud.
  EXPECT_NEAR(ring.levels[1], 0.1 * 4 * 0.004 / 5, 1e-9);
  // Triangle 99 follows entries 1 to 5 and stays silent.
  EXPECT_EQ(ring.levels[99], 0.0f);
}

//----------------------------------------------------------------------------
// RingStack

using RingStackUpdate = SilentShow;

TEST_F(RingStackUpdate, LayoutTakesThreeValuesPerItemOnTheCylinder) {
  RingStack stack;
  ReferenceGenerator generator;
  const double a = generator.next() * (2 * M_PI / 32767);
  const double b = generator.next() * (2 * M_PI / 32767);
  const double c = generator.next() / 32767.0;
  const double x = 150 * std::cos(a), y = 100 * std::sin(b), z = 150 * std::sin(a);
  expectVertex(*stack.vertexArray, 0, x, y, z);
  expectVertex(*stack.vertexArray, 1, x + 10 * std::sin(c), y + 10 * c, z + 10 * std::cos(c));
  expectVertex(*stack.vertexArray, 2, x + 10 * std::cos(c), y + 20 * c, z + 10 * std::sin(c));
  expectColor(*stack.vertexArray, 2, 0.25, 0.25, 0.125, 0.0625);
  for (int i = 0; i < 100; ++i) {
    const float* anchor = stack.vertexArray->vertex(3 * i);
    EXPECT_NEAR(std::hypot(anchor[0], anchor[2]), 150.0, 1e-3) << "item " << i;
    EXPECT_LE(std::fabs(anchor[1]), 100.0f) << "item " << i;
  }
}

TEST_F(RingStackUpdate, BuiltAfterTheTriangleShellItTakesValues401To700) {
  OrbitRing ring;  // the frame loop builds the shell first: values 1 to 400
  RingStack stack;
  ReferenceGenerator generator;
  for (int i = 0; i < 400; ++i) generator.next();
  const double a = generator.next() * (2 * M_PI / 32767);
  const double b = generator.next() * (2 * M_PI / 32767);
  expectVertex(*stack.vertexArray, 0, 150 * std::cos(a), 100 * std::sin(b), 150 * std::sin(a));
  for (int i = 2; i < 300; ++i) generator.next();  // the rest of the stack's 300
  EXPECT_EQ(randomInteger(), generator.next());    // value 701 is left for whatever comes next
}

TEST_F(RingStackUpdate, TwoHalfLevelUpdatesCompoundTheAlphaButNotTheTip) {
  RingStack stack;
  fillSpectrum(100, 5, 0.008f);  // item 0 follows entries 100 to 104
  stack.update(0.5f);
  double level = 0.1 * 0.008f;
  double l = 250 * level + 1;
  expectColor(*stack.vertexArray, 2, 0.25 * l, 0.25 * l, 0.125 * l, 0.0625 * l * 0.5);
  stack.update(0.5f);
  level = 0.1 * 0.008f + 0.9 * level;
  l = 250 * level + 1;
  expectColor(*stack.vertexArray, 2, 0.25 * l, 0.25 * l, 0.125 * l, 0.0625 * l * 0.5);
  expectColor(*stack.vertexArray, 0, 0.25, 0.25, 0.125, 0.0625 * 0.25);
  expectColor(*stack.vertexArray, 1, 0.25, 0.25, 0.125, 0.0625 * 0.25);
  // The tip stretches with theta = 500 x level.
  const float* anchor = stack.vertexArray->vertex(0);
  const double theta = 500 * level;
  expectVertex(*stack.vertexArray, 2, anchor[0] + 10 * std::cos(theta), anchor[1] + 20 * theta,
               anchor[2] + 10 * std::sin(theta));
}

TEST_F(RingStackUpdate, SilenceGivesRightTrianglesAndFullLevelKeepsTheAlpha) {
  RingStack stack;
  stack.update(1.0f);
  stack.update(1.0f);
  for (int i : {0, 42, 99}) {
    const float* a = stack.vertexArray->vertex(3 * i);
    expectVertex(*stack.vertexArray, 3 * i + 1, a[0], a[1], a[2] + 10);
    expectVertex(*stack.vertexArray, 3 * i + 2, a[0] + 10, a[1], a[2]);
    expectColor(*stack.vertexArray, 3 * i, 0.25, 0.25, 0.125, 0.0625);
    expectColor(*stack.vertexArray, 3 * i + 2, 0.25, 0.25, 0.125, 0.0625);
  }
}

//----------------------------------------------------------------------------
// DiskSwarm and PillarGrid: sixteen bands over entries 50 to 289

using SwirlBands = SilentShow;

TEST_F(SwirlBands, DiskSwarmSmoothsTheMeansOfSixteenRunsOfFifteen) {
  DiskSwarm swarm;
  for (int k = 0; k < 16; ++k) {
    for (int e = 0; e < 15; ++e) spectrum[50 + 15 * k + e] = (k + 1) * (e + 1) / 4096.0f;
  }
  spectrum[49] = 1.0f;   // just outside band 0
  spectrum[290] = 1.0f;  // just outside band 15
  swarm.update(0.75f);
  for (int k = 0; k < 16; ++k) {
    const double mean = (k + 1) * 8 / 4096.0;  // the mean of 1 .. 15 is 8
    EXPECT_NEAR(swarm.bands[k], 0.3 * mean, 1e-7) << "band " << k;
  }
  EXPECT_EQ(swarm.level, 0.75f);
  swarm.update(1.0f);
  EXPECT_NEAR(swarm.bands[3], 0.3 * 32 / 4096.0 + 0.7 * 0.3 * 32 / 4096.0, 1e-7);
  EXPECT_EQ(swarm.level, 1.0f);
}

TEST_F(SwirlBands, PillarGridSmoothsTheSameBands) {
  PillarGrid grid;
  fillSpectrum(200, 15, 0.02f);  // band 10: entries 200 to 214
  grid.update(0.5f);
  EXPECT_NEAR(grid.bands[10], 0.3 * 0.02, 1e-8);
  EXPECT_EQ(grid.bands[9], 0.0f);
  EXPECT_EQ(grid.bands[11], 0.0f);
  EXPECT_EQ(grid.level, 0.5f);
}

TEST(PillarTint, SwitchesToWarmOnlyAboveTwoThousandths) {
  const PillarTint atThreshold = pillarTint(0.002f);
  EXPECT_FLOAT_EQ(atThreshold.red, 0.125f * 0.2f);
  EXPECT_FLOAT_EQ(atThreshold.green, 0.25f * 0.2f);
  EXPECT_FLOAT_EQ(atThreshold.blue, 0.5f * 0.2f);
  const PillarTint justAbove = pillarTint(std::nextafter(0.002f, 1.0f));
  EXPECT_GT(justAbove.red, justAbove.blue);
  EXPECT_NEAR(justAbove.red, 0.5 * 0.2, 1e-6);
  const PillarTint warm = pillarTint(0.01f);
  EXPECT_FLOAT_EQ(warm.red, 0.5f);
  EXPECT_FLOAT_EQ(warm.green, 0.25f);
  EXPECT_FLOAT_EQ(warm.blue, 0.125f);
  const PillarTint cool = pillarTint(0.001f);
  EXPECT_FLOAT_EQ(cool.red, 0.0125f);
  EXPECT_FLOAT_EQ(cool.green, 0.025f);
  EXPECT_FLOAT_EQ(cool.blue, 0.05f);
  const PillarTint dark = pillarTint(0.0f);
  EXPECT_EQ(dark.red + dark.green + dark.blue, 0.0f);
}
