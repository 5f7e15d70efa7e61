// Benchmark mode: one ShowFrame on a headless context; for each scene a short
// warm-up on the scene's own first frames (llvmpipe compiles its shaders for the
// state the scene uses then), then the timed frames from the scene's start, each
// finished with glFinish so that the time is the whole frame's.
#include "app/benchmark.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/start_up.h"
#include "app/text.h"
#include "app/run.h"
#include "app/track.h"
#include "audio/playback.h"
#include "platform/headless.h"
#include "show/offline_run.h"
#include "show/schedule.h"
#include "show/show_clock.h"

namespace {
constexpr int warmupFrames = 30;
constexpr double frameBudgetMs = 1000.0 / benchmarkFps;  // 16.667 ms

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double steadyMilliseconds() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

double framesPerSecond(double ms) { return ms > 0 ? 1000.0 / ms : 0; }
double realtimeFactor(double ms) { return ms > 0 ? frameBudgetMs / ms : 0; }

}  // namespace


std::vector<SceneFrames> benchmarkScenes(int fps) {
  // Each scene at its first stretch on the show's clock (the music's beats); the
  // stretches follow one another without a gap, the first from the music's start. A
  // scene that a short track's schedule leaves out is left out here too.
  const std::vector<SceneSpan>& spans = showClock.spans;
  const auto frameOfBeat = [fps](int beat) { return firstFrameAtOrAfter(showClock.positionOfBeat(beat), fps); };
  std::vector<SceneFrames> scenes;
  for (int scene = 1; scene <= sceneCount; ++scene) {
    for (std::size_t i = 0; i < spans.size(); ++i) {
      if (spans[i].scene != scene) continue;
      SceneFrames frames;
      frames.scene = scene;
      frames.firstBeat = spans[i].trackStart;
      frames.lastBeat = spans[i].trackEnd - 1;
      frames.firstFrame = i == 0 ? 0 : frameOfBeat(spans[i].trackStart);
      frames.endFrame =
          i + 1 < spans.size() ? frameOfBeat(spans[i].trackEnd) : firstFrameAtOrAfter(showClock.frames, fps);
      scenes.push_back(frames);
      break;
    }
  }
  return scenes;
}

FrameTimeSummary summariseFrameTimes(std::vector<double>& milliseconds) {
  FrameTimeSummary times;
  if (milliseconds.empty()) return times;
  std::sort(milliseconds.begin(), milliseconds.end());
  const std::size_t count = milliseconds.size();
  times.median =
      count % 2 == 1 ? milliseconds[count / 2] : 0.5 * (milliseconds[count / 2 - 1] + milliseconds[count / 2]);
  // Nearest rank: the smallest time that at least 95 % of the frames do not exceed.
  const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(count)));
  times.p95 = milliseconds[std::max<std::size_t>(rank, 1) - 1];
  return times;
}

std::string benchmarkTable(const BenchmarkReport& report) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "pulse165 benchmark: %dx%d, frames at %d per second\n", report.width, report.height,
                benchmarkFps);
  out += line;
  out += "scene  beats    frames  median ms  p95 ms  frames/s  real time\n";
  bool shortScene = false;
  for (const SceneResult& r : report.scenes) {
    const bool whole = r.timedFrames == static_cast<int>(r.frames.endFrame - r.frames.firstFrame);
    shortScene = shortScene || whole;
    char beats[32];
    std::snprintf(beats, sizeof beats, "%d-%d", r.frames.firstBeat, r.frames.lastBeat);
    std::snprintf(line, sizeof line, "%5d  %-7s  %5d%s  %9.2f  %6.2f  %8.1f  %8.2f x\n", r.frames.scene, beats,
                  r.timedFrames, whole ? "*" : " ", r.times.median, r.times.p95, framesPerSecond(r.times.median),
                  realtimeFactor(r.times.median));
    out += line;
  }
  if (shortScene) out += "* the whole scene: it has fewer frames than asked for\n";
  std::snprintf(line, sizeof line,
                "real time: %.3f ms per frame at 60 frames per second, divided by the median\n"
                "start-up: %.1f ms (decoding, conversion into the playback buffer, glyph lists)\n",
                frameBudgetMs, report.startupMs);
  out += line;
  out += "renderer: " + report.renderer + "\n";
  if (!report.track.empty())
    out += "track: " + report.track + " (the beats are the track's; each scene at its first stretch)\n";
  return out;
}

std::string benchmarkJson(const BenchmarkReport& report) {
  JsonWriter json;
  json.field("renderer", report.renderer);
  if (!report.track.empty()) json.field("track", report.track);
  json.field("width", report.width).field("height", report.height).number("startup_ms", report.startupMs);
  json.beginList("scenes");
  for (const SceneResult& r : report.scenes) {
    json.beginItem()
        .field("scene", r.frames.scene)
        .field("first_beat", r.frames.firstBeat)
        .field("last_beat", r.frames.lastBeat)
        .field("frames", r.timedFrames)
        .number("median_ms", r.times.median)
        .number("p95_ms", r.times.p95)
        .number("fps", framesPerSecond(r.times.median), "%.2f")
        .number("realtime_factor", realtimeFactor(r.times.median))
        .endItem();
  }
  return json.endList().finish();
}

SceneResult timeScene(OfflineRun& run, const SceneFrames& scene, int frames, double (*now)(),
                      std::vector<double>& milliseconds) {
  const std::uint64_t available = scene.endFrame - scene.firstFrame;
  const std::uint64_t warmup = std::min<std::uint64_t>(warmupFrames, available);
  const std::uint64_t timed = std::min<std::uint64_t>(static_cast<std::uint64_t>(frames), available);
  run.moveTo(scene.firstFrame);
  run.stepUntil(scene.firstFrame + warmup);
  glFinish();
  run.moveTo(scene.firstFrame);
  milliseconds.clear();
  for (std::uint64_t n = 0; n < timed; ++n) {
    const double start = now();
    run.step();
    glFinish();
    milliseconds.push_back(now() - start);
  }
  SceneResult result;
  result.frames = scene;
  result.timedFrames = static_cast<int>(timed);
  result.times = summariseFrameTimes(milliseconds);
  return result;
}

int runBenchmark(const Options& options) {
  std::string error;
  HeadlessContext context;
  if (!context.open(options.width, options.height, error)) return reportFailure(exitEnvironment, error);
  // The start-up counts a hand-picked track's decoding and analysis too.
  const Clock::time_point startupBegan = Clock::now();
  ShowMusic music;
  Options resolved = options;
  if (const MusicRefusal refusal = prepareMusic(resolved, music, error); refusal != MusicRefusal::none)
    return reportRefusal(refusal, error);

  BenchmarkReport report;
  report.renderer = context.renderer();
  report.track = options.trackPath;
  report.width = options.width;
  report.height = options.height;
  startShow(music.source(), music.vorbisData(), music.vorbisSize(), options.width, options.height, nullptr);
  glFinish();
  report.startupMs = millisecondsBetween(startupBegan, Clock::now());

  OfflineRun run;
  run.start(benchmarkFps, 0);
  std::vector<double> milliseconds;
  milliseconds.reserve(static_cast<std::size_t>(options.benchmarkFrames));
  for (const SceneFrames& scene : benchmarkScenes(benchmarkFps))
    report.scenes.push_back(timeScene(run, scene, options.benchmarkFrames, steadyMilliseconds, milliseconds));
  run.finish();

  const std::string text = options.json ? benchmarkJson(report) : benchmarkTable(report);
  std::fputs(text.c_str(), stdout);
  return 0;
}
