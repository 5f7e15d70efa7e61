// The show's schedule fitted to tracks of every length.
#include "show/track_schedule.h"

#include <gtest/gtest.h>

#include "audio/beat_grid.h"
#include "show/schedule.h"

namespace {
using Segments = std::vector<ScheduleSegment>;
}

void PrintTo(const ScheduleSegment& s, std::ostream* out) {
  *out << "[" << s.trackStart << ", " << s.trackEnd << ") -> " << s.showStart;
}

TEST(TrackSchedule, ChosenLengthsMapAsDesigned) {
  struct Case {
    int beats;
    Segments segments;
  };
  const Case cases[] = {
      {493, {{0, 493, 0}}},                              // the embedded track: the identity
      {20, {{0, 20, 473}}},                              // only the finale's last beats
      {40, {{0, 11, 0}, {11, 27, 416}, {27, 40, 480}}},  // scene 8 loses three blocks
      {95, {{0, 18, 0}, {18, 95, 416}}},                 // the opening runs on to the finale
      {150, {{0, 73, -9}, {73, 150, 416}}},              // no middle block fits: the opening starts early
      // Nine middle blocks shared over scenes 2-6 (2, 2, 2, 2, 1); scene 6 runs on 15 beats.
      {300, {{0, 96, 0}, {96, 128, 128}, {128, 160, 192}, {160, 192, 288}, {192, 223, 352}, {223, 300, 416}}},
      // The middle whole, twice: whole passes leave the opening to take the rest.
      {850, {{0, 421, -5}, {421, 850, 64}}},
  };
  for (const Case& c : cases) {
    const TrackSchedule schedule = fitSchedule(c.beats);
    EXPECT_EQ(schedule.segments, c.segments) << c.beats << " beats";
  }
}

TEST(TrackSchedule, EveryLengthOpensClosesAndCutsOnlyBetweenScenes) {
  for (int n = 1; n <= 3000; ++n) {
    const TrackSchedule schedule = fitSchedule(n);
    const Segments& s = schedule.segments;
    ASSERT_FALSE(s.empty()) << n;
    ASSERT_EQ(s.front().trackStart, 0) << n;
    ASSERT_EQ(s.back().trackEnd, n) << n;
    ASSERT_EQ(schedule.showBeat(n - 1), 492) << n;  // the fade ends on the last beat
    if (n >= 30) {
      ASSERT_EQ(sceneForBeat(schedule.showBeat(0)), 1) << n;
    }
    ASSERT_GE(schedule.showBeat(0), -15) << n;
    for (std::size_t i = 1; i < s.size(); ++i) {
      ASSERT_EQ(s[i].trackStart, s[i - 1].trackEnd) << n;
      ASSERT_GT(s[i].length(), 0) << n;
      // Each stretch starts on a 16-beat boundary of the show, and a jump changes the
      // scene, but for the seamless cuts inside scene 8.
      ASSERT_EQ(s[i].showStart % 16, 0) << n << " segment " << i;
      const int left = sceneForBeat(s[i - 1].showStart + s[i - 1].length() - 1);
      const int entered = sceneForBeat(s[i].showStart);
      ASSERT_TRUE(left != entered || entered == 8) << n << " segment " << i;
      // Only the stretch just before the finale may end off a 16-beat boundary.
      if (s[i].showStart < 416) {
        ASSERT_EQ((s[i - 1].showStart + s[i - 1].length()) % 16, 0) << n;
      }
    }
    // The middle plays in order: every scene of 2-6 shows up once per pass it fills.
    if (n >= 141 + 22 * 16 * 2) {
      std::vector<int> seen(10, 0);
      for (const SceneSpan& span : sceneSpans(schedule)) ++seen[span.scene];
      for (int scene = 2; scene <= 6; ++scene) EXPECT_GE(seen[scene], 2) << n;
    }
  }
}

TEST(TrackSchedule, ScenesAreFoundInTrackTime) {
  const TrackSchedule schedule = fitSchedule(300);

  BeatGrid grid;  // 120 bpm from half a second in
  grid.bpm = 120.0;
  grid.beatSamples = 22050.0;
  grid.firstBeatSamples = 22050.0;
  const std::vector<SceneTimes> times = sceneTimes(schedule, grid, 151.0);
  ASSERT_EQ(times.size(), 9u);
  const int order[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(times[i].scene, order[i]);
  EXPECT_EQ(times.front().startSeconds, 0.0);
  EXPECT_DOUBLE_EQ(times[1].endSeconds, 0.5 + 96 * 0.5);  // scene 2 ends at track beat 96
  EXPECT_DOUBLE_EQ(times[6].startSeconds, 0.5 + 223 * 0.5);
  EXPECT_EQ(times.back().endSeconds, 151.0);
}
