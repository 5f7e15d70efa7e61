// The show's view of the soundtrack, for checking the mix: the bands that the effects read
// from the spectrum under the play head, smoothed as they smooth them, frame by frame and
// summed up per section of the show. Used by the trackstats program and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace compose {

constexpr int analysisSize = 512;
constexpr std::int64_t showFrameCount = 7893900;  // the show's playback buffer, in frames

struct SectionStats {
  std::string name;
  int firstBeat = 0, lastBeat = 0;  // inclusive
  int frames = 0;                    // analysed video frames
  double colourShare = 0.0;          // share of frames with the smoothed colour band above 0.002
  double colourFlipsPerBeat = 0.0;   // crossings of 0.002, per beat
  double bandMean[3] = {}, bandP95[3] = {}, bandAboveClamp[3] = {};  // disk bands 0, 3, 10
  double bassMean = 0.0, bassP95 = 0.0;  // mean of entries 1..5, unsmoothed
  double bassOnBeatsMin = 0.0;       // least entries 1..5 over the first frames of its beats
  double bassOnBeatsMean = 0.0;      // their mean
};

// One analysed video frame: the smoothed bands as the effects hold them.
struct AnalysedFrame {
  std::int64_t position;  // playback frame
  double colour;          // entries 95..109, smoothed
  double disk[3];         // disk bands 0, 3 and 10, smoothed
  double bass;            // mean of entries 1..5, unsmoothed
};

// Fills the 512 magnitudes of the window that starts at a playback position.
using SpectrumSource = std::function<void(std::int64_t position, float magnitudes[analysisSize])>;

// Every video frame of the show at 60 frames per second: frame n reads the window at
// position floor(n x 44,100 / 60), up to the end of the show's playback buffer.
std::vector<AnalysedFrame> analyseShowFrames(const SpectrumSource& source);

// Sums the analysed frames up per section of the show.
std::vector<SectionStats> sectionStatistics(const std::vector<AnalysedFrame>& analysed);

}  // namespace compose
