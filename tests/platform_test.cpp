// The platform layer: the headless context and its read-back, the extruded glyph
// lists, the live audio cursor's arithmetic, and PNG output.
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL2/SDL.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/framebuffer.h"
#include "platform/glyphs.h"
#include "platform/headless.h"
#include "platform/image.h"
#include "platform/latency.h"
#include "platform/live.h"
#include "platform/play_cursor.h"
#include "platform/sdl.h"
#include "tests/probe.h"

namespace {

constexpr int frameWidth = 1024;
constexpr int frameHeight = 768;
const probe::Rgb black{0, 0, 0};
const probe::Rgb red{255, 0, 0};

// A fresh 1024x768 context per test, with pixel-exact orthographic coordinates
// (GL's own: x to the right, y upwards from the bottom row).
class HeadlessFrame : public ::testing::Test {
 protected:
  HeadlessContext context;

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(context.open(frameWidth, frameHeight, error)) << error;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, frameWidth, 0, frameHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
  }

  static void rectangle(float x0, float y0, float x1, float y1) {
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
  }
};

}  // namespace

//----------------------------------------------------------------------------------
// Headless context
//----------------------------------------------------------------------------------
TEST_F(HeadlessFrame, OpensAtTheRequestedSizeAndNamesItsRenderer) {
  EXPECT_EQ(context.width, frameWidth);
  EXPECT_EQ(context.height, frameHeight);
  EXPECT_STRNE(context.renderer(), "");
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], frameWidth);
  EXPECT_EQ(viewport[3], frameHeight);
  std::printf("renderer: %s, GL %s\n", context.renderer(), glGetString(GL_VERSION));
}

TEST_F(HeadlessFrame, ClearColourCoversEveryCorner) {
  glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const probe::Frame frame = probe::grab(context);
  const probe::Rgb expected = probe::fromFloats(0.2f, 0.4f, 0.6f);
  EXPECT_TRUE(probe::pixelIs(frame, 0, 0, expected));
  EXPECT_TRUE(probe::pixelIs(frame, frameWidth - 1, 0, expected));
  EXPECT_TRUE(probe::pixelIs(frame, 0, frameHeight - 1, expected));
  EXPECT_TRUE(probe::pixelIs(frame, frameWidth - 1, frameHeight - 1, expected));
}

TEST_F(HeadlessFrame, ReadBackPutsTheTopRowFirst) {
  // A red block in GL's upper half must come back in the image's first rows.
  glColor3f(1, 0, 0);
  rectangle(100, frameHeight / 2.0f, 300, frameHeight);
  const probe::Frame frame = probe::grab(context);
  EXPECT_TRUE(probe::rectIs(frame, 100, 0, 200, frameHeight / 2, red));
  EXPECT_TRUE(probe::rectIs(frame, 100, frameHeight / 2, 200, frameHeight / 2, black));
  EXPECT_TRUE(probe::pixelIs(frame, 99, 10, black));
  EXPECT_TRUE(probe::pixelIs(frame, 300, 10, black));
}

TEST_F(HeadlessFrame, SmoothShadingFadesWhiteToBlackAcrossALine) {
  // The fixed-function pipeline the show draws with: a colour ramp along a quad,
  // then a second quad added on top with additive blending.
  glShadeModel(GL_SMOOTH);
  glBegin(GL_QUADS);
  glColor3f(1, 1, 1);
  glVertex2f(0, 0);
  glColor3f(0, 0, 0);
  glVertex2f(frameWidth, 0);
  glVertex2f(frameWidth, 10);
  glColor3f(1, 1, 1);
  glVertex2f(0, 10);
  glEnd();
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glColor4f(0, 0, 1, 0.5f);
  rectangle(0, 20, frameWidth, 30);
  rectangle(0, 20, frameWidth, 30);
  glDisable(GL_BLEND);

  const probe::Frame frame = probe::grab(context);
  const int row = frameHeight - 5;  // GL rows 0..9 are the image's last ten
  for (int x : {0, 256, 512, 768, 1023}) {
    const float level = 1.0f - (x + 0.5f) / frameWidth;
    EXPECT_TRUE(probe::pixelIs(frame, x, row, probe::fromFloats(level, level, level)));
  }
  EXPECT_TRUE(probe::rectIs(frame, 0, frameHeight - 30, frameWidth, 10, probe::Rgb{0, 0, 255}));
}

