// The player: where its seeks land, which key does what, the frame-rate watch, the
// overlay's text and how it breaks to the window's width, and the silent clock's seeks
// and pauses.
#include "show/player.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "audio/playback.h"
#include "platform/keys.h"
#include "platform/text_atlas.h"
#include "show/frame.h"
#include "show/live_loop.h"
#include "show/music_source.h"
#include "show/schedule.h"
#include "show/seek.h"

namespace {

// The first frame of a beat, found from the beat clock alone.
std::uint32_t beatStart(int beat) {
  std::uint32_t p = static_cast<std::uint32_t>(std::ceil(beat * 16036.363636363636));
  while (p > 0 && beatClockAt(p - 1).beat >= beat) --p;
  while (beatClockAt(p).beat < beat) ++p;
  return p;
}

constexpr std::uint32_t framesPerBeat = 16036;  // 44,100 x 60 / 165, rounded down

}  // namespace

TEST(Seek, FirstPositionOfBeatIsTheBeatClocksFirstFrameOfThatBeat) {
  for (int beat : {0, 1, 63, 64, 192, 288, 491, 492}) {
    EXPECT_EQ(firstPositionOfBeat(beat), beatStart(beat)) << beat;
  }
  // Half a beat in: the first frame whose beat position reaches it.
  const std::uint32_t half = firstPositionOfBeat(288.5);
  EXPECT_GE(static_cast<double>(half) * beatsPerSample, 288.5);
  EXPECT_LT(static_cast<double>(half - 1) * beatsPerSample, 288.5);
  EXPECT_EQ(firstPositionOfBeat(-3), 0u);
  EXPECT_EQ(firstPositionOfBeat(10000), playbackFrameCount);
}

TEST(Seek, StepsOfBarsAndSixteenBeatsKeepThePlaceInTheBeatAndClampAtBothEnds) {
  const std::uint32_t last = beatStart(492);
  struct Case {
    const char* what;
    std::uint32_t from;
    int beats;
    std::uint32_t expected;
  };
  for (const Case c : {
           Case{"a bar on", beatStart(100), 4, beatStart(104)},
           Case{"a bar back", beatStart(100), -4, beatStart(96)},
           Case{"16 beats on", beatStart(100), 16, beatStart(116)},
           Case{"16 beats back", beatStart(100), -16, beatStart(84)},
           Case{"back from the second beat", beatStart(2), -4, 0},
           Case{"back from the start", 0, -16, 0},
           Case{"on past the end", beatStart(490), 4, last},
           Case{"16 on past the end", beatStart(480), 16, last},
           Case{"on from the very end stays", playbackFrameCount, 4, playbackFrameCount},
           Case{"back from the very end", playbackFrameCount, -4, beatStart(488) + (playbackFrameCount - last)},
       }) {
    EXPECT_EQ(stepBeats(c.from, c.beats), c.expected) << c.what;
  }
  // Within a beat the step keeps the phase, to a frame.
  const std::uint32_t within = beatStart(200) + 5000;
  const std::uint32_t back = stepBeats(within, -4);
  EXPECT_NEAR(static_cast<double>(within - back), 4 * 44100.0 * 60.0 / 165.0, 1.0);
  EXPECT_EQ(beatClockAt(back).beat, 196);
}

TEST(Seek, SceneStepsLandOnTheFirstFrameOfTheNeighbouringScene) {
  const std::uint32_t last = beatStart(492);
  struct Case {
    const char* what;
    std::uint32_t from;
    std::uint32_t previous;
    std::uint32_t next;
  };
  for (const Case c : {
           Case{"the start", 0, 0, beatStart(64)},
           Case{"inside scene 1", beatStart(40) + 123, 0, beatStart(64)},
           Case{"the last frame of scene 1", beatStart(64) - 1, 0, beatStart(64)},
           Case{"the first frame of scene 2", beatStart(64), 0, beatStart(128)},
           Case{"inside scene 5", beatStart(300), beatStart(192), beatStart(352)},
           Case{"the four beats of scene 7", beatStart(417), beatStart(352), beatStart(420)},
           Case{"the last scene", beatStart(488), beatStart(420), last},
           Case{"the very end", playbackFrameCount, beatStart(420), playbackFrameCount},
       }) {
    EXPECT_EQ(previousSceneStart(c.from), c.previous) << c.what;
    EXPECT_EQ(nextSceneStart(c.from), c.next) << c.what;
  }
  // Page Down three times from the start: the claim, scene 4.
  std::uint32_t p = 0;
  for (int i = 0; i < 3; ++i) p = nextSceneStart(p);
  EXPECT_EQ(sceneForBeat(beatClockAt(p).beat), 4);
  EXPECT_EQ(sceneFirstBeat(beatClockAt(p).beat), 192);
}

