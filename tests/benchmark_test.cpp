// Benchmark mode: the scenes' frames on the 60-frames-per-second clock, the median
// and 95th percentile, and the figures as JSON.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/benchmark.h"
#include "app/run.h"
#include "audio/playback.h"
#include "show/schedule.h"

namespace {

int sceneOfFrame(std::uint64_t n) { return sceneForBeat(beatClockAt(virtualPosition(n, benchmarkFps)).beat); }
}  // namespace

TEST(BenchmarkScenes, NineScenesWithTheSchedulesBeatsFollowOneAnotherFrameByFrame) {
  const std::vector<SceneFrames> scenes = benchmarkScenes(benchmarkFps);
  ASSERT_EQ(scenes.size(), 9u);
  const int firstBeats[] = {0, 64, 128, 192, 288, 352, 416, 420, 486};
  const int lastBeats[] = {63, 127, 191, 287, 351, 415, 419, 485, 492};
  const std::uint64_t showFrames = static_cast<std::uint64_t>(playbackFrameCount) * benchmarkFps / sampleRate;
  for (int s = 0; s < 9; ++s) {
    SCOPED_TRACE(testing::Message() << "scene " << s + 1);
    const SceneFrames& scene = scenes[s];
    EXPECT_EQ(scene.scene, s + 1);
    EXPECT_EQ(scene.firstBeat, firstBeats[s]);
    EXPECT_EQ(scene.lastBeat, lastBeats[s]);
    ASSERT_LT(scene.firstFrame, scene.endFrame);
    // The first frame is the scene's, the one before it the previous scene's.
    EXPECT_EQ(sceneOfFrame(scene.firstFrame), s + 1);
    EXPECT_EQ(sceneOfFrame(scene.endFrame - 1), s + 1);
    EXPECT_EQ(beatClockAt(virtualPosition(scene.firstFrame, benchmarkFps)).beat, firstBeats[s]);
    if (s > 0) {
      EXPECT_EQ(scenes[s - 1].endFrame, scene.firstFrame);
    }
    // As many frames as the scene's beats last at 165 beats per minute, give or take one.
    const double beats = (s == 8 ? 492.25 : lastBeats[s] + 1.0) - firstBeats[s];
    EXPECT_NEAR(static_cast<double>(scene.endFrame - scene.firstFrame), beats * 60.0 / 165.0 * benchmarkFps, 1.0);
  }
  EXPECT_EQ(scenes[0].firstFrame, 0u);
  EXPECT_EQ(scenes[8].endFrame, showFrames);
}

TEST(FrameTimes, MedianAndNearestRank95thPercentile) {
  std::vector<double> odd = {5, 1, 4, 2, 3};
  FrameTimeSummary t = summariseFrameTimes(odd);
  EXPECT_DOUBLE_EQ(t.median, 3);
  EXPECT_DOUBLE_EQ(t.p95, 5);

  std::vector<double> even = {4, 1, 3, 2};
  t = summariseFrameTimes(even);
  EXPECT_DOUBLE_EQ(t.median, 2.5);
  EXPECT_DOUBLE_EQ(t.p95, 4);

  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  t = summariseFrameTimes(hundred);
  EXPECT_DOUBLE_EQ(t.median, 50.5);
  EXPECT_DOUBLE_EQ(t.p95, 95);

  std::vector<double> twenty;
  for (int i = 1; i <= 20; ++i) twenty.push_back(i * 0.5);
  t = summariseFrameTimes(twenty);
  EXPECT_DOUBLE_EQ(t.p95, 9.5);  // the 19th of 20

  std::vector<double> one = {7.25};
  t = summariseFrameTimes(one);
  EXPECT_DOUBLE_EQ(t.median, 7.25);
  EXPECT_DOUBLE_EQ(t.p95, 7.25);
}

TEST(BenchmarkReport, JsonEscapesTheRendererAndTheTableHasARowPerScene) {
  BenchmarkReport report;
  report.renderer = "odd \"GPU\" \\ name";
  report.width = 640;
  report.height = 360;
  report.startupMs = 12.5;
  for (const SceneFrames& scene : benchmarkScenes(benchmarkFps)) {
    SceneResult r;
    r.frames = scene;
    r.timedFrames = 10;
    r.times.median = 8.0;
    r.times.p95 = 9.0;
    report.scenes.push_back(r);
  }
  const std::string json = benchmarkJson(report);
  EXPECT_NE(json.find("\"renderer\": \"odd \\\"GPU\\\" \\\\ name\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"median_ms\": 8.000, \"p95_ms\": 9.000, \"fps\": 125.00, \"realtime_factor\": 2.083"),
            std::string::npos)
      << json;
  // Well-formed UTF-8 is kept; each ill-formed sequence becomes one U+FFFD.
  const std::string bad = "\xef\xbf\xbd";
  const std::pair<std::string, std::string> strings[] = {
      {"\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\xf4\x8f\xbf\xbf", "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\xf4\x8f\xbf\xbf"},
      {"\xff.wav", bad + ".wav"},                             // a byte that begins nothing
      {"a\x80z", "a" + bad + "z"},                            // a stray continuation byte
      {"\xe2\x82z\xf0\x9d\x84", bad + "z" + bad},             // cut short, inside and at the end
      {"\xc0\xaf\xe0\x80\xaf", bad + bad + bad + bad + bad},  // overlong '/'
      {"\xed\xa0\x80", bad + bad + bad},                      // a surrogate
      {"\xf4\x90\x80\x80", bad + bad + bad + bad},            // above U+10FFFF
  };
  for (const auto& [text, inside] : strings) EXPECT_EQ(jsonString(text), "\"" + inside + "\"") << text;
  const std::string table = benchmarkTable(report);
  for (const char* beats : {"0-63", "64-127", "416-419", "486-492"})
    EXPECT_NE(table.find(beats), std::string::npos) << beats << " in\n" << table;
  EXPECT_NE(table.find("renderer: odd"), std::string::npos);
}