TEST(HeadlessContext, RefusesAnEmptyFrameWithOneLine) {
  HeadlessContext context;
  std::string error;
  EXPECT_FALSE(context.open(0, 0, error));
  EXPECT_EQ(error.rfind("pulse165: headless rendering: ", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(HeadlessContext, ClosesTwiceAndOpensAgain) {
  HeadlessContext context;
  std::string error;
  ASSERT_TRUE(context.open(64, 32, error)) << error;
  context.close();
  context.close();
  ASSERT_TRUE(context.open(32, 64, error)) << error;
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_TRUE(probe::rectIs(probe::grab(context), 0, 0, 32, 64, red));
}

TEST(HeadlessContext, ClosingAnotherContextLeavesTheCurrentOneDrawing) {
  HeadlessContext first, second;
  std::string error;
  ASSERT_TRUE(first.open(16, 16, error)) << error;
  ASSERT_TRUE(second.open(24, 8, error)) << error;  // now the current one
  first.close();
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_TRUE(probe::rectIs(probe::grab(second), 0, 0, 24, 8, red));
}

//----------------------------------------------------------------------------------
// The offscreen picture, copied by blitting or, without a blit, as a textured quad
//----------------------------------------------------------------------------------
TEST_F(HeadlessFrame, APictureCopiesOntoAnotherFramebufferExactlyOrScaledByBlitAndByQuad) {
  constexpr int w = 64, h = 32;
  const probe::Rgb green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
  for (const bool quad : {false, true}) {
    SCOPED_TRACE(quad ? "textured quad" : "blit");
    if (quad) forgetFramebufferBlit();
    OffscreenPicture picture;
    std::string why;
    ASSERT_TRUE(picture.create(w, h, why)) << why;
    EXPECT_EQ(picture.colorIsTexture, quad);
    // Four quadrants, in GL's coordinates (y up): red and green below, blue and white above.
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, 0, h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    const float colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (int q = 0; q < 4; ++q) {
      glColor3fv(colours[q]);
      const float x = (q % 2) * w / 2.0f, y = (q / 2) * h / 2.0f;
      rectangle(x, y, x + w / 2.0f, y + h / 2.0f);
    }
    picture.copyTo(context.picture.framebuffer, 100, 200, w, h);          // the same size
    picture.copyTo(context.picture.framebuffer, 300, 100, 2 * w, 2 * h);  // twice the size
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], w) << "the copy leaves the viewport as it was";
    const probe::Frame f = probe::grab(context);
    // Image rows count down from the top: GL row y is image row 767 - y.
    EXPECT_TRUE(probe::rectIs(f, 100, 768 - 216, 32, 16, red, 0));
    EXPECT_TRUE(probe::rectIs(f, 132, 768 - 216, 32, 16, green, 0));
    EXPECT_TRUE(probe::rectIs(f, 100, 768 - 232, 32, 16, blue, 0));
    EXPECT_TRUE(probe::rectIs(f, 132, 768 - 232, 32, 16, white, 0));
    EXPECT_TRUE(probe::pixelIs(f, 99, 768 - 210, black, 0));
    // Scaled: each quadrant's inside, clear of the filtered seams.
    EXPECT_TRUE(probe::rectIs(f, 302, 638, 60, 28, red));
    EXPECT_TRUE(probe::rectIs(f, 366, 638, 60, 28, green));
    EXPECT_TRUE(probe::rectIs(f, 302, 606, 60, 28, blue));
    EXPECT_TRUE(probe::rectIs(f, 366, 606, 60, 28, white));
    EXPECT_TRUE(probe::pixelIs(f, 300 + 2 * w, 640, black, 0));
    picture.destroy();
  }
}

//----------------------------------------------------------------------------------
// Glyph lists
//----------------------------------------------------------------------------------
namespace {

class GlyphFrame : public HeadlessFrame {
 protected:
  void SetUp() override {
    HeadlessFrame::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    ASSERT_TRUE(buildGlyphLists(error)) << error;
    glListBase(fontListBase);
    glColor3f(1, 1, 1);
  }

  // Draws `text` with its baseline origin at (x, y) pixels, `em` pixels per em.
  static void draw(const char* text, float x, float y, float emWide, float emHigh) {
    glPushMatrix();
    glTranslatef(x, y, 0);
    glScalef(emWide, emHigh, 1);
    glCallLists(static_cast<GLsizei>(std::strlen(text)), GL_UNSIGNED_BYTE, text);
    glPopMatrix();
  }

  // The modelview's x translation: where the next glyph would start.
  static float penX() {
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    return m[12];
  }
};

}  // namespace

TEST_F(GlyphFrame, EveryCodeFromZeroTo126HasItsList) {
  for (int c = 0; c < fontGlyphCount; ++c) EXPECT_TRUE(glIsList(fontListBase + c)) << "code " << c;
  EXPECT_FALSE(glIsList(fontListBase + fontGlyphCount));
}

TEST_F(GlyphFrame, RingOfOLeavesItsHoleDark) {
  draw("o", 200, 200, 600, 600);
  const probe::Frame frame = probe::grab(context);
  const probe::Box box = probe::litBounds(frame);
  ASSERT_GT(box.width, 200);
  const int midRow = box.y + box.height / 2;
  const int midColumn = box.x + box.width / 2;
  EXPECT_EQ(probe::runsAlongRow(frame, midRow), ".#.#.");
  EXPECT_EQ(probe::runsAlongColumn(frame, midColumn), ".#.#.");
  EXPECT_TRUE(probe::pixelIs(frame, midColumn, midRow, black));
  EXPECT_TRUE(probe::pixelIs(frame, box.x + 10, midRow, probe::Rgb{255, 255, 255}));
}

TEST_F(GlyphFrame, EightHasTwoHolesAndEHasOne) {
  draw("8", 100, 150, 600, 600);
  const probe::Frame eight = probe::grab(context);
  const probe::Box box = probe::litBounds(eight);
  ASSERT_GT(box.height, 200);
  EXPECT_EQ(probe::runsAlongColumn(eight, box.x + box.width / 2), ".#.#.#.");

  glClear(GL_COLOR_BUFFER_BIT);
  draw("e", 100, 150, 600, 600);
  const probe::Frame e = probe::grab(context);
  const probe::Box eBox = probe::litBounds(e);
  ASSERT_GT(eBox.height, 200);
  // Down the middle of an "e": top stroke, the closed eye, the bar, the open mouth, the foot.
  const std::string runs = probe::runsAlongColumn(e, eBox.x + eBox.width / 2);
  EXPECT_EQ(runs, ".#.#.#.");
}

TEST_F(GlyphFrame, CaptionLightsEachLetterInItsOwnPlaceFromLeftToRight) {
  // A caption squeezed the way the show's titles are: narrow and tall.
  constexpr float originX = 40;
  constexpr float baseline = 300;
  constexpr float emWide = 90;
  constexpr float emHigh = 250;
  const char* text = "quorlbanze";
  const int length = static_cast<int>(std::strlen(text));

  std::vector<float> pen{originX};
  glPushMatrix();
  glTranslatef(originX, baseline, 0);
  glScalef(emWide, emHigh, 1);
  for (int i = 0; i < length; ++i) {
    if (i == 0)
      glColor3f(1, 0, 0);
    else if (i == length - 1)
      glColor3f(0, 1, 0);
    else
      glColor3f(1, 1, 1);
    glCallList(static_cast<GLuint>(fontListBase + text[i]));
    pen.push_back(penX());
  }
  glPopMatrix();
  const probe::Frame frame = probe::grab(context);

  // Advances run left to right, each a plausible letter width of a bold face.
  for (int i = 0; i < length; ++i) {
    const float advance = (pen[i + 1] - pen[i]) / emWide;
    EXPECT_GT(advance, 0.2f) << "'" << text[i] << "'";
    EXPECT_LT(advance, 1.0f) << "'" << text[i] << "'";
  }

  // Nothing outside the string's box: from the first pen position to the last,
  // from a descender below the baseline to a cap above it (image rows grow down).
  const probe::Box box = probe::litBounds(frame);
  ASSERT_GT(box.width, 0);
  EXPECT_GE(box.x, static_cast<int>(originX) - 1);
  EXPECT_LE(box.x + box.width, static_cast<int>(pen.back()) + 1);
  EXPECT_GE(box.y, static_cast<int>(frameHeight - baseline - 0.8f * emHigh));
  EXPECT_LE(box.y + box.height, static_cast<int>(frameHeight - baseline + 0.3f * emHigh));

  // Each letter lights pixels within its own advance.
  const int top = frameHeight - static_cast<int>(baseline + 0.8f * emHigh);
  const int rows = static_cast<int>(1.1f * emHigh);
  for (int i = 0; i < length; ++i) {
    const int left = static_cast<int>(pen[i]) + 1;
    const int width = static_cast<int>(pen[i + 1]) - left - 1;
    EXPECT_GT(probe::litCount(frame, left, top, width, rows), width * rows / 10) << "'" << text[i] << "'";
  }

  // The red first letter lies wholly left of the green last one.
  int redRight = -1, greenLeft = frameWidth;
  for (int y = 0; y < frameHeight; ++y)
    for (int x = 0; x < frameWidth; ++x) {
      const probe::Rgb c = frame.at(x, y);
      if (c.r > 128 && c.g < 64 && x > redRight) redRight = x;
      if (c.g > 128 && c.r < 64 && x < greenLeft) greenLeft = x;
    }
  ASSERT_GE(redRight, 0);
  EXPECT_LT(redRight, greenLeft);
}

TEST_F(GlyphFrame, ExtrusionIsOneEmDeep) {
  // Seen edge-on (turned a quarter about the vertical axis), only the side walls
  // show, as a band as wide as the extrusion is deep.
  constexpr float em = 300;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, frameWidth, 0, frameHeight, -1000, 1000);
  glMatrixMode(GL_MODELVIEW);
  glTranslatef(600, 300, 0);
  glScalef(em, em, em);
  glRotatef(90, 0, 1, 0);
  glCallList(fontListBase + 'H');
  const probe::Box box = probe::litBounds(probe::grab(context));
  EXPECT_NEAR(box.width, em, 2);
  EXPECT_EQ(box.x, 600 - static_cast<int>(em));
}

