// Benchmark mode: every scene rendered headless at 60 frames per second, timed frame
// by frame, and reported as a table for people or as JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "show/scenes.h"

constexpr int benchmarkFps = 60;  // the virtual clock the scenes are timed on

// The frames of one scene on the benchmark's 60-frames-per-second virtual clock.
struct SceneFrames {
  int scene = 0;
  int firstBeat = 0;
  int lastBeat = 0;
  std::uint64_t firstFrame = 0;  // the scene's first frame
  std::uint64_t endFrame = 0;    // the first frame after the scene (or after the show)
};

// The nine scenes as the schedule picks them, beat by beat.
std::vector<SceneFrames> benchmarkScenes(int fps);

// Median and 95th percentile (nearest rank) of frame times in milliseconds.
struct FrameTimeSummary {
  double median = 0;
  double p95 = 0;
};
// Sorts `milliseconds` in place.
FrameTimeSummary summariseFrameTimes(std::vector<double>& milliseconds);

struct SceneResult {
  SceneFrames frames;
  int timedFrames = 0;
  FrameTimeSummary times;
};

struct BenchmarkReport {
  std::string renderer;
  std::string track;  // a hand-picked track's file, whose beats the scenes' beats count; empty for the show's own
  int width = 0;
  int height = 0;
  double startupMs = 0;
  std::vector<SceneResult> scenes;
};


std::string benchmarkTable(const BenchmarkReport& report);
std::string benchmarkJson(const BenchmarkReport& report);

struct OfflineRun;
// Times one scene on `run`: a short warm-up on the scene's own first frames (llvmpipe
// compiles its shaders for the state the scene uses then), then `frames` frames from
// its start (the whole scene where it has fewer), each finished with glFinish so that
// the time is the whole frame's. `now` gives milliseconds; `milliseconds` holds the
// times, reserved by the caller, so that nothing is allocated per frame.
SceneResult timeScene(OfflineRun& run, const SceneFrames& scene, int frames, double (*now)(),
                      std::vector<double>& milliseconds);

// --benchmark: returns the exit code (1 when no headless context can be made).
int runBenchmark(const Options& options);
