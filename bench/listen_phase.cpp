// listen_phase: where the listening show's beat marker steps, against the beats of the
// song it heard, from what outside programs recorded on the wall clock (scripts/listen-check).
//   listen_phase BEATS SONG_SOUND LIVE_SOUND MARKER WIDTH MARKER_TIMES FROM_S
// BEATS: the song's beats, seconds from its start, one a line. SONG_SOUND and
// LIVE_SOUND: ffmpeg's lavfi.astats.Overall.RMS_level printouts of the song's file (from
// 0) and of the sound server's recording (on the wall clock), which place the song's
// start on the wall clock. MARKER: the grab of the marker's column, 8-bit grey frames
// WIDTH pixels wide, one after the other, the picture's full height; MARKER_TIMES: their time stamps (the
// "pts_time:" of ffmpeg's showinfo). The marker steps one notch down the picture each
// beat, at its brightest on the beat; each step after FROM_S seconds of the song is
// compared with the nearest beat: the median and nine in ten of the differences
// (positive: the picture late), and the tempo the steps keep.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/series.h"

namespace {
// The marker's notches, as the show draws them: the first from 0.9 down to 0.87 of the
// picture's half height above its middle, each next one 1.77 / 64 lower.
constexpr double markerTop = 0.9, markerStep = 0.02765625;
constexpr int notches = 64;
constexpr int holdFrames = 20;           // a tenth of a second at 200 frames a second
constexpr std::size_t lookBackFrames = 40;  // and a fifth
constexpr double standsOut = 3.0;  // grey levels: a notch that stands out less is no marker

std::vector<double> readNumbers(const char* path, const char* after) {
  std::vector<double> numbers;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return numbers;
  char line[1024];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    const char* at = after != nullptr ? std::strstr(line, after) : line;
    if (at != nullptr) numbers.push_back(std::strtod(at + (after != nullptr ? std::strlen(after) : 0), nullptr));
  }
  std::fclose(file);
  return numbers;
}

// The notch the marker is on in one grey frame of `width` x `height`: where a band as
// high as a notch stands out most from the rows just above and below it (the scenes
// behind run mostly up and down there), the median over the columns; -1 where none
// stands out. Every notch's level into `levels`.
int notchOf(const unsigned char* frame, int width, int height, double* levels) {
  std::vector<double> columns(static_cast<std::size_t>(width));
  const auto row = [&](int y, int x) { return static_cast<double>(frame[std::clamp(y, 0, height - 1) * width + x]); };
  const int rows = std::max(1, static_cast<int>(0.03 * 0.5 * height) - 2);
  int best = -1;
  double bestLevel = standsOut;
  for (int n = 0; n < notches; ++n) {
    levels[n] = 0.0;
    const int top = static_cast<int>(std::lround((1.0 - markerTop + n * markerStep) * 0.5 * height)) + 1;
    if (top + rows + 2 > height) continue;
    for (int x = 0; x < width; ++x) {
      double inside = 0;
      for (int y = top; y < top + rows; ++y) inside += row(y, x);
      columns[x] = inside / rows - 0.5 * (row(top - 3, x) + row(top + rows + 2, x));
    }
    std::nth_element(columns.begin(), columns.begin() + width / 2, columns.end());
    levels[n] = columns[width / 2];
    if (levels[n] > bestLevel) bestLevel = levels[n], best = n;
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: listen_phase BEATS SONG_SOUND LIVE_SOUND MARKER WIDTH MARKER_TIMES FROM_S\n");
    return 2;
  }
  const std::vector<double> beats = readNumbers(argv[1], nullptr);
  Series song, live;
  if (beats.size() < 8 || !readSeries(argv[2], "lavfi.astats.Overall.RMS_level", true, song) ||
      !readSeries(argv[3], "lavfi.astats.Overall.RMS_level", true, live)) {
    std::fprintf(stderr, "listen_phase: no beats or no sound levels\n");
    return 1;
  }
  double songStart = 0;
  if (!alignment(song, live, songStart)) {
    std::fprintf(stderr, "listen_phase: the recording does not match the song\n");
    return 1;
  }
  std::vector<double> times = readNumbers(argv[6], " pts:");  // x11grab's: microseconds
  for (double& t : times) t /= 1e6;
  std::FILE* grab = std::fopen(argv[4], "rb");
  if (grab == nullptr || times.empty()) return 1;
  std::fseek(grab, 0, SEEK_END);
  const long bytes = std::ftell(grab);
  std::fseek(grab, 0, SEEK_SET);
  const long frameBytes = bytes / static_cast<long>(times.size());
  const int width = std::atoi(argv[5]);
  if (width <= 0 || frameBytes < width) return 1;
  const int height = static_cast<int>(frameBytes / width);
  std::vector<unsigned char> frame(static_cast<std::size_t>(frameBytes));
  // A step: the notch below the marker's lights up. Anything else that stands out (a
  // caption, a scene's own lines) is taken for the marker only once it holds for a
  // tenth of a second (where a new scene starts the marker's count again).
  std::vector<double> steps;
  std::vector<double> levels(times.size() * notches);
  int current = -1, other = -1, otherFrames = 0;
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (std::fread(frame.data(), 1, frame.size(), grab) != frame.size()) break;
    double* level = &levels[i * notches];
    const int notch = notchOf(frame.data(), width, height, level);
    if (notch < 0 || notch == current) continue;
    if (current >= 0 && notch == (current + 1) % notches) {
      // The notch may have lit up a few frames before it outshone the rest: its
      // first frame at half the level it has here or more.
      std::size_t first = i;
      while (first > 0 && i - first < lookBackFrames && levels[(first - 1) * notches + notch] >= 0.5 * level[notch])
        --first;
      steps.push_back(times[first]);
      current = notch;
      continue;
    }
    otherFrames = notch == other ? otherFrames + 1 : 1;
    other = notch;
    if (otherFrames >= holdFrames) current = notch;
  }
  std::fclose(grab);

  const double from = songStart + std::atof(argv[7]);
  std::vector<double> errors, intervals;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] < from || steps[i] - songStart > beats.back()) continue;
    const double at = steps[i] - songStart;
    const auto after = std::lower_bound(beats.begin(), beats.end(), at);
    double nearest = after == beats.end() ? beats.back() : *after;
    if (after != beats.begin() && (after == beats.end() || at - *(after - 1) < *after - at)) nearest = *(after - 1);
    errors.push_back((at - nearest) * 1000.0);
    if (std::getenv("LISTEN_PHASE_DEBUG")) std::fprintf(stderr, "%.3f %+.1f\n", at, errors.back());
    if (i > 0 && steps[i - 1] >= from) intervals.push_back(steps[i] - steps[i - 1]);
  }
  if (errors.empty()) {
    std::printf("no marker steps after %.0f s of the song\n", std::atof(argv[7]));
    return 0;
  }
  std::vector<double> sorted = errors, distances;
  std::sort(sorted.begin(), sorted.end());
  for (double e : errors) distances.push_back(std::abs(e));
  std::sort(distances.begin(), distances.end());
  std::sort(intervals.begin(), intervals.end());
  const double bpm = intervals.empty() ? 0.0 : 60.0 / intervals[intervals.size() / 2];
  std::printf("song start %.3f  steps %zu  median %+.1f ms  9/10 within %.1f ms  steps' tempo %.1f bpm\n", songStart,
              errors.size(), sorted[sorted.size() / 2], distances[distances.size() * 9 / 10], bpm);
  return 0;
}
