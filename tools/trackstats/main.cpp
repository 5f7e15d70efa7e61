// trackstats: decodes the soundtrack's Ogg Vorbis stream and prints, per section of the
// show, how the spectrum bands that the effects read behave (see tools/compose/analysis.h).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/compose/analysis.h"
#include "tools/compose/vorbis_io.h"

int main(int argc, char** argv) {
  const bool trace = argc == 5 && std::string(argv[2]) == "--trace";
  if ((argc != 2 && !trace) || std::string(argv[1]) == "--help") {
    std::fputs("usage: trackstats FILE.ogg [--trace FIRSTBEAT LASTBEAT]\n"
               "Decodes the soundtrack and prints, per section of the show, the share of video frames in\n"
               "which the smoothed colour band (entries 95..109) is above 0.002 and how often it crosses it,\n"
               "mean and 95th percentile of the smoothed disk bands 0, 3 and 10 (share above 0.025), and of\n"
               "the mean of entries 1..5, with its least and mean value on the first frame of each beat.\n"
               "--trace prints these values for every video frame of the beats given instead.\n",
               argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (!file) {
    std::fprintf(stderr, "trackstats: cannot open the stream: %s\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> data;
  unsigned char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) data.insert(data.end(), buffer, buffer + n);
  std::fclose(file);

  compose::DecodedTrack track;
  std::string error;
  if (!compose::decodeVorbis(data.data(), data.size(), track, error)) {
    std::fprintf(stderr, "trackstats: cannot decode the stream: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %zu bytes, %d channels, %ld Hz, %lld frames\n", argv[1], data.size(), track.channels, track.rate,
              static_cast<long long>(track.frames()));
  if (track.channels != 2) {
    std::fprintf(stderr, "trackstats: cannot analyse the stream: it is not stereo\n");
    return 1;
  }
  if (trace) {
    const double first = std::atof(argv[3]), last = std::atof(argv[4]);
    std::printf("%9s %8s | %8s | %8s %8s %8s | %8s\n", "position", "beat", "colour", "band 0", "band 3", "band 10",
                "1..5");
    for (const compose::AnalysedFrame& f : compose::analyseShowFrames(compose::toPlaybackScale(track.samples))) {
      const double beat = static_cast<double>(f.position) * 165.0 / (60.0 * 44100.0);
      if (beat < first || beat >= last + 1.0) continue;
      std::printf("%9lld %8.3f | %8.5f%s | %8.5f %8.5f %8.5f | %8.5f\n", static_cast<long long>(f.position), beat,
                  f.colour, f.colour > 0.002 ? "*" : " ", f.disk[0], f.disk[1], f.disk[2], f.bass);
    }
    return 0;
  }
  const std::vector<compose::SectionStats> stats = compose::sectionStatistics(compose::toPlaybackScale(track.samples));
  std::printf("%-18s %7s | %6s %5s | %-22s | %-22s | %-22s | %-24s\n", "section", "beats", "colour", "flips",
              "band 0 mean/p95/>clamp", "band 3 mean/p95/>clamp", "band 10 mean/p95/>clamp",
              "1..5 mean/p95/beat min/beat mean");
  for (const compose::SectionStats& s : stats) {
    std::printf("%-18s %3d-%-3d | %5.0f%% %5.2f |", s.name.c_str(), s.firstBeat, s.lastBeat, 100.0 * s.colourShare,
                s.colourFlipsPerBeat);
    for (int k = 0; k < 3; ++k) {
      std::printf(" %.4f %.4f %3.0f%%     |", s.bandMean[k], s.bandP95[k], 100.0 * s.bandAboveClamp[k]);
    }
    std::printf(" %.4f %.4f %.4f %.4f\n", s.bassMean, s.bassP95, s.bassOnBeatsMin, s.bassOnBeatsMean);
  }
  return 0;
}
