// present_bench: what the live show's offscreen picture costs per frame. In a real
// window (run it under X, or Xvfb), blocks of frames of the show take turns in three
// ways: drawn straight into the window's back buffer (the show before it had a
// picture of its own); drawn into the picture, then glFinish, the present and the
// swap (the frame loop's order); and the present before glFinish. Unpaced.
//   present_bench [--size WxH] [--rounds N] [--block N] [--from SECONDS] [--quad]
// --quad copies the picture as a textured quad, as on contexts without blitting.
// Prints, for each way, the median and the 95th percentile of the whole frame and of
// its end alone (from after glFinish to after the swap).
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "audio/playback.h"
#include "platform/framebuffer.h"
#include "platform/live.h"
#include "platform/sdl.h"
#include "resources/embedded.h"
#include "show/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

struct Samples {
  std::vector<double> frame;
  std::vector<double> end;
};

void report(const char* name, Samples& s) {
  auto at = [](std::vector<double>& v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
  };
  std::printf("%-28s frame %7.3f ms median %7.3f ms p95   swap end %6.3f ms median %6.3f ms p95  (%zu frames)\n", name,
              at(s.frame, 0.5), at(s.frame, 0.95), at(s.end, 0.5), at(s.end, 0.95), s.frame.size());
}

int usage() {
  std::fprintf(stderr, "usage: present_bench [--size WxH] [--rounds N] [--block N] [--from SECONDS] [--quad]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 1280, height = 720, rounds = 20, block = 15;
  double fromSeconds = 30.0;
  bool quad = false;
  for (int i = 1; i < argc; ++i) {
    const bool more = i + 1 < argc;
    if (std::strcmp(argv[i], "--size") == 0 && more) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) return usage();
    } else if (std::strcmp(argv[i], "--rounds") == 0 && more) {
      rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--block") == 0 && more) {
      block = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--quad") == 0) {
      quad = true;
    } else if (std::strcmp(argv[i], "--from") == 0 && more) {
      fromSeconds = std::atof(argv[++i]);
    } else {
      return usage();
    }
  }
  LiveWindow window;
  window.fullScreen = false;
  window.requestWidth = width;
  window.requestHeight = height;
  std::string error;
  if (!window.open(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (window.picture.framebuffer == 0) {
    std::fprintf(stderr, "present_bench: this context has no framebuffer objects\n");
    return 1;
  }
  if (quad) {
    // As on a context without blitting: the picture's colour is a texture, drawn as a quad.
    forgetFramebufferBlit();
    if (!window.picture.create(window.clientWidth, window.clientHeight, error)) {
      std::fprintf(stderr, "present_bench: %s\n", error.c_str());
      return 1;
    }
  }
  initialiseShow(embeddedTrack, embeddedTrackSize, window.clientWidth, window.clientHeight, &window);
  std::printf("%dx%d on %s, %s\n", window.clientWidth, window.clientHeight, window.renderer(),
              framebufferBlitAvailable() ? "copied with glBlitFramebuffer" : "copied as a textured quad");

  auto frame = std::make_unique<ShowFrame>();
  std::uint32_t position = static_cast<std::uint32_t>(fromSeconds * sampleRate);
  constexpr int wayCount = 3;
  const char* names[wayCount] = {"straight to the back buffer", "glFinish, present, swap", "present, glFinish, swap"};
  Samples samples[wayCount];
  WindowEvents events;
  for (int round = -1; round < rounds; ++round) {  // the first round warms up
    for (int turn = 0; turn < wayCount; ++turn) {
      const int way = (turn + round + wayCount) % wayCount;  // each way takes every place in turn
      bindFramebuffer(way == 0 ? 0 : window.picture.framebuffer);
      for (int n = 0; n < block; ++n) {
        const Clock::time_point start = Clock::now();
        frame->draw(position);
        if (way == 2) window.present();
        glFinish();
        const Clock::time_point drawn = Clock::now();
        if (way == 1) window.present();
        if (way == 0)
          SDL_GL_SwapWindow(sdlWindow(window));
        else
          window.swap();
        const Clock::time_point done = Clock::now();
        if (round >= 0) {
          samples[way].frame.push_back(millisecondsBetween(start, done));
          samples[way].end.push_back(millisecondsBetween(drawn, done));
        }
        position += sampleRate / 60;
        if (position >= playbackFrameCount) position = 0;
        events.clear();
        window.takeEvents(events);
      }
    }
  }
  for (int way = 0; way < wayCount; ++way) report(names[way], samples[way]);
  return 0;
}