TEST_F(GlyphFrame, ControlCodesDrawNothing) {
  const char controls[] = {1, 2, 9, 10, 13, 27, 31, 0};
  draw(controls, 100, 300, 400, 400);
  EXPECT_EQ(probe::litBounds(probe::grab(context)).width, 0);
}

//----------------------------------------------------------------------------------
// Play cursor
//----------------------------------------------------------------------------------
namespace {

constexpr std::uint64_t msNs = 1'000'000;
constexpr std::uint32_t latency = 1024;

}  // namespace

TEST(PlayCursor, InterpolatesBetweenCallbacksWithinItsBounds) {
  struct Case {
    const char* what;
    std::uint32_t before, after;
    std::uint64_t elapsedNs;
    std::uint32_t lastReported, expected;
  };
  const Case cases[] = {
      {"nothing handed over yet", 0, 0, 50 * msNs, 0, 0},
      {"first buffer still ahead of the device's buffering", 0, 1024, 10 * msNs, 0, 0},
      {"second callback, at its moment", 1024, 2048, 0, 0, 0},
      {"10 ms after the second callback", 1024, 2048, 10 * msNs, 0, 441},
      {"20 ms after the second callback", 1024, 2048, 20 * msNs, 0, 882},
      {"a late callback: capped at what was handed over", 1024, 2048, 50 * msNs, 0, 1024},
      {"never below what was reported", 1024, 2048, 10 * msNs, 900, 900},
      {"mid-track", 441000, 442024, 5 * msNs, 0, 441000 - 1024 + 220},
      {"a stalled device for an hour stays capped", 5000, 6024, 3'600'000 * msNs, 0, 5000},
  };
  const std::uint64_t callbackNs = 7'000 * msNs;
  for (const Case& c : cases)
    EXPECT_EQ(interpolatePlayCursor(c.before, c.after, callbackNs, callbackNs + c.elapsedNs, latency, c.lastReported),
              c.expected)
        << c.what;
}

