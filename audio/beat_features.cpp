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
// A stream drops its oldest hops this many at a time (about 4 s; whole chroma spans).
constexpr std::int64_t trimEvery = 86 * BeatFeatures::chromaHops;

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
struct BeatHearing {
  Aubio aubio;
  int bins = window / 2 + 1;
  int firstHighBin = static_cast<int>(std::ceil(highBandHz * window / sampleRate));
  std::vector<float> lastLog = std::vector<float>(static_cast<std::size_t>(window / 2 + 1), 0.0f);
  // The pitch class of each chroma bin, or -1 outside the range.
  std::vector<int> pitchClass = std::vector<int>(static_cast<std::size_t>(chromaWindow / 2 + 1), -1);
  LowPass low{lowBandHz};
  double lastLowLevel = 0.0, confidence = 0.0;
  unsigned lastBeat = 0, lastOnset = 0;
  std::uint64_t heard = 0;  // samples heard (a stream's, since its restart)
  // What the last hop brought that is new: aubio's beat and onset, in its own count
  // of samples (from the pass's start, modulo 2^32).
  bool newBeat = false, newOnset = false;

  BeatHearing() {
    const int chromaBins = chromaWindow / 2 + 1;
    for (int k = 1; k < chromaBins; ++k) {
      const double hz = static_cast<double>(k) * sampleRate / chromaWindow;
      if (hz < lowestPitchHz || hz > highestPitchHz) continue;
      const long midi = std::lround(69.0 + 12.0 * std::log2(hz / 440.0));
      pitchClass[k] = static_cast<int>(((midi % 12) + 12) % 12);
    }
  }
  // Hop n of the pass, mono: its fluxes into `f`, and its pitch classes where a chroma
  // span ends with it (or the pass does: `last`).
  void hear(const float* mono, std::int64_t n, bool last, BeatFeatures& f);
};