TEST(Keys, EachKeyWithItsModifiersActsOnceAndOnlyTheSeeksAndEndRepeat) {
  struct Case {
    SDL_Keycode key;
    unsigned modifiers;
    bool repeat;
    KeyAction expected;
  };
  for (const Case c : {
           Case{SDLK_ESCAPE, KMOD_NONE, false, KeyAction::end},
           Case{SDLK_ESCAPE, KMOD_LCTRL, true, KeyAction::end},
           Case{SDLK_q, KMOD_NONE, false, KeyAction::end},
           Case{SDLK_q, KMOD_CAPS, false, KeyAction::end},
           Case{SDLK_q, KMOD_LCTRL, false, KeyAction::none},
           Case{SDLK_SPACE, KMOD_NUM, false, KeyAction::pause},
           Case{SDLK_SPACE, KMOD_NONE, true, KeyAction::none},
           Case{SDLK_LEFT, KMOD_NONE, false, KeyAction::barBack},
           Case{SDLK_RIGHT, KMOD_NONE, true, KeyAction::barForward},
           Case{SDLK_LEFT, KMOD_RSHIFT, false, KeyAction::phraseBack},
           Case{SDLK_RIGHT, KMOD_LSHIFT, true, KeyAction::phraseForward},
           Case{SDLK_RIGHT, KMOD_LALT, false, KeyAction::none},
           Case{SDLK_PAGEUP, KMOD_NONE, false, KeyAction::previousScene},
           Case{SDLK_PAGEDOWN, KMOD_NONE, false, KeyAction::nextScene},
           Case{SDLK_HOME, KMOD_NONE, false, KeyAction::showStart},
           Case{SDLK_f, KMOD_NONE, false, KeyAction::fullScreen},
           Case{SDLK_F11, KMOD_NONE, false, KeyAction::fullScreen},
           Case{SDLK_RETURN, KMOD_LALT, false, KeyAction::fullScreen},
           Case{SDLK_RETURN, KMOD_NONE, false, KeyAction::none},
           Case{SDLK_f, KMOD_NONE, true, KeyAction::none},
           Case{SDLK_m, KMOD_NONE, false, KeyAction::mute},
           Case{SDLK_i, KMOD_NONE, false, KeyAction::overlay},
           Case{SDLK_LEFTBRACKET, KMOD_NONE, false, KeyAction::pictureEarlier},
           Case{SDLK_RIGHTBRACKET, KMOD_NONE, true, KeyAction::pictureLater},
           Case{SDLK_n, KMOD_NONE, false, KeyAction::nextSong},
           Case{SDLK_p, KMOD_NONE, true, KeyAction::none},
           Case{SDLK_x, KMOD_NONE, false, KeyAction::none},
       }) {
    EXPECT_EQ(keyAction(c.key, c.modifiers, c.repeat), c.expected)
        << SDL_GetKeyName(c.key) << " modifiers " << c.modifiers << (c.repeat ? " repeated" : "");
  }
  // < and > by the character typed, whatever key typed it.
  EXPECT_EQ(textAction(">"), KeyAction::nextSong);
  EXPECT_EQ(textAction("<"), KeyAction::previousSong);
  EXPECT_EQ(textAction("<<"), KeyAction::none);
  EXPECT_EQ(textAction("n"), KeyAction::none);
}

