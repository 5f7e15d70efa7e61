// The show's view of the soundtrack (see analysis.h).
#include "tools/compose/analysis.h"

#include <algorithm>
#include <cmath>

namespace compose {

namespace {

constexpr double smoothingNew = 0.3;  // the effects smooth their bands 0.3 new, 0.7 old
constexpr double colourThreshold = 0.002;
constexpr double diskClamp = 0.025;
constexpr int colourFirst = 95, bandCount = 15;
constexpr int diskBands[3] = {0, 3, 10};
constexpr int bassFirst = 1, bassCount = 5;
constexpr int framesPerSecond = 60;

struct Section {
  const char* name;
  int firstBeat, lastBeat;
};
constexpr Section sections[] = {
    {"intro", 0, 63},         {"first groove", 64, 127}, {"lead enters", 128, 191},
    {"peak", 192, 223},       {"peak, strongest", 224, 255}, {"peak, last phrase", 256, 287},
    {"breakdown", 288, 351},  {"second peak", 352, 415}, {"break", 416, 419},
    {"final groove", 420, 485}, {"end", 486, 492},
};

int beatOfPosition(std::int64_t position) { return static_cast<int>((position * 165) / (60 * 44100)); }

double percentile95(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const std::size_t k = static_cast<std::size_t>(0.95 * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

double meanOfValues(const std::vector<double>& values) {
  double sum = 0.0;
  for (double v : values) sum += v;
  return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

// Mean of magnitudes[first .. first + count - 1], summed in double precision as bandLevel does.
double meanOf(const float magnitudes[analysisSize], int first, int count) {
  double sum = 0.0;
  for (int i = first; i < first + count; ++i) sum += magnitudes[i];
  return sum / count;
}

}  // namespace

std::vector<AnalysedFrame> analyseShowFrames(const SpectrumSource& source) {
  std::vector<AnalysedFrame> frames;
  double colour = 0.0, disk[3] = {0.0, 0.0, 0.0};
  float magnitudes[analysisSize];
  for (std::int64_t n = 0;; ++n) {
    const std::int64_t position = n * 44100 / framesPerSecond;
    if (position >= showFrameCount) break;
    source(position, magnitudes);
    colour += smoothingNew * (meanOf(magnitudes, colourFirst, bandCount) - colour);
    AnalysedFrame frame{position, colour, {}, meanOf(magnitudes, bassFirst, bassCount)};
    for (int k = 0; k < 3; ++k) {
      disk[k] += smoothingNew * (meanOf(magnitudes, 50 + bandCount * diskBands[k], bandCount) - disk[k]);
      frame.disk[k] = disk[k];
    }
    frames.push_back(frame);
  }
  return frames;
}

std::vector<SectionStats> sectionStatistics(const std::vector<AnalysedFrame>& analysed) {
  std::vector<SectionStats> stats;
  struct Frame {
    int beat;
    bool firstOfBeat;
    double colour, disk[3], bass;
  };
  std::vector<Frame> frames;
  int previousBeat = -1;
  for (const AnalysedFrame& a : analysed) {
    Frame frame{beatOfPosition(a.position), false, a.colour, {a.disk[0], a.disk[1], a.disk[2]}, a.bass};
    frame.firstOfBeat = frame.beat != previousBeat;
    previousBeat = frame.beat;
    frames.push_back(frame);
  }

  for (const Section& section : sections) {
    SectionStats s;
    s.name = section.name;
    s.firstBeat = section.firstBeat;
    s.lastBeat = section.lastBeat;
    std::vector<double> disks[3], bass, bassOnKicks;
    int above = 0, flips = 0;
    bool wasAbove = false, first = true;
    for (const Frame& f : frames) {
      if (f.beat < section.firstBeat || f.beat > section.lastBeat) continue;
      ++s.frames;
      const bool isAbove = f.colour > colourThreshold;
      above += isAbove;
      if (!first && isAbove != wasAbove) ++flips;
      wasAbove = isAbove;
      first = false;
      for (int k = 0; k < 3; ++k) disks[k].push_back(f.disk[k]);
      bass.push_back(f.bass);
      if (f.firstOfBeat) bassOnKicks.push_back(f.bass);
    }
    if (s.frames == 0) continue;
    s.colourShare = static_cast<double>(above) / s.frames;
    s.colourFlipsPerBeat = static_cast<double>(flips) / (section.lastBeat - section.firstBeat + 1);
    for (int k = 0; k < 3; ++k) {
      s.bandMean[k] = meanOfValues(disks[k]);
      s.bandP95[k] = percentile95(disks[k]);
      s.bandAboveClamp[k] =
          static_cast<double>(std::count_if(disks[k].begin(), disks[k].end(), [](double v) { return v > diskClamp; })) /
          static_cast<double>(disks[k].size());
    }
    s.bassMean = meanOfValues(bass);
    s.bassP95 = percentile95(bass);
    s.bassOnBeatsMin = bassOnKicks.empty() ? 0.0 : *std::min_element(bassOnKicks.begin(), bassOnKicks.end());
    s.bassOnBeatsMean = meanOfValues(bassOnKicks);
    stats.push_back(s);
  }
  return stats;
}

}  // namespace compose
