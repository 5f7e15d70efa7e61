// The show's view of the soundtrack, for checking the mix: the spectrum of the 512 frames
// under the play head as the effects read it, and per-section statistics of the bands
// they use. Used by the trackstats program and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compose {

constexpr int analysisSize = 512;
constexpr std::int64_t showFrameCount = 7893900;  // the show's playback buffer, in frames

// Scales decoded values as the show's playback buffer holds them: trunc(v x 16,000),
// clipped to 16 bits, then x 1/32,768. Interleaved stereo in, interleaved stereo out.
std::vector<float> toPlaybackScale(const std::vector<float>& decoded);

// Magnitudes / 512 of the 512-point DFT of left + i x right over frames [first, first + 512)
// of interleaved stereo `samples`; frames past the end read as silence.
void analyseWindow(const std::vector<float>& samples, std::int64_t first, float magnitudes[analysisSize]);

// Mean of magnitudes[first .. first + count - 1].
double meanOf(const float magnitudes[analysisSize], int first, int count);

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

// Every video frame of the show at 60 frames per second: frame n reads the window at
// position floor(n x 44,100 / 60), up to the end of the show's playback buffer.
std::vector<AnalysedFrame> analyseShowFrames(const std::vector<float>& playbackSamples);

// Runs the analysis at 60 frames per second (frame n reads position floor(n x 44,100 / 60))
// over the show's length and sums it up per section of the show.
std::vector<SectionStats> sectionStatistics(const std::vector<float>& playbackSamples);

}  // namespace compose