TEST(Latency, TheSoundHeardIsWhatWasHandedOverLessTheServersLatencyNeverBackwardsNorPastTheEnd) {
  struct Case {
    const char* what;
    std::uint32_t handedOver, latency, lastReported, expected;
  };
  const Case cases[] = {
      {"the stream filling before it plays", 1764, 1764, 0, 0},
      {"a reported latency of 40 ms", 44100, 1764, 0, 42336},
      {"the latency grows (a Bluetooth sink): held, not backwards", 44100, 8820, 42336, 42336},
      {"the latency shrinks: the position jumps ahead with it", 44100, 441, 42336, 43659},
      {"a seek's frame holds while the old sound drains", 100000 + 500, 1764, 100000, 100000},
      {"past the track's end: its last frame", 200000, 1764, 0, 150000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(heardFrame(c.handedOver, c.latency, c.lastReported, 150000), c.expected) << c.what;
  EXPECT_EQ(microsecondsToFrames(40'000), 1764u);
  EXPECT_EQ(microsecondsToFrames(11), 0u);
  EXPECT_EQ(microsecondsToFrames(12), 1u);  // 0.53 frames rounds up
}

TEST(Latency, TheFrameIsAimedAtTheSoundHeardWhenItIsSeenAndTheViewersOffset) {
  PictureDelay delay;
  EXPECT_EQ(delay.delayNs(), 0u) << "nothing measured yet";
  delay.add(0, 8 * msNs);
  EXPECT_EQ(delay.delayNs(), 8 * msNs) << "the first frame sets it";
  delay.add(100 * msNs, 116 * msNs);
  EXPECT_EQ(delay.delayNs(), 9 * msNs) << "each frame an eighth of the way";
  delay.add(200 * msNs, 199 * msNs);
  delay.add(300 * msNs, 300 * msNs + 3'600'000 * msNs);
  EXPECT_LT(delay.delayNs(), 50 * msNs) << "a swap before its read is no measure; a stall counts at most 250 ms";
  PictureDelay vsync;
  vsync.refreshNs = 16'666'667;
  vsync.add(0, 4 * msNs);
  EXPECT_EQ(vsync.delayNs(), 4 * msNs + 8'333'333) << "on average half a refresh more where swaps wait for it";
  PictureDelay paced;
  for (std::uint64_t swap : {20, 40, 60, 1060, 1084}) paced.add(swap * msNs - 5 * msNs, swap * msNs);
  EXPECT_EQ(paced.shownNs, 20.5 * msNs) << "each frame is seen until the next swap; a pause is no frame's time";

  struct Case {
    const char* what;
    std::uint32_t heard;
    std::uint64_t delayNs;
    int offsetMs;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"no delay, no offset", 44100, 0, 0, 44100},
      {"a frame seen 10 ms after its read", 44100, 10 * msNs, 0, 44541},
      {"an offset of +40 ms waits for a late sound", 44100, 10 * msNs, 40, 44100 - 1323},
      {"a negative offset runs ahead of a slow display", 44100, 0, -100, 48510},
      {"never before the start", 100, 0, 1000, 0},
      {"never past the end", 149900, 20 * msNs, 0, 150000},
  };
  for (const Case& c : cases) EXPECT_EQ(aimedPosition(c.heard, c.delayNs, c.offsetMs, 150000), c.expected) << c.what;
}

TEST(PlayCursor, ClockReadBeforeTheCallbackStampCountsAsNoTime) {
  EXPECT_EQ(interpolatePlayCursor(4096, 5120, 1000 * msNs, 999 * msNs, latency, 0), 3072u);
}

namespace {

// A play cursor driven by hand: callbacks of 1024 frames exactly on time, a reader
// every 1/60 s, as the frame loop would be.
struct SimulatedPlayback {
  std::vector<float> track;
  PlayCursor audio;
  std::vector<float> out = std::vector<float>(2 * 1024);
  std::uint64_t nextCallbackNs = 0;
  std::uint64_t startNs = 1'000 * msNs;

  explicit SimulatedPlayback(std::uint32_t frames) : track(2 * static_cast<std::size_t>(frames)) {
    for (std::size_t i = 0; i < track.size(); ++i) track[i] = 1.0f + static_cast<float>(i);
    audio.frames = track.data();
    audio.frameCount = frames;
    audio.latencyFrames.store(latency);
    nextCallbackNs = startNs;
  }

  std::uint32_t readAt(std::uint64_t nowNs) {
    while (nextCallbackNs <= nowNs) {
      audio.fill(out.data(), 1024, nextCallbackNs);
      nextCallbackNs += 1024ull * 1'000'000'000ull / 44100;
    }
    return audio.positionAt(nowNs);
  }
};

}  // namespace

TEST(PlayCursor, RisesSmoothlyFrameByFrameAndStopsExactlyAtTheEnd) {
  constexpr std::uint32_t frames = 3 * 44100 + 333;  // not a whole number of buffers
  SimulatedPlayback playback(frames);
  constexpr std::uint64_t frameNs = 1'000'000'000ull / 60;

  std::uint32_t previous = playback.readAt(playback.startNs);
  EXPECT_EQ(previous, 0u);
  int smallest = 1 << 30, largest = 0;
  for (int n = 1; n < 4 * 60; ++n) {
    const std::uint32_t now = playback.readAt(playback.startNs + n * frameNs);
    ASSERT_GE(now, previous) << "frame " << n;
    ASSERT_LE(now, frames);
    const int step = static_cast<int>(now - previous);
    // Past the first buffer and before the end, every frame moves about 735 frames.
    if (now > 2048 && now < frames) {
      if (step < smallest) smallest = step;
      if (step > largest) largest = step;
    }
    previous = now;
  }
  EXPECT_GE(smallest, 700);
  EXPECT_LE(largest, 770);
  EXPECT_EQ(previous, frames);
  EXPECT_EQ(playback.readAt(playback.startNs + 3600 * 1'000 * msNs), frames);
}

TEST(PlayCursor, CallbackCopiesTheTrackThenSilence) {
  constexpr std::uint32_t frames = 1500;
  SimulatedPlayback playback(frames);
  playback.audio.fill(playback.out.data(), 1024, 0);
  EXPECT_EQ(std::memcmp(playback.out.data(), playback.track.data(), 2 * 1024 * sizeof(float)), 0);
  playback.audio.fill(playback.out.data(), 1024, 0);
  EXPECT_EQ(std::memcmp(playback.out.data(), playback.track.data() + 2 * 1024, 2 * 476 * sizeof(float)), 0);
  for (std::size_t i = 2 * 476; i < playback.out.size(); ++i) ASSERT_EQ(playback.out[i], 0.0f) << i;
  EXPECT_EQ(playback.audio.handedOver.load(), 2048u);
  EXPECT_EQ(playback.audio.handedBefore.load(), 1024u);
}

TEST(PlayCursor, ASeekHoldsThePositionUntilTheDevicePlaysTheNewPlaceThenRisesFromIt) {
  constexpr std::uint32_t frames = 10 * 44100;
  constexpr std::uint64_t frameNs = 1'000'000'000ull / 60;
  SimulatedPlayback playback(frames);
  std::uint64_t now = playback.startNs;
  for (int n = 0; n < 60; ++n) playback.readAt(now += frameNs);  // a second in
  for (const std::uint32_t target : {5u * 44100, 2u * 44100 + 17, 0u, frames}) {
    SCOPED_TRACE(target);
    playback.audio.moveCursor(target);
    EXPECT_EQ(playback.audio.positionAt(now), target);
    // The next buffer the device asks for starts at the new place.
    now = playback.nextCallbackNs;
    EXPECT_EQ(playback.readAt(now), target) << "held while the device plays what it had";
    const std::uint32_t copied = frames - target < 1024 ? frames - target : 1024;
    EXPECT_EQ(std::memcmp(playback.out.data(), playback.track.data() + 2 * static_cast<std::size_t>(target),
                          2 * copied * sizeof(float)),
              0);
    std::uint32_t previous = target;
    for (int n = 0; n < 30; ++n) {
      const std::uint32_t p = playback.readAt(now += frameNs);
      ASSERT_GE(p, previous);
      previous = p;
    }
    // Half a second later, less the device's buffering (and the wait for its callback).
    if (target < frames) {
      EXPECT_GE(previous - target, 22050u - 2 * latency);
      EXPECT_LE(previous - target, 22050u - latency + 1);
    } else {
      EXPECT_EQ(previous, frames);
    }
  }
}

TEST(PlayCursor, AQueuedTrackFollowsTheLastFrameWithoutAGapAndThePositionCountsInIt) {
  SimulatedPlayback playback(1500);
  std::vector<float> next(2 * (3000 + 512));
  for (std::size_t i = 0; i < next.size(); ++i) next[i] = -1.0f - static_cast<float>(i);
  playback.audio.fill(playback.out.data(), 1024, 0);
  playback.audio.queueTrack(next.data(), 3000);
  playback.audio.fill(playback.out.data(), 1024, 1);
  // The first track's last 476 frames, then the next one's first 548.
  EXPECT_EQ(std::memcmp(playback.out.data(), playback.track.data() + 2 * 1024, 2 * 476 * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(playback.out.data() + 2 * 476, next.data(), 2 * 548 * sizeof(float)), 0);
  EXPECT_EQ(playback.audio.tracksBegun.load(), 1u);
  EXPECT_EQ(playback.audio.handedOver.load(), 548u);
  // The reader's position, far along the first track, starts again in the second.
  playback.audio.lastReported = 1400;
  EXPECT_LE(playback.audio.positionAt(1), 548u);
  EXPECT_EQ(playback.audio.tracksSeen, 1u);
  playback.audio.fill(playback.out.data(), 1024, 2);
  EXPECT_EQ(std::memcmp(playback.out.data(), next.data() + 2 * 548, 2 * 1024 * sizeof(float)), 0);
  // A change of track forgets what was queued.
  playback.audio.queueTrack(playback.track.data(), 1500);
  playback.audio.changeTrack(next.data(), 3000);
  EXPECT_EQ(playback.audio.nextFrames, nullptr);
}

TEST(PlayCursor, MutedCallbacksHandOverSilenceAndTheCursorRunsOn) {
  SimulatedPlayback playback(4096);
  playback.audio.muted.store(true);
  playback.audio.fill(playback.out.data(), 1024, 0);
  for (float sample : playback.out) ASSERT_EQ(sample, 0.0f);
  EXPECT_EQ(playback.audio.handedOver.load(), 1024u);
  playback.audio.muted.store(false);
  playback.audio.fill(playback.out.data(), 1024, 0);
  EXPECT_EQ(std::memcmp(playback.out.data(), playback.track.data() + 2 * 1024, 2 * 1024 * sizeof(float)), 0);
}

TEST(PlayCursor, ReaderOnAnotherThreadSeesItRiseToTheEndUnderRunningCallbacks) {
  // The callback publishes while the frame loop reads: the cursor never runs
  // backwards, never passes what was handed over, and still ends on the last frame.
  constexpr std::uint32_t frames = 1 << 20;
  constexpr std::uint32_t perCallback = 64;
  std::vector<float> track(2 * static_cast<std::size_t>(frames), 0.25f);
  PlayCursor audio;
  audio.frames = track.data();
  audio.frameCount = frames;
  audio.latencyFrames.store(0);
  std::atomic<bool> done{false};
  std::thread callback([&] {
    std::vector<float> out(2 * perCallback);
    while (!done.load()) audio.fill(out.data(), perCallback, monotonicNanoseconds());
  });
  std::uint32_t previous = 0;
  const std::uint64_t giveUpNs = monotonicNanoseconds() + 20'000 * msNs;
  while (previous < frames && monotonicNanoseconds() < giveUpNs) {
    const std::uint32_t now = audio.positionAt(monotonicNanoseconds());
    const std::uint32_t handed = audio.handedOver.load();
    if (now < previous || now > handed) {
      ADD_FAILURE() << "cursor " << now << " after " << previous << " with " << handed << " handed over";
      break;
    }
    previous = now;
  }
  done.store(true);
  callback.join();
  EXPECT_EQ(previous, frames);
}

//----------------------------------------------------------------------------------
// Live window input and live audio, on SDL's display-less drivers asked for by name
//----------------------------------------------------------------------------------
namespace {

class OffscreenWindow : public ::testing::Test {
 protected:
  LiveWindow window;

  void SetUp() override {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    window.fullScreen = false;
    window.requestWidth = 640;
    window.requestHeight = 360;
    std::string error;
    ASSERT_TRUE(window.open(error)) << error;
    WindowEvents creation;
    window.takeEvents(creation);  // whatever the window's creation queued
  }

  WindowEvents take() {
    WindowEvents events;
    window.takeEvents(events);
    return events;
  }

  void TearDown() override {
    window.close();
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
  }

  static void pushKey(SDL_Keycode key, Uint16 modifiers = KMOD_NONE) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    event.key.keysym.mod = modifiers;
    SDL_PushEvent(&event);
  }

  static void pushMouseMotion(int count) {
    for (int i = 0; i < count; ++i) {
      SDL_Event event;
      std::memset(&event, 0, sizeof event);
      event.type = SDL_MOUSEMOTION;
      event.motion.x = i;
      SDL_PushEvent(&event);
    }
  }
};

}  // namespace

TEST_F(OffscreenWindow, WindowedShowDrawsIntoAPictureOfTheRequestedClientSize) {
  EXPECT_EQ(window.clientWidth, 640);
  EXPECT_EQ(window.clientHeight, 360);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 640);
  EXPECT_EQ(viewport[3], 360);
  ASSERT_NE(window.picture.framebuffer, 0u);
  EXPECT_EQ(window.picture.width, 640);
  EXPECT_EQ(window.picture.height, 360);
  GLint bound = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
  EXPECT_EQ(static_cast<unsigned>(bound), window.picture.framebuffer);
}

TEST_F(OffscreenWindow, EscapeEndsTheShowEvenBehindABusyQueue) {
  pushMouseMotion(200);
  pushKey(SDLK_ESCAPE);
  const WindowEvents events = take();
  ASSERT_EQ(events.actionCount, 1);
  EXPECT_EQ(events.actions[0], KeyAction::end);
  EXPECT_EQ(take().actionCount, 0) << "the queue was drained";
}

TEST_F(OffscreenWindow, KeysArriveAsActionsInTheirOrderAndOtherInputIsIgnored) {
  pushMouseMotion(5);
  pushKey(SDLK_x);
  pushKey(SDLK_SPACE);
  pushKey(SDLK_RIGHT, KMOD_LSHIFT);
  pushKey(SDLK_q);
  const WindowEvents events = take();
  ASSERT_EQ(events.actionCount, 3);
  EXPECT_EQ(events.actions[0], KeyAction::pause);
  EXPECT_EQ(events.actions[1], KeyAction::phraseForward);
  EXPECT_EQ(events.actions[2], KeyAction::end);
  EXPECT_FALSE(events.closeRequested);
}

TEST_F(OffscreenWindow, CloseRequestsEndIt) {
  SDL_Event event;
  std::memset(&event, 0, sizeof event);
  event.type = SDL_WINDOWEVENT;
  event.window.event = SDL_WINDOWEVENT_CLOSE;
  event.window.windowID = SDL_GetWindowID(sdlWindow(window));
  SDL_PushEvent(&event);
  EXPECT_TRUE(take().closeRequested);

  std::memset(&event, 0, sizeof event);
  event.type = SDL_QUIT;
  SDL_PushEvent(&event);
  EXPECT_TRUE(take().closeRequested);
}

TEST(LiveWindow, WithoutAnyDisplayRefusesWithOneLinePointingToHeadlessOptions) {
  // Without a display SDL falls back on drivers that draw nowhere; unasked for,
  // the show must refuse them rather than play to nobody.
  struct HiddenVariable {
    const char* name;
    std::string saved;
    bool was = false;
    explicit HiddenVariable(const char* variable) : name(variable) {
      if (const char* value = std::getenv(name)) {
        saved = value;
        was = true;
      }
      unsetenv(name);
    }
    ~HiddenVariable() {
      if (was) setenv(name, saved.c_str(), 1);
    }
  };
  HiddenVariable display("DISPLAY"), wayland("WAYLAND_DISPLAY"), driver("SDL_VIDEODRIVER");
  LiveWindow window;
  std::string error;
  if (window.open(error)) GTEST_SKIP() << "a display was found without X11 or Wayland (a KMS console?)";
  EXPECT_EQ(error.rfind("pulse165: cannot open the show window: ", 0), 0u) << error;
  EXPECT_NE(error.find("try --screenshot"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(LiveAudio, DummyDevicePlaysTheTrackToExactlyItsLastFrame) {
  SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
  constexpr std::uint32_t frames = 4410 + 17;  // a tenth of a second and a bit
  std::vector<float> track(2 * frames, 0.5f);
  LiveAudio audio;
  std::string error;
  ASSERT_TRUE(audio.open(track.data(), frames, error)) << error;
  EXPECT_GT(audio.latency(), 0u);
  EXPECT_EQ(audio.position(), 0u);
  audio.start();
  std::uint32_t previous = 0;
  const std::uint64_t giveUpNs = monotonicNanoseconds() + 5'000 * msNs;
  while (previous < frames && monotonicNanoseconds() < giveUpNs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::uint32_t now = audio.position();
    ASSERT_GE(now, previous);
    previous = now;
  }
  EXPECT_EQ(previous, frames);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(audio.position(), frames) << "stays at the end";
  audio.close();
  SDL_SetHint(SDL_HINT_AUDIODRIVER, nullptr);
}

//----------------------------------------------------------------------------------
// PNG output
//----------------------------------------------------------------------------------
namespace {

struct ScratchDirectory {
  std::filesystem::path path;
  ScratchDirectory() {
    char pattern[] = "/tmp/pulse165-png-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path); }
  int entries() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      (void)entry;
      ++count;
    }
    return count;
  }
};

std::vector<std::uint8_t> testPattern(int width, int height) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(x * 37 + y);
      p[1] = static_cast<std::uint8_t>(y * 53 + 7);
      p[2] = static_cast<std::uint8_t>((x ^ y) * 11);
      p[3] = static_cast<std::uint8_t>(x + y);  // dropped in the file
    }
  return rgba;
}

}  // namespace

TEST(PngOutput, RoundTripKeepsEveryPixelAsRgb) {
  ScratchDirectory dir;
  constexpr int width = 13, height = 7;
  const std::vector<std::uint8_t> rgba = testPattern(width, height);
  const std::string path = (dir.path / "shot.png").string();
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(file, 0);
  std::string why;
  EXPECT_TRUE(writePng(file, rgba.data(), width, height, why)) << why;
  close(file);

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
  EXPECT_EQ(image.width, static_cast<png_uint_32>(width));
  EXPECT_EQ(image.height, static_cast<png_uint_32>(height));
  EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));  // 8-bit colour, no alpha
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
  for (int i = 0; i < width * height; ++i)
    for (int channel = 0; channel < 3; ++channel)
      ASSERT_EQ(rgb[i * 3 + channel], rgba[i * 4 + channel]) << "pixel " << i << " channel " << channel;
}

TEST(PngOutput, AFailedWriteGivesTheSystemsReason) {
  const std::vector<std::uint8_t> rgba = testPattern(64, 64);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  std::string why;
  EXPECT_FALSE(writePng(full, rgba.data(), 64, 64, why));
  close(full);
  EXPECT_EQ(why, std::strerror(ENOSPC));
}
