// effects_bench: per-frame cost of each effect's update + draw on the headless
// context, and of the spectrum analysis alone, on the track's own spectra.
//   effects_bench [--mallopt] [--frames N] [--size WxH]... [--effect NAME]...
// Each frame runs the frame loop's analysis and trail fade first (not timed), then
// times the effect's camera, update and draw up to glFinish. Prints the median and
// the 95th percentile of the wall time in milliseconds, and the mean processor time
// of all the process's threads (the GL's rasteriser threads included) and of the
// calling thread alone, which other work on a shared machine disturbs far less than
// the wall time.
#include <GL/gl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "bench/effect_rig.h"
#include "platform/headless.h"
#include "platform/viewport.h"

namespace {

constexpr int benchFps = 60;
constexpr int warmUpFrames = 60;
constexpr int defaultFrames = 300;
constexpr double startSeconds = 30.0;  // well into the track
constexpr int analysisRuns = 20000;
constexpr std::size_t mmapThreshold = 256u << 20;
constexpr std::size_t trimThreshold = 512u << 20;

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

double processorMilliseconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

struct Summary {
  double median;
  double p95;
  double processor = 0.0;   // mean per frame
  double mainThread = 0.0;  // mean per frame, the calling thread alone
  double faults = 0.0;      // minor page faults per frame, mean
};

Summary summarise(std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    const std::size_t i =
        std::min(samples.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samples.size())));
    return samples[i];
  };
  return {at(0.5), at(0.95)};
}

struct Size {
  int width;
  int height;
};

std::uint32_t framePosition(int n) {
  return static_cast<std::uint32_t>((startSeconds * benchFps + n) * sampleRate / benchFps);
}

// The trail fade alone, as a reference for the effects' fill costs.
Summary timeTrailFade(int frames) {
  std::vector<double> samples;
  for (int n = -warmUpFrames; n < frames; ++n) {
    glFinish();
    const Clock::time_point start = Clock::now();
    beginFrame(framePosition(n + warmUpFrames));
    glFinish();
    if (n >= 0) samples.push_back(millisecondsSince(start));
  }
  return summarise(samples);
}

Summary timeEffect(EffectRig& rig, EffectName effect, int frames) {
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(frames));
  double processor = 0.0;
  double mainThread = 0.0;
  long faults = 0;
  for (int n = -warmUpFrames; n < frames; ++n) {
    const std::uint32_t position = framePosition(n + warmUpFrames);
    beginFrame(position);
    glFinish();
    const double processorStart = processorMilliseconds();
    const long faultsStart = minorFaults();
    const double threadStart = processorMilliseconds(CLOCK_THREAD_CPUTIME_ID);
    const Clock::time_point start = Clock::now();
    showEffect(rig, effect, position);
    glFinish();
    if (n >= 0) {
      samples.push_back(millisecondsSince(start));
      processor += processorMilliseconds() - processorStart;
      faults += minorFaults() - faultsStart;
      mainThread += processorMilliseconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
    }
  }
  Summary summary = summarise(samples);
  summary.processor = processor / frames;
  summary.faults = static_cast<double>(faults) / frames;
  summary.mainThread = mainThread / frames;
  return summary;
}

Summary timeAnalysis() {
  std::vector<double> samples;
  for (int n = 0; n < analysisRuns; ++n) {
    const float* window = &playbackBuffer[2 * static_cast<std::size_t>(framePosition(n % 6000))];
    const Clock::time_point start = Clock::now();
    analyseSpectrum(window);
    samples.push_back(millisecondsSince(start));
  }
  return summarise(samples);
}

int usage() {
  std::fprintf(stderr,
               "pulse165: effects_bench: usage: effects_bench [--mallopt] [--frames N] [--size WxH]... "
               "[--effect star|orbit|stack|disks|pillars|scope]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool useMallopt = false;
  int frames = defaultFrames;
  std::vector<Size> sizes;
  std::vector<EffectName> effects;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mallopt") {
      useMallopt = true;
    } else if (arg == "--frames" && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (arg == "--size" && i + 1 < argc) {
      Size size{};
      if (std::sscanf(argv[++i], "%dx%d", &size.width, &size.height) != 2) return usage();
      sizes.push_back(size);
    } else if (arg == "--effect" && i + 1 < argc) {
      EffectName effect;
      if (!parseEffect(argv[++i], effect)) return usage();
      effects.push_back(effect);
    } else {
      return usage();
    }
  }
  if (frames <= 0) return usage();
  if (sizes.empty()) sizes = {{1920, 1080}, {1280, 720}};
  if (effects.empty()) effects.assign(std::begin(allEffects), std::end(allEffects));
  if (useMallopt) {
    // Keep llvmpipe's large per-frame buffers on the heap instead of fresh mappings.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(mmapThreshold));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(trimThreshold));
  }

  std::string error;
  bool loaded = false;
  std::printf("%-9s %-10s %10s %10s %10s %10s %10s\n", "effect", "size", "median ms", "p95 ms", "cpu ms", "main ms",
              "faults");
  for (const Size& size : sizes) {
    HeadlessContext context;
    if (!context.open(size.width, size.height, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    if (!loaded) {
      if (!loadShow(size.width, size.height)) {
        std::fprintf(stderr, "pulse165: effects_bench: the embedded track did not decode\n");
        return 1;
      }
      std::printf("# renderer: %s%s\n", context.renderer(), useMallopt ? ", mallopt thresholds raised" : "");
      loaded = true;
    }
    setShowViewport(size.width, size.height);
    glClear(GL_COLOR_BUFFER_BIT);

    char label[32];
    std::snprintf(label, sizeof label, "%dx%d", size.width, size.height);
    const Summary fade = timeTrailFade(frames);
    std::printf("%-9s %-10s %10.3f %10.3f\n", "fade", label, fade.median, fade.p95);
    auto rig = std::make_unique<EffectRig>();
    for (EffectName effect : effects) {
      const Summary s = timeEffect(*rig, effect, frames);
      std::printf("%-9s %-10s %10.3f %10.3f %10.3f %10.3f %10.1f\n", effectLabel(effect), label, s.median, s.p95,
                  s.processor, s.mainThread, s.faults);
      std::fflush(stdout);
    }
  }
  const Summary analysis = timeAnalysis();
  std::printf("%-9s %-10s %10.4f %10.4f\n", "spectrum", "-", analysis.median, analysis.p95);
  return 0;
}
