// The soundtrack composer: its beat grid, its determinism, the placement of the kicks, the
// end of the track, the limiter, the statistics' transform, and the stream that the build
// embeds into the show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "resources/embedded.h"
#include "tools/compose/analysis.h"
#include "tools/compose/render.h"
#include "tools/compose/score.h"
#include "tools/compose/vorbis_io.h"

namespace {

using compose::Instrument;

// Beat b starts at frame round(b x 44,100 x 60 / 165), computed here independently of the
// composer's integer arithmetic.
std::int64_t expectedBeatFrame(double beat) { return std::llround(beat * 44100.0 * 60.0 / 165.0); }

const compose::Score& theScore() {
  static const compose::Score score = compose::buildScore();
  return score;
}

double rms(const std::vector<float>& samples) {
  double sum = 0.0;
  for (float v : samples) sum += static_cast<double>(v) * v;
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

float peak(const std::vector<float>& samples) {
  float p = 0.0f;
  for (float v : samples) p = std::max(p, std::fabs(v));
  return p;
}

//----------------------------------------------------------------------------------------

TEST(ComposerBeatGrid, EveryQuarterBeatLandsOnItsRoundedFrameWithoutDrift) {
  for (int quarter = 0; quarter <= 4 * 493; ++quarter) {
    const double beat = quarter / 4.0;
    ASSERT_EQ(compose::frameOfBeat(beat), expectedBeatFrame(beat)) << "beat " << beat;
  }
  EXPECT_EQ(compose::frameOfBeat(480), 7697455);
}

TEST(ComposerScore, KicksFallOnEveryBeatOfTheGroovesAndNowhereInTheBreaks) {
  std::vector<std::int64_t> kicks = theScore().kickStarts;
  auto hasKick = [&](int beat) { return std::binary_search(kicks.begin(), kicks.end(), expectedBeatFrame(beat)); };
  EXPECT_TRUE(hasKick(0)) << "the first kick sounds at frame 0";
  const int grooves[][2] = {{32, 288}, {352, 416}, {420, 487}};
  for (const auto& groove : grooves) {
    for (int b = groove[0]; b < groove[1]; ++b) EXPECT_TRUE(hasKick(b)) << "beat " << b;
  }
  for (int b = 288; b < 344; ++b) EXPECT_FALSE(hasKick(b)) << "breakdown beat " << b;
  for (int b = 416; b < 420; ++b) EXPECT_FALSE(hasKick(b)) << "break beat " << b;
  for (std::int64_t k : kicks) {
    const double beat = static_cast<double>(k) * 165.0 / (60.0 * 44100.0);
    EXPECT_EQ(k, expectedBeatFrame(std::round(beat))) << "every kick stands on a whole beat";
  }
}

TEST(ComposerScore, NotesAreSortedStartOnThe32ndNoteGridAndNoneAfterTheLastHit) {
  const auto& notes = theScore().notes;
  ASSERT_FALSE(notes.empty());
  EXPECT_TRUE(std::is_sorted(notes.begin(), notes.end(),
                             [](const compose::Note& a, const compose::Note& b) { return a.start < b.start; }));
  for (const compose::Note& note : notes) {
    EXPECT_GE(note.start, 0);
    EXPECT_GT(note.length, 0);
    EXPECT_LE(note.start, expectedBeatFrame(486)) << "no note starts after the last hit";
    const double tick = std::round(static_cast<double>(note.start) * 8.0 * 165.0 / (60.0 * 44100.0));
    EXPECT_EQ(note.start, expectedBeatFrame(tick / 8.0)) << "a note off the grid at frame " << note.start;
  }
}

//----------------------------------------------------------------------------------------

TEST(ComposerRendering, TheSameSpanRendersToTheSameSamplesTwice) {
  const std::int64_t first = compose::frameOfBeat(224);
  const std::int64_t count = compose::frameOfBeat(226) - first;
  const std::vector<float> once = compose::renderSpan(theScore(), first, count);
  const std::vector<float> twice = compose::renderSpan(theScore(), first, count);
  ASSERT_EQ(once.size(), static_cast<std::size_t>(2 * count));
  EXPECT_GT(rms(once), 0.05) << "the peak of the track is not silent";
  EXPECT_EQ(0, std::memcmp(once.data(), twice.data(), once.size() * sizeof(float)));
}

TEST(ComposerRendering, KickOnsetsStandWithinAFewFramesOfTheirBeats) {
  for (int beat : {0, 64, 256, 480}) {
    const std::int64_t expected = expectedBeatFrame(beat);
    const std::int64_t first = std::max<std::int64_t>(0, expected - 1000);
    const std::vector<float> kick =
        compose::renderSpan(theScore(), first, 2000, compose::onlyInstrument(Instrument::kick));
    std::int64_t onset = -1;
    for (std::size_t i = 0; i < kick.size() / 2; ++i) {
      if (std::fabs(kick[2 * i]) > 0.01f) {
        onset = first + static_cast<std::int64_t>(i);
        break;
      }
    }
    EXPECT_GE(onset, expected) << "beat " << beat;
    EXPECT_LE(onset, expected + 4) << "beat " << beat;
    EXPECT_GT(peak(kick), 0.3f) << "beat " << beat << " has a full kick";
  }
}

TEST(ComposerRendering, TheTrackIsSilentFromBeat489AndAHalfToItsEnd) {
  const std::int64_t first = compose::frameOfBeat(489.5);
  const std::vector<float> tail = compose::renderSpan(theScore(), first, compose::trackFrameCount - first);
  EXPECT_LT(peak(tail), 1e-4f);
  const std::int64_t hit = compose::frameOfBeat(486);
  EXPECT_GT(peak(compose::renderSpan(theScore(), hit, 4000)), 0.3f) << "the last hit on beat 486";
}

TEST(ComposerLimiter, HoldsABurstAtTheCeilingAndLeavesDistantSamplesAlone) {
  std::vector<float> stereo(2 * 40000);
  for (std::size_t n = 0; n < 40000; ++n) {
    const float tone = 0.3f * std::sin(0.05f * static_cast<float>(n));
    const float burst = (n >= 20000 && n < 20400) ? 4.0f : 1.0f;
    stereo[2 * n] = tone * burst;
    stereo[2 * n + 1] = -tone * burst;
  }
  const std::vector<float> before = stereo;
  compose::limitPeaks(stereo, compose::peakCeiling);
  EXPECT_LE(peak(stereo), compose::peakCeiling);
  EXPECT_GT(peak(stereo), 0.8f * compose::peakCeiling) << "the burst is lowered, not silenced";
  for (std::size_t n = 0; n < 19000; ++n) ASSERT_EQ(stereo[2 * n], before[2 * n]) << "frame " << n;
  EXPECT_NEAR(stereo[2 * 39999] / before[2 * 39999], 1.0f, 0.005f) << "the gain has recovered long after the burst";
}

//----------------------------------------------------------------------------------------

// A made-up spectrum: the colour band flashes to 0.02 on the first video frame of every
// beat, the bass entries stay at 0.05 and disk band 10 sits above its clamp.
TEST(ComposerAnalysis, SectionStatisticsFollowTheSmoothedBandsOfEveryVideoFrame) {
  const auto beatOf = [](std::int64_t position) { return position * 165 / (60 * 44100); };
  const std::vector<compose::AnalysedFrame> frames =
      compose::analyseShowFrames([&](std::int64_t position, float magnitudes[compose::analysisSize]) {
        std::fill(magnitudes, magnitudes + compose::analysisSize, 0.0f);
        const bool firstOfBeat = position == 0 || beatOf(position) != beatOf(position - 735);
        for (int m = 95; m < 110; ++m) magnitudes[m] = firstOfBeat ? 0.02f : 0.0f;
        for (int m = 1; m <= 5; ++m) magnitudes[m] = 0.05f;
        for (int m = 200; m < 215; ++m) magnitudes[m] = 0.03f;
      });
  ASSERT_EQ(frames.size(), 10740u) << "60 frames per second over the show's 179 seconds";
  EXPECT_EQ(frames[1].position, 735);
  EXPECT_NEAR(frames[0].colour, 0.006, 1e-9) << "0.3 of the new value";
  EXPECT_NEAR(frames[1].colour, 0.0042, 1e-9) << "0.7 of the old one";

  const std::vector<compose::SectionStats> sections = compose::sectionStatistics(frames);
  ASSERT_EQ(sections.size(), 11u);
  EXPECT_EQ(sections.front().firstBeat, 0);
  EXPECT_EQ(sections.back().lastBeat, 492);
  const compose::SectionStats& groove = sections[1];
  EXPECT_EQ(groove.firstBeat, 64);
  EXPECT_EQ(groove.lastBeat, 127);
  EXPECT_NEAR(groove.frames, 64 * 44100 * 60 / 165 / 735, 2);
  // 0.006, 0.0042, 0.00294, 0.00206 are above 0.002: four frames of about 21.8 per beat.
  EXPECT_NEAR(groove.colourShare, 4.0 / 21.8, 0.02);
  EXPECT_NEAR(groove.colourFlipsPerBeat, 2.0, 0.05);
  EXPECT_DOUBLE_EQ(groove.bandMean[0], 0.0);
  EXPECT_NEAR(groove.bandMean[2], 0.03, 1e-6);
  EXPECT_DOUBLE_EQ(groove.bandAboveClamp[2], 1.0);
  EXPECT_DOUBLE_EQ(groove.bandAboveClamp[0], 0.0);
  EXPECT_NEAR(groove.bassOnBeatsMin, 0.05, 1e-6);
  EXPECT_NEAR(groove.bassP95, 0.05, 1e-6);
}

//----------------------------------------------------------------------------------------

TEST(EmbeddedTrackStream, IsOneVorbisStreamOfAtMost7851600StereoFramesAt44100Hz) {
  const std::size_t size = static_cast<std::size_t>(embeddedTrackEnd - embeddedTrack);
  ASSERT_EQ(size, static_cast<std::size_t>(embeddedTrackSize));
  ASSERT_GE(size, 4u);
  EXPECT_EQ(0, std::memcmp(embeddedTrack, "OggS", 4)) << "the stream starts with an Ogg page";

  compose::DecodedTrack track;
  std::string error;
  ASSERT_TRUE(compose::decodeVorbis(embeddedTrack, size, track, error)) << error;
  EXPECT_EQ(track.channels, 2);
  EXPECT_EQ(track.rate, 44100);
  EXPECT_EQ(track.userComments, 0);
  EXPECT_LE(track.frames(), 7851600);
  EXPECT_GT(track.frames(), 7800000) << "the whole three minutes are there";
  // The mix peaks at -1.5 dBFS; the lossy coding adds a little on top of a few peaks.
  EXPECT_LT(peak(track.samples), 1.12f);
  EXPECT_GT(peak(track.samples), 0.7f) << "the track is mixed loud";
}

}  // namespace