TEST(FrameTimes, TheMedianOverTheLastTwoSecondsJudgesTheRendererWhenItSpansThem) {
  constexpr std::uint64_t ms = 1'000'000;
  struct Case {
    const char* what;
    std::uint64_t frameNs;
    std::uint64_t drawNs;
    int frames;
    bool complete;
    double frameMs;
  };
  for (const Case c : {
           Case{"60 frames a second for three seconds", 16'667'000, 4 * ms, 180, true, 16.667},
           Case{"11 frames a second for three seconds", 90 * ms, 88 * ms, 33, true, 90.0},
           Case{"one second only", 40 * ms, 39 * ms, 25, false, 40.0},
           Case{"more frames than the ring holds", 2 * ms, 1 * ms, 2000, true, 2.0},
       }) {
    FrameTimes times;
    std::uint64_t start = 5'000 * ms;
    for (int n = 0; n < c.frames; ++n, start += c.frameNs) times.add(start, start + c.drawNs);
    const FrameTimes::Summary s = times.summary(slowSpanNs);
    EXPECT_EQ(s.complete, c.complete) << c.what;
    EXPECT_NEAR(s.frameMs, c.frameMs, 0.01) << c.what;
    EXPECT_NEAR(s.drawMs, static_cast<double>(c.drawNs) / ms, 0.01) << c.what;
  }
  // A few long frames among fast ones do not move the median; older frames than two
  // seconds do not count.
  FrameTimes times;
  std::uint64_t start = 0;
  for (int n = 0; n < 200; ++n, start += 100 * ms) times.add(start, start);  // 20 s at 10 frames a second
  for (int n = 0; n < 150; ++n) {
    start += n % 10 == 0 ? 300 * ms : 10 * ms;
    times.add(start, start);
  }
  EXPECT_NEAR(times.summary(slowSpanNs).frameMs, 10.0, 0.01);
  times.clear();
  EXPECT_EQ(times.summary(slowSpanNs).frameMs, 0.0);
}

TEST(Overlay, NamesTimeBeatPhaseSceneRateAndRendererAndTheSlowNoteOnlyWhenGiven) {
  OverlayLines out;
  const std::uint32_t position = static_cast<std::uint32_t>(83.45 * sampleRate);  // 1:23.45, beat 229
  formatOverlay(out, position, FrameTimes::Summary{20.0, 12.5, true}, "llvmpipe", true, false, 0);
  ASSERT_EQ(out.count, 3);
  const BeatClock clock = beatClockAt(position);
  char expected[160];
  std::snprintf(expected, sizeof expected, "1:23.4 of 2:59   beat 229   phase %.2f   scene 4   paused",
                static_cast<double>(clock.beatPhase));
  EXPECT_STREQ(out.lines[0], expected);
  EXPECT_STREQ(out.lines[1], "50.0 frames per second   20.0 ms a frame (12.5 ms drawing)");
  EXPECT_STREQ(out.lines[2], "llvmpipe");

  formatOverlay(out, playbackFrameCount, FrameTimes::Summary{0, 0, false}, "x", false, true, 11.2);
  ASSERT_EQ(out.count, 4);
  EXPECT_EQ(std::string(out.lines[0]).rfind("2:59.0 of 2:59   beat 492", 0), 0u) << out.lines[0];
  EXPECT_NE(std::string(out.lines[0]).find("muted"), std::string::npos);
  EXPECT_STREQ(out.lines[1], "frames per second: measuring");
  EXPECT_NE(std::string(out.lines[3]).find("cannot keep up (11 frames per second)"), std::string::npos) << out.lines[3];

  // With sound, a line on the way from the sound to the picture, before the renderer.
  const OverlaySync sync{true, 34.6, "from the sound server", 8.2, -20};
  formatOverlay(out, position, FrameTimes::Summary{20.0, 12.5, true}, "llvmpipe", false, false, 0, sync);
  ASSERT_EQ(out.count, 4);
  EXPECT_STREQ(out.lines[2],
               "sound delay 35 ms (from the sound server)   picture delay 8 ms   offset -20 ms ([ and ])");
  EXPECT_STREQ(out.lines[3], "llvmpipe");

  // Listening: the show's beat and the one heard, the source, the tempo and how sure,
  // and the note of a key that does nothing; before any music, that it waits.
  playMusic(listeningMusic());
  OverlayListen listen{true, "Monitor of Null Output", 127.94, true, true, false, 12, 3.4, "m does nothing"};
  formatOverlay(out, 0, FrameTimes::Summary{20.0, 12.5, true}, "llvmpipe", true, false, 0, {}, listen);
  ASSERT_EQ(out.count, 5);
  EXPECT_STREQ(out.lines[0], "beat 0 (heard 0)   phase 1.00   scene 1   frozen");
  EXPECT_STREQ(out.lines[1],
               "listening to Monitor of Null Output   127.9 bpm, locked (12 measures agree)   gain +3.4 dB");
  EXPECT_STREQ(out.lines[2], "m does nothing");
  listen = {true, "Line In", 0.0, false, false, false, 0, 0.0, nullptr};
  formatOverlay(out, 0, FrameTimes::Summary{20.0, 12.5, true}, "llvmpipe", false, false, 0, {}, listen);
  EXPECT_STREQ(out.lines[1], "listening to Line In   0.0 bpm, waiting for music (0 measures agree)   gain +0.0 dB");
  playMusic(embeddedMusic());
}

