// effect_shot: draws one effect alone, as the frame loop would over two seconds of
// the track at 60 frames per second, and writes the last frame as a PNG.
//   effect_shot [--noise] EFFECT SECONDS OUT.png [WIDTH HEIGHT]
// EFFECT is star, orbit, stack, disks, pillars or scope; --noise plays beat-struck
// noise instead of the track, loud in the high bands that DiskSwarm and PillarGrid follow.
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/output_file.h"
#include "audio/playback.h"
#include "bench/effect_rig.h"
#include "platform/headless.h"
#include "platform/image.h"

namespace {

constexpr int shotFps = 60;
constexpr int leadInFrames = 120;  // enough for the trails and the smoothing to settle

int usage() {
  std::fprintf(stderr,
               "pulse165: effect_shot: usage: effect_shot [--noise] star|orbit|stack|disks|pillars|scope "
               "SECONDS OUT.png [WIDTH HEIGHT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const bool noise = argc > 1 && std::string(argv[1]) == "--noise";
  if (noise) {
    --argc;
    ++argv;
  }
  if (argc != 4 && argc != 6) return usage();
  EffectName effect;
  if (!parseEffect(argv[1], effect)) return usage();
  const double seconds = std::atof(argv[2]);
  const std::string path = argv[3];
  const int width = argc == 6 ? std::atoi(argv[4]) : 1280;
  const int height = argc == 6 ? std::atoi(argv[5]) : 640;
  if (seconds < 0 || seconds > 179 || width <= 0 || height <= 0) return usage();

  HeadlessContext context;
  std::string error;
  if (!context.open(width, height, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!loadShow(width, height)) {
    std::fprintf(stderr, "pulse165: effect_shot: the embedded track did not decode\n");
    return 1;
  }
  if (noise) synthesiseBeatNoise();

  auto rig = std::make_unique<EffectRig>();
  const long last = static_cast<long>(seconds * shotFps);
  for (long n = last > leadInFrames ? last - leadInFrames : 0; n <= last; ++n) {
    const auto position = static_cast<std::uint32_t>(n * sampleRate / shotFps);
    beginFrame(position);
    showEffect(*rig, effect, position);
  }
  glFinish();

  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  context.readPixels(pixels.data());
  OutputFile file;
  if (!file.reserve(path, "write", "effect_shot", error) ||
      !writePng(file.descriptor, pixels.data(), width, height, error) || !file.commit(error)) {
    std::fprintf(stderr, "pulse165: effect_shot: cannot write %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  return 0;
}
