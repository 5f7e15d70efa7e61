// compose: renders the show's soundtrack from its score and writes it as Ogg Vorbis (to be
// linked into the show), with a header giving its size, and on request as a WAV file.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/compose/render.h"
#include "tools/compose/score.h"
#include "tools/compose/vorbis_io.h"

namespace {

constexpr float vorbisQuality = 0.4f;  // about 128 kbit/s

const char usage[] =
    "usage: compose [--ogg FILE] [--header FILE] [--wav FILE]\n"
    "\n"
    "Renders the pulse165 soundtrack (44,100 Hz stereo, 165 beats per minute) and writes:\n"
    "  --ogg FILE     the Ogg Vorbis stream that the show embeds\n"
    "  --header FILE  a C++ header with its size: constexpr int embeddedTrackSize\n"
    "  --wav FILE     the same music as a 32-bit float WAV, for listening\n"
    "  --help         this text\n";

int fail(const std::string& what, const std::string& why, int code) {
  std::fprintf(stderr, "compose: %s: %s\n", what.c_str(), why.c_str());
  return code;
}

int failToWrite(const std::string& path) { return fail("cannot write " + path, std::strerror(errno), 1); }

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string oggPath, headerPath, wavPath;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    if (!std::strcmp(option, "--help") || !std::strcmp(option, "-h")) {
      std::fputs(usage, stdout);
      return 0;
    }
    std::string* target = !std::strcmp(option, "--ogg")      ? &oggPath
                          : !std::strcmp(option, "--header") ? &headerPath
                          : !std::strcmp(option, "--wav")    ? &wavPath
                                                             : nullptr;
    if (!target) return fail("bad option", option, 2);
    if (i + 1 >= argc) return fail("bad option", std::string(option) + " needs a file name", 2);
    *target = argv[++i];
  }
  if (oggPath.empty() && wavPath.empty()) return fail("nothing to do", "give --ogg FILE or --wav FILE (see --help)", 2);
  if (!headerPath.empty() && oggPath.empty()) return fail("bad option", "--header needs --ogg", 2);

  const auto renderStart = std::chrono::steady_clock::now();
  const compose::Score score = compose::buildScore();
  const std::vector<float> track = compose::renderTrack(score);
  const double renderSeconds = secondsSince(renderStart);
  float peak = 0.0f;
  for (float v : track) peak = std::fmax(peak, std::fabs(v));

  if (!wavPath.empty() && !compose::writeWav(wavPath, track)) return failToWrite(wavPath);
  if (oggPath.empty()) return 0;

  const auto encodeStart = std::chrono::steady_clock::now();
  const std::vector<unsigned char> ogg = compose::encodeVorbis(track, vorbisQuality);
  const double encodeSeconds = secondsSince(encodeStart);
  if (ogg.empty()) return fail("cannot encode the soundtrack", "libvorbisenc refused the settings", 1);

  std::FILE* file = std::fopen(oggPath.c_str(), "wb");
  if (!file) return failToWrite(oggPath);
  const bool written = std::fwrite(ogg.data(), 1, ogg.size(), file) == ogg.size();
  if (std::fclose(file) != 0 || !written) return failToWrite(oggPath);

  if (!headerPath.empty()) {
    file = std::fopen(headerPath.c_str(), "w");
    if (!file) return failToWrite(headerPath);
    std::fprintf(file, "#pragma once\nconstexpr int embeddedTrackSize = %zu;\n", ogg.size());
    if (std::fclose(file) != 0) return failToWrite(headerPath);
  }
  std::printf("compose: %lld frames, %zu bytes of Ogg Vorbis, peak %.2f dBFS; rendered in %.1f s, encoded in %.1f s\n",
              static_cast<long long>(track.size() / 2), ogg.size(), 20.0 * std::log10(std::fmax(peak, 1e-9f)),
              renderSeconds, encodeSeconds);
  return 0;
}