TEST(Overlay, LinesBreakToTheWidthAtTheirSeparatorsThenAtSpacesThenAnywhere) {
  TextAtlas text;  // every glyph one pixel wide: widths are lengths
  for (TextAtlas::Glyph& glyph : text.glyphs) glyph.advance = 1;
  OverlayLines in;
  std::snprintf(in.lines[0], OverlayLines::lineLength, "0:01.2 of 2:59   beat 3   phase 0.45");
  std::snprintf(in.lines[1], OverlayLines::lineLength, "a smaller window helps");
  std::snprintf(in.lines[2], OverlayLines::lineLength, "abcdefghijklmnopqrst");
  in.count = 3;
  OverlayLines out;
  breakOverlayLines(in, 16, text, out);
  const char* const expected[] = {"0:01.2 of 2:59", "beat 3",           "phase 0.45", "a smaller window",
                                  "helps",          "abcdefghijklmnop", "qrst"};
  ASSERT_EQ(out.count, 7);
  for (int i = 0; i < out.count; ++i) EXPECT_STREQ(out.lines[i], expected[i]) << i;

  breakOverlayLines(in, 200, text, out);  // wide enough: as they were
  ASSERT_EQ(out.count, 3);
  for (int i = 0; i < out.count; ++i) EXPECT_STREQ(out.lines[i], in.lines[i]) << i;

  breakOverlayLines(in, 1, text, out);  // a character a line, as many lines as there is room for
  EXPECT_EQ(out.count, OverlayLines::lineCount);
  EXPECT_STREQ(out.lines[OverlayLines::lineCount - 1], "9");  // the first line's last character
}

TEST(SilentClock, SeeksHoldsWhilePausedAndResumesFromTheSameFrame) {
  PlayClock clock;
  clock.startNs = 0;  // long ago: the clock reads the end
  EXPECT_EQ(clock.read(), playbackFrameCount);
  clock.seek(beatStart(288));
  const std::uint32_t afterSeek = clock.read();
  EXPECT_GE(afterSeek, beatStart(288));
  EXPECT_LT(afterSeek, beatStart(288) + framesPerBeat);

  clock.pause();
  const std::uint32_t held = clock.read();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(clock.read(), held);
  clock.seek(beatStart(100));  // a seek while paused moves the held frame
  EXPECT_EQ(clock.read(), beatStart(100));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  clock.resume();
  const std::uint32_t resumed = clock.read();
  EXPECT_GE(resumed, beatStart(100));
  EXPECT_LT(resumed, beatStart(100) + 441) << "more than 10 ms on after resuming";
}
