// One pass over a track: aubio's phase vocoder for the band fluxes and the pitch
// classes, its tracker and its onset detector, and a low-pass filter for the kicks.
#include "audio/beat_features.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "audio/sample_rate.h"

namespace {
constexpr int window = 1024;
constexpr int chromaWindow = 4096;
constexpr const char* onsetMethod = "energy";
constexpr double lowBandHz = 150.0;     // kicks and bass
constexpr double highBandHz = 2000.0;   // snares, claps, hats
constexpr double lowestPitchHz = 65.0;  // C2 to C7: where chords and bass lines sit
constexpr double highestPitchHz = 2100.0;
constexpr double compression = 10.0;  // the spectrum is compared as log(1 + compression x magnitude)

// Second-order Butterworth low-pass (bilinear transform), run sample by sample.
struct LowPass {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  explicit LowPass(double hz) {
    const double k = std::tan(M_PI * hz / sampleRate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    b0 = k * k * norm;
    b1 = 2.0 * b0;
    b2 = b0;
    a1 = 2.0 * (k * k - 1.0) * norm;
    a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
  }
  double operator()(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// aubio's objects for one pass, released together.
struct Aubio {
  aubio_tempo_t* tempo = new_aubio_tempo("default", window, BeatFeatures::hop, sampleRate);
  aubio_onset_t* onset = new_aubio_onset(onsetMethod, window, BeatFeatures::hop, sampleRate);
  aubio_pvoc_t* pvoc = new_aubio_pvoc(window, BeatFeatures::hop);
  aubio_pvoc_t* chromaPvoc = new_aubio_pvoc(chromaWindow, BeatFeatures::hop* BeatFeatures::chromaHops);
  fvec_t* in = new_fvec(BeatFeatures::hop);
  fvec_t* chromaIn = new_fvec(BeatFeatures::hop * BeatFeatures::chromaHops);
  fvec_t* out = new_fvec(1);
  cvec_t* grain = new_cvec(window);
  cvec_t* chromaGrain = new_cvec(chromaWindow);
  bool ok() const { return tempo && onset && pvoc && chromaPvoc && in && chromaIn && out && grain && chromaGrain; }
  ~Aubio() {
    if (chromaGrain) del_cvec(chromaGrain);
    if (grain) del_cvec(grain);
    if (out) del_fvec(out);
    if (chromaIn) del_fvec(chromaIn);
    if (in) del_fvec(in);
    if (chromaPvoc) del_aubio_pvoc(chromaPvoc);
    if (pvoc) del_aubio_pvoc(pvoc);
    if (onset) del_aubio_onset(onset);
    if (tempo) del_aubio_tempo(tempo);
  }
};
}  // namespace

// What one pass carries from hop to hop.
struct BeatFeatureReader::State {
  Aubio aubio;
  int bins = window / 2 + 1;
  int firstHighBin = static_cast<int>(std::ceil(highBandHz * window / sampleRate));
  std::vector<float> lastLog = std::vector<float>(static_cast<std::size_t>(window / 2 + 1), 0.0f);
  // The pitch class of each chroma bin, or -1 outside the range.
  std::vector<int> pitchClass = std::vector<int>(static_cast<std::size_t>(chromaWindow / 2 + 1), -1);
  LowPass low{lowBandHz};
  double lastLowLevel = 0.0, lastBeat = 0.0, lastOnset = 0.0, confidence = 0.0;
};

BeatFeatureReader::BeatFeatureReader(const float* stereoFrames, std::int64_t frameCount)
    : stereo(stereoFrames), frames(frameCount), hops((frameCount + BeatFeatures::hop - 1) / BeatFeatures::hop) {
  state = new State;
  if (!state->aubio.ok()) {
    hops = 0;  // nothing heard: the analysis falls back
    return;
  }
  f.flux.reserve(static_cast<std::size_t>(hops));
  f.lowFlux.reserve(static_cast<std::size_t>(hops));
  f.highFlux.reserve(static_cast<std::size_t>(hops));
  f.chroma.reserve(static_cast<std::size_t>(hops / BeatFeatures::chromaHops + 1));
  const int chromaBins = chromaWindow / 2 + 1;
  for (int k = 1; k < chromaBins; ++k) {
    const double hz = static_cast<double>(k) * sampleRate / chromaWindow;
    if (hz < lowestPitchHz || hz > highestPitchHz) continue;
    const long midi = std::lround(69.0 + 12.0 * std::log2(hz / 440.0));
    state->pitchClass[k] = static_cast<int>(((midi % 12) + 12) % 12);
  }
}

BeatFeatureReader::~BeatFeatureReader() {
  delete state;
}

bool BeatFeatureReader::step(std::int64_t most) {
  constexpr int hop = BeatFeatures::hop;
  State& st = *state;
  Aubio& aubio = st.aubio;
  const int chromaBins = chromaWindow / 2 + 1;
  for (const std::int64_t end = std::min(hops, next + most); next < end; ++next) {
    const std::int64_t n = next;
    const std::int64_t start = n * hop;
    double energy = 0.0;
    for (int i = 0; i < hop; ++i) {
      const std::int64_t s = start + i;
      const double x = s < frames ? 0.5 * (stereo[2 * s] + stereo[2 * s + 1]) : 0.0;
      aubio.in->data[i] = static_cast<smpl_t>(x);
      aubio.chromaIn->data[(n % BeatFeatures::chromaHops) * hop + i] = static_cast<smpl_t>(x);
      const double y = st.low(x);
      energy += y * y;
    }
    // Low onset strength: the rise of the band's log energy from one hop to the next.
    const double level = std::log1p(1000.0 * energy / hop);
    f.lowFlux.push_back(static_cast<float>(std::max(0.0, level - st.lastLowLevel)));
    st.lastLowLevel = level;

    // Spectral flux: the rise of each bin's log magnitude, summed.
    aubio_pvoc_do(aubio.pvoc, aubio.in, aubio.grain);
    double all = 0.0, high = 0.0;
    for (int k = 1; k < st.bins; ++k) {
      const float logMagnitude = std::log1p(static_cast<float>(compression) * aubio.grain->norm[k]);
      const float rise = std::max(0.0f, logMagnitude - st.lastLog[k]);
      st.lastLog[k] = logMagnitude;
      all += rise;
      if (k >= st.firstHighBin) high += rise;
    }
    f.flux.push_back(static_cast<float>(all));
    f.highFlux.push_back(static_cast<float>(high));

    if (n % BeatFeatures::chromaHops == BeatFeatures::chromaHops - 1 || n == hops - 1) {
      aubio_pvoc_do(aubio.chromaPvoc, aubio.chromaIn, aubio.chromaGrain);
      BeatFeatures::Chroma c{};
      float sum = 0.0f;
      for (int k = 1; k < chromaBins; ++k)
        if (st.pitchClass[k] >= 0) {
          c[st.pitchClass[k]] += aubio.chromaGrain->norm[k];
          sum += aubio.chromaGrain->norm[k];
        }
      if (sum > 1e-6f)
        for (float& v : c) v /= sum;
      else
        c.fill(0.0f);
      f.chroma.push_back(c);
    }

    // A beat or an onset is a new value of the detector's "last" time. (The flag in
    // `out` is the event's fraction of a hop, 0 for one on a hop boundary, and is
    // cleared when the hop itself is silent, as the hop just before a kick can be.)
    // Both are unsigned and can wrap below zero at the very start: kept only within
    // the track.
    aubio_tempo_do(aubio.tempo, aubio.in, aubio.out);
    const double beat = aubio_tempo_get_last(aubio.tempo);
    if (beat != st.lastBeat && beat < static_cast<double>(frames)) f.trackerBeats.push_back(beat);
    st.lastBeat = beat;
    st.confidence += aubio_tempo_get_confidence(aubio.tempo);
    aubio_onset_do(aubio.onset, aubio.in, aubio.out);
    const double when = aubio_onset_get_last(aubio.onset);
    if (when != st.lastOnset && when < static_cast<double>(frames)) f.onsets.push_back(when);
    st.lastOnset = when;
  }
  return next >= hops;
}

BeatFeatures BeatFeatureReader::take() {
  if (hops > 0) f.confidence = state->confidence / static_cast<double>(hops);
  return std::move(f);
}

BeatFeatures readBeatFeatures(const float* stereo, std::int64_t frames) {
  BeatFeatureReader reader(stereo, frames);
  reader.step(reader.hops);
  return reader.take();
}
