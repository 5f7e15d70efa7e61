// How a run that starts at a moment differs from the whole run, and what the replay
// costs: for a moment in the middle of every scene and each lead-in length, the show
// is replayed from its start up to the lead-in, the lead-in is drawn, and the frames
// from the moment on are compared with the whole run's, channel by channel.
//   build/release/bench/replay_residue [WIDTH HEIGHT [FRAMES]]   (default 160 80 60)
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "platform/headless.h"
#include "resources/embedded.h"
#include "show/music_source.h"
#include "show/offline_run.h"
#include "show/scenes.h"

namespace {
constexpr int fps = 60;
constexpr std::uint64_t leadIns[] = {0, 5, 10, 20, 30, 45, 60, 90, 120, 180};

using Frame = std::vector<std::uint8_t>;

struct Difference {
  int largest = 0;
  double overOne = 0;  // share of channels off by more than one level
};

Difference compare(const Frame& a, const Frame& b) {
  Difference d;
  std::size_t over = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i % 4 == 3) continue;  // alpha
    const int off = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    d.largest = std::max(d.largest, off);
    if (off > 1) ++over;
  }
  d.overOne = static_cast<double>(over) / static_cast<double>(a.size() / 4 * 3);
  return d;
}
}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 2 ? std::atoi(argv[1]) : 160;
  const int height = argc > 2 ? std::atoi(argv[2]) : 80;
  const int compared = argc > 3 ? std::atoi(argv[3]) : 60;
  HeadlessContext context;
  std::string error;
  if (!context.open(width, height, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto read = [&](Frame& frame) {
    frame.resize(static_cast<std::size_t>(width) * height * 4);
    context.readPixels(frame.data());
  };
  const auto start = [&] {
    startShow(embeddedMusic(), embeddedTrack, static_cast<int>(embeddedTrackSize), width, height, nullptr);
  };

  // The moments: the middle of each scene, on the 60 fps clock.
  std::vector<std::uint64_t> moments;
  for (int scene = 1; scene <= sceneCount; ++scene) {
    const int first = firstBeatOfScene(scene);
    const int end = scene < sceneCount ? firstBeatOfScene(scene + 1) : showBeats;
    moments.push_back(firstFrameAtOrAfter(firstPositionOfBeat((first + end) / 2.0), fps));
  }

  // The whole run, keeping the frames from each moment on.
  start();
  std::vector<std::vector<Frame>> whole(moments.size());
  OfflineRun run;
  run.start(fps, 0);
  const std::uint64_t last = moments.back() + static_cast<std::uint64_t>(compared);
  while (run.next < last) {
    const std::uint64_t n = run.next;
    run.step();
    for (std::size_t m = 0; m < moments.size(); ++m) {
      if (n < moments[m] || n >= moments[m] + static_cast<std::uint64_t>(compared)) continue;
      whole[m].emplace_back();
      read(whole[m].back());
    }
  }
  run.finish();

  std::printf("%dx%d, %d frames compared from the middle of each scene: largest difference in a channel, and the "
              "share of channels off by more than 1\n",
              width, height, compared);
  std::printf("lead-in");
  for (std::size_t m = 0; m < moments.size(); ++m) std::printf("   scene %zu     ", m + 1);
  std::printf("\n");
  Frame frame;
  for (std::uint64_t leadIn : leadIns) {
    std::printf("%5llu  ", static_cast<unsigned long long>(leadIn));
    for (std::size_t m = 0; m < moments.size(); ++m) {
      start();
      glClear(GL_COLOR_BUFFER_BIT);
      OfflineRun part;
      part.start(fps, 0);
      part.catchUp(moments[m], leadIn);
      Difference worst;
      for (int k = 0; k < compared; ++k) {
        part.step();
        read(frame);
        const Difference d = compare(frame, whole[m][static_cast<std::size_t>(k)]);
        worst.largest = std::max(worst.largest, d.largest);
        worst.overOne = std::max(worst.overOne, d.overOne);
      }
      part.finish();
      std::printf("  %3d %7.4f%%", worst.largest, 100.0 * worst.overOne);
    }
    std::printf("\n");
  }

  // The replay's cost: the whole show, state only.
  start();
  OfflineRun replay;
  replay.start(fps, 0);
  const auto began = std::chrono::steady_clock::now();
  replay.replayUntil(firstFrameAtOrAfter(playbackFrameCount, fps));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  replay.finish();
  std::printf("replaying the whole show (%.0f s, %llu frames): %.1f ms, %.1f ms per minute of show\n",
              playbackFrameCount / 44100.0, static_cast<unsigned long long>(firstFrameAtOrAfter(playbackFrameCount, fps)),
              1000.0 * seconds, 1000.0 * seconds / (playbackFrameCount / 44100.0 / 60.0));
  return 0;
}
