// preload_cost: what getting the next song ready costs the frames of the song playing.
// The show is drawn headless, paced as the live loop paces it (a frame every 16 ms at
// most, from a busy scene on), in blocks that take turns: alone, and while a thread at
// the player's low priority (SCHED_IDLE: only what the processors leave; --nice 1 for
// nice 10 instead) decodes and analyses SONG over and over, as the player does for the
// next song of a list. Prints the median and 95th percentile of
// the frame's drawing time and the share of frames over the 16.7-ms budget, each way.
//   preload_cost SONG [--size WxH] [--rounds N] [--block N] [--nice 1]
#include <GL/gl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/start_up.h"
#include "app/track.h"
#include "audio/playback.h"
#include "platform/headless.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/music_source.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr double budgetMs = 1000.0 / 60.0;

struct Samples {
  std::vector<double> ms;
  void report(const char* name) {
    std::sort(ms.begin(), ms.end());
    const double over = static_cast<double>(std::count_if(ms.begin(), ms.end(), [](double m) { return m > budgetMs; }));
    std::printf("%-22s median %6.2f ms   p95 %6.2f ms   over budget %5.1f %%   (%zu frames)\n", name, ms[ms.size() / 2],
                ms[ms.size() * 95 / 100], 100.0 * over / static_cast<double>(ms.size()), ms.size());
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: preload_cost SONG [--size WxH] [--rounds N] [--block N] [--nice 1]\n");
    return 2;
  }
  const std::string song = argv[1];
  int width = 1280, height = 720, rounds = 6, block = 120;
  bool idle = true;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0) std::sscanf(argv[i + 1], "%dx%d", &width, &height);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--block") == 0) block = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--nice") == 0) idle = std::strcmp(argv[i + 1], "1") != 0;
  }
  HeadlessContext context;
  std::string error;
  if (!context.open(width, height, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  startShow(embeddedMusic(), embeddedTrack, static_cast<int>(embeddedTrackSize), width, height, nullptr);

  std::atomic<bool> loading{false}, done{false};
  std::atomic<int> loads{0};
  std::thread preloader([&] {
    if (idle) {
      sched_param none{};
      sched_setscheduler(0, SCHED_IDLE, &none);  // this thread alone
    } else {
      setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    }
    while (!done) {
      if (!loading) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      ShowMusic music;
      std::string why;
      if (loadMusic(song, BeatRequest{}, music, why) != MusicRefusal::none) std::fprintf(stderr, "%s\n", why.c_str());
      ++loads;
    }
  });

  ShowFrame frame;
  Samples alone, preloading;
  std::uint32_t position = 70 * 44100;  // the busy scenes
  for (int round = 0; round < 2 * rounds; ++round) {
    loading = round % 2 == 1;
    Samples& into = loading ? preloading : alone;
    for (int n = 0; n < block; ++n) {
      const Clock::time_point start = Clock::now();
      frame.draw(position);
      glFinish();
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      into.ms.push_back(ms);
      if (ms < budgetMs) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(budgetMs - ms));
      position += 735;
      if (position > 170 * 44100) position = 70 * 44100;
    }
  }
  done = true;
  preloader.join();
  std::printf("%dx%d, %d frames each way, %d loads of %s meanwhile\n", width, height, rounds * block, loads.load(),
              song.c_str());
  alone.report("alone");
  preloading.report("next song loading");
  return 0;
}
