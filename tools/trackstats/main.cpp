// trackstats: shows how the effects will see the soundtrack. Decodes the stream with the
// show's own decoder into the show's playback buffer, runs the show's spectrum analysis at
// 60 frames per second and prints, per section of the show, the bands that the effects read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "resources/embedded.h"
#include "tools/compose/analysis.h"

namespace {

const char usage[] =
    "usage: trackstats [FILE.ogg] [--trace FIRSTBEAT LASTBEAT]\n"
    "\n"
    "Decodes the soundtrack (FILE.ogg, or the stream built into this program) as the show does\n"
    "and prints, per section of the show: the share of video frames in which the smoothed colour\n"
    "band (entries 95..109) is above 0.002 and how often per beat it crosses it; mean, 95th\n"
    "percentile and share above the clamp 0.025 of the smoothed disk bands 0, 3 and 10; and mean\n"
    "and 95th percentile of the mean of entries 1..5, with its least and mean value on the first\n"
    "frame of each beat. --trace prints these values for every video frame of the beats given.\n";

int fail(const std::string& what, const std::string& why) {
  std::fprintf(stderr, "trackstats: %s: %s\n", what.c_str(), why.c_str());
  return 1;
}

void printSections(const std::vector<compose::AnalysedFrame>& frames) {
  std::printf("%-18s %7s | %6s %5s | %-22s | %-22s | %-22s | %s\n", "section", "beats", "colour", "flips",
              "band 0 mean/p95/>clamp", "band 3 mean/p95/>clamp", "band 10 mean/p95/>clamp",
              "1..5 mean/p95/beat min/beat mean");
  for (const compose::SectionStats& s : compose::sectionStatistics(frames)) {
    std::printf("%-18s %3d-%-3d | %5.0f%% %5.2f |", s.name.c_str(), s.firstBeat, s.lastBeat, 100.0 * s.colourShare,
                s.colourFlipsPerBeat);
    for (int k = 0; k < 3; ++k) std::printf(" %.4f %.4f %3.0f%%     |", s.bandMean[k], s.bandP95[k], 100.0 * s.bandAboveClamp[k]);
    std::printf(" %.4f %.4f %.4f %.4f\n", s.bassMean, s.bassP95, s.bassOnBeatsMin, s.bassOnBeatsMean);
  }
}

void printTrace(const std::vector<compose::AnalysedFrame>& frames, double firstBeat, double lastBeat) {
  std::printf("%9s %8s | %8s  | %8s %8s %8s | %8s\n", "position", "beat", "colour", "band 0", "band 3", "band 10",
              "1..5");
  for (const compose::AnalysedFrame& f : frames) {
    const double beat = static_cast<double>(f.position) * 165.0 / (60.0 * 44100.0);
    if (beat < firstBeat || beat >= lastBeat + 1.0) continue;
    std::printf("%9lld %8.3f | %8.5f%s | %8.5f %8.5f %8.5f | %8.5f\n", static_cast<long long>(f.position), beat,
                f.colour, f.colour > 0.002 ? "*" : " ", f.disk[0], f.disk[1], f.disk[2], f.bass);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool trace = false;
  double firstBeat = 0.0, lastBeat = 0.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--trace") && i + 2 < argc) {
      trace = true;
      firstBeat = std::atof(argv[i + 1]);
      lastBeat = std::atof(argv[i + 2]);
      i += 2;
    } else if (argv[i][0] != '-' && path.empty()) {
      path = argv[i];
    } else {
      std::fprintf(stderr, "trackstats: bad option: %s\n%s", argv[i], usage);
      return 2;
    }
  }

  std::vector<unsigned char> data;
  if (path.empty()) {
    data.assign(embeddedTrack, embeddedTrack + embeddedTrackSize);
    path = "the embedded stream";
  } else {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return fail("cannot open " + path, std::strerror(errno));
    unsigned char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) data.insert(data.end(), buffer, buffer + n);
    std::fclose(file);
  }

  TrackDecoder decoder(data.data(), static_cast<int>(data.size()));
  if (!decoder.open()) return fail("cannot decode " + path, "no Vorbis stream");
  const int channels = decoder.channels();
  const long rate = decoder.rate();
  decoder.decodeAll();
  if (channels != 2) {
    decoder.clear();
    return fail("cannot analyse " + path, "the stream is not stereo");
  }
  const std::uint32_t frames = fillPlaybackBuffer(decoder.pcmData, decoder.pcmBytes());
  decoder.clear();
  std::printf("%s: %zu bytes, %d channels, %ld Hz, %u frames\n", path.c_str(), data.size(), channels, rate, frames);

  // The show's own transform over the show's own buffer, zero guard included.
  const std::vector<compose::AnalysedFrame> analysed =
      compose::analyseShowFrames([](std::int64_t position, float magnitudes[compose::analysisSize]) {
        analyseSpectrum(playbackBuffer + 2 * position);
        std::memcpy(magnitudes, spectrum, sizeof spectrum);
      });
  if (trace) {
    printTrace(analysed, firstBeat, lastBeat);
  } else {
    printSections(analysed);
  }
  return 0;
}