void BeatHearing::hear(const float* mono, std::int64_t n, bool last, BeatFeatures& f) {
  constexpr int hop = BeatFeatures::hop;
  const int chromaBins = chromaWindow / 2 + 1;
  double energy = 0.0;
  for (int i = 0; i < hop; ++i) {
    const double x = mono[i];
    aubio.in->data[i] = static_cast<smpl_t>(x);
    aubio.chromaIn->data[(n % BeatFeatures::chromaHops) * hop + i] = static_cast<smpl_t>(x);
    const double y = low(x);
    energy += y * y;
  }
  // Low onset strength: the rise of the band's log energy from one hop to the next.
  const double level = std::log1p(1000.0 * energy / hop);
  f.lowFlux.push_back(static_cast<float>(std::max(0.0, level - lastLowLevel)));
  lastLowLevel = level;

  // Spectral flux: the rise of each bin's log magnitude, summed.
  aubio_pvoc_do(aubio.pvoc, aubio.in, aubio.grain);
  double all = 0.0, high = 0.0;
  for (int k = 1; k < bins; ++k) {
    const float logMagnitude = std::log1p(static_cast<float>(compression) * aubio.grain->norm[k]);
    const float rise = std::max(0.0f, logMagnitude - lastLog[k]);
    lastLog[k] = logMagnitude;
    all += rise;
    if (k >= firstHighBin) high += rise;
  }
  f.flux.push_back(static_cast<float>(all));
  f.highFlux.push_back(static_cast<float>(high));

  if (n % BeatFeatures::chromaHops == BeatFeatures::chromaHops - 1 || last) {
    aubio_pvoc_do(aubio.chromaPvoc, aubio.chromaIn, aubio.chromaGrain);
    BeatFeatures::Chroma c{};
    float sum = 0.0f;
    for (int k = 1; k < chromaBins; ++k)
      if (pitchClass[k] >= 0) {
        c[pitchClass[k]] += aubio.chromaGrain->norm[k];
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
  aubio_tempo_do(aubio.tempo, aubio.in, aubio.out);
  const unsigned beat = aubio_tempo_get_last(aubio.tempo);
  newBeat = beat != lastBeat;
  lastBeat = beat;
  confidence += aubio_tempo_get_confidence(aubio.tempo);
  aubio_onset_do(aubio.onset, aubio.in, aubio.out);
  const unsigned when = aubio_onset_get_last(aubio.onset);
  newOnset = when != lastOnset;
  lastOnset = when;
}

BeatFeatureReader::BeatFeatureReader(const float* stereoFrames, std::int64_t frameCount)
    : stereo(stereoFrames), frames(frameCount), hops((frameCount + BeatFeatures::hop - 1) / BeatFeatures::hop) {
  state = new BeatHearing;
  if (!state->aubio.ok()) {
    hops = 0;  // nothing heard: the analysis falls back
    return;
  }
  f.flux.reserve(static_cast<std::size_t>(hops));
  f.lowFlux.reserve(static_cast<std::size_t>(hops));
  f.highFlux.reserve(static_cast<std::size_t>(hops));
  f.chroma.reserve(static_cast<std::size_t>(hops / BeatFeatures::chromaHops + 1));
}

BeatFeatureReader::~BeatFeatureReader() {
  delete state;
}

bool BeatFeatureReader::step(std::int64_t most) {
  constexpr int hop = BeatFeatures::hop;
  float mono[hop];
  for (const std::int64_t end = std::min(hops, next + most); next < end; ++next) {
    const std::int64_t start = next * hop;
    for (int i = 0; i < hop; ++i) {
      const std::int64_t s = start + i;
      mono[i] = s < frames ? static_cast<float>(0.5 * (stereo[2 * s] + stereo[2 * s + 1])) : 0.0f;
    }
    state->hear(mono, next, next == hops - 1, f);
    // Both times are unsigned and can wrap below zero at the very start: kept only
    // within the track.
    if (state->newBeat && state->lastBeat < frames) f.trackerBeats.push_back(state->lastBeat);
    if (state->newOnset && state->lastOnset < frames) f.onsets.push_back(state->lastOnset);
  }
  return next >= hops;
}

BeatFeatures BeatFeatureReader::take() {
  if (hops > 0) f.confidence = state->confidence / static_cast<double>(hops);
  return std::move(f);
}

BeatFeatureStream::BeatFeatureStream(std::int64_t longestHops) : longest(longestHops) {
  // Room for the longest span and the hops heard before it is trimmed.
  const auto room = static_cast<std::size_t>(longest + trimEvery);
  f.flux.reserve(room);
  f.lowFlux.reserve(room);
  f.highFlux.reserve(room);
  f.chroma.reserve(room / BeatFeatures::chromaHops + 1);
  f.trackerBeats.reserve(room / 8);
  f.onsets.reserve(room);
  restart();
}

BeatFeatureStream::~BeatFeatureStream() {
  delete state;
}

bool BeatFeatureStream::ok() const {
  return state != nullptr && state->aubio.ok();
}

void BeatFeatureStream::restart() {
  delete state;
  state = new BeatHearing;
  f.flux.clear();
  f.lowFlux.clear();
  f.highFlux.clear();
  f.chroma.clear();
  f.trackerBeats.clear();
  f.onsets.clear();
  f.confidence = 0.0;
}

void BeatFeatureStream::hear(const float* mono) {
  if (!ok()) return;
  constexpr int hop = BeatFeatures::hop;
  if (f.hops() >= longest + trimEvery) {
    // The oldest hops go, a whole number of chroma spans at a time, and the times
    // count from the first hop kept.
    const std::int64_t drop = f.hops() - longest;
    for (std::vector<float>* v : {&f.flux, &f.lowFlux, &f.highFlux}) v->erase(v->begin(), v->begin() + drop);
    f.chroma.erase(f.chroma.begin(), f.chroma.begin() + drop / BeatFeatures::chromaHops);
    const double shift = static_cast<double>(drop * hop);
    for (std::vector<double>* v : {&f.trackerBeats, &f.onsets}) {
      v->erase(v->begin(), std::lower_bound(v->begin(), v->end(), shift));
      for (double& t : *v) t -= shift;
    }
  }
  BeatHearing& st = *state;
  st.hear(mono, st.heard / hop, false, f);
  st.heard += hop;
  // Times as aubio counts them wrap every 2^32 samples (a day of listening): each is
  // taken by how long ago it was, and kept where that falls in what is kept.
  const double end = static_cast<double>(f.hops() * hop);
  auto keep = [&](unsigned when, std::vector<double>& into) {
    const auto ago = static_cast<unsigned>(static_cast<unsigned>(st.heard) - when);
    const double at = end - static_cast<double>(ago);
    if (ago <= st.heard && at >= 0.0 && (into.empty() || at > into.back())) into.push_back(at);
  };
  if (st.newBeat) keep(st.lastBeat, f.trackerBeats);
  if (st.newOnset) keep(st.lastOnset, f.onsets);
}

BeatFeatures readBeatFeatures(const float* stereo, std::int64_t frames) {
  BeatFeatureReader reader(stereo, frames);
  reader.step(reader.hops);
  return reader.take();
}
