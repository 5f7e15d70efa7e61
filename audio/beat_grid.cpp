// Tempo and beats of a hand-picked track: aubio's tracker for the tempo, aubio's onsets
// for a least-squares grid, the bar phase from the low end.
#include "audio/beat_grid.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr int window = 1024;
constexpr int hop = 512;
constexpr const char* onsetMethod = "energy";
constexpr int minimumBeats = 16;         // fewer beats from the tracker, or onsets on the grid: no pulse
constexpr double minimumOnGrid = 0.4;    // a smaller share of the onsets on the grid: no steady pulse
constexpr double tempoSearch = 0.04;     // the grid's period is sought within 4 % of the tracker's
constexpr double lowBandHz = 150.0;      // kicks and bass: where bars announce themselves
constexpr double startTolerance = 0.05;  // seconds: a bar start this close before the track's start is its start

// One pass over the track: the tracker's beats, the onsets and the low band's onset
// strength per hop, all in samples.
struct Analysis {
  std::vector<double> trackerBeats;
  std::vector<double> onsets;
  std::vector<float> lowFlux;
  double confidence = 0.0;  // the tracker's confidence in its tempo, averaged over the track
};

Analysis analyse(const float* stereo, std::int64_t frames) {
  Analysis a;
  aubio_tempo_t* tempo = new_aubio_tempo("default", window, hop, sampleRate);
  aubio_onset_t* onset = new_aubio_onset(onsetMethod, window, hop, sampleRate);
  fvec_t* in = new_fvec(hop);
  fvec_t* out = new_fvec(1);
  if (!tempo || !onset || !in || !out) frames = 0;  // nothing found: the fallback
  // Second-order Butterworth low-pass for the low band (bilinear transform).
  const double k = std::tan(M_PI * lowBandHz / sampleRate);
  const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
  const double b0 = k * k * norm, b1 = 2.0 * b0, b2 = b0;
  const double a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double lastLevel = 0.0, lastBeat = 0.0, lastOnset = 0.0, confidence = 0.0;
  a.lowFlux.reserve(static_cast<std::size_t>(frames / hop + 1));
  for (std::int64_t start = 0; start < frames; start += hop) {
    double energy = 0.0;
    for (int i = 0; i < hop; ++i) {
      const std::int64_t f = start + i;
      const double x = f < frames ? 0.5 * (stereo[2 * f] + stereo[2 * f + 1]) : 0.0;
      in->data[i] = static_cast<smpl_t>(x);
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      energy += y * y;
    }
    // Low onset strength: the rise of the band's log energy from one hop to the next.
    const double level = std::log1p(1000.0 * energy / hop);
    a.lowFlux.push_back(static_cast<float>(std::max(0.0, level - lastLevel)));
    lastLevel = level;
    // A beat or an onset is a new value of the detector's "last" time. (The flag in
    // `out` is the event's fraction of a hop, 0 for one on a hop boundary, and is
    // cleared when the hop itself is silent, as the hop just before a kick can be.)
    // Both are unsigned and can wrap below zero at the very start: kept only within
    // the track.
    aubio_tempo_do(tempo, in, out);
    const double beat = aubio_tempo_get_last(tempo);
    if (beat != lastBeat && beat < static_cast<double>(frames)) a.trackerBeats.push_back(beat);
    lastBeat = beat;
    confidence += aubio_tempo_get_confidence(tempo);
    aubio_onset_do(onset, in, out);
    const double when = aubio_onset_get_last(onset);
    if (when != lastOnset && when < static_cast<double>(frames)) a.onsets.push_back(when);
    lastOnset = when;
  }
  if (!a.lowFlux.empty()) a.confidence = confidence / static_cast<double>(a.lowFlux.size());
  if (out) del_fvec(out);
  if (in) del_fvec(in);
  if (onset) del_aubio_onset(onset);
  if (tempo) del_aubio_tempo(tempo);
  return a;
}

// Beats that begin between the first beat and the end of the track.
std::int64_t beatsBegun(std::int64_t frames, double first, double period) {
  const double span = static_cast<double>(frames) - first;
  return span > 0 ? static_cast<std::int64_t>(std::ceil(span / period)) : 0;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// A steady grid offset + k x period through the onsets.
struct GridFit {
  double offset = 0.0;  // samples
  double period = 0.0;  // samples
  int onGrid = 0;       // onsets within a 32nd of a beat of its beats and half beats
  double errorMs = 0.0;
};

double residual(double t, double offset, double period) {
  return t - (offset + std::round((t - offset) / period) * period);
}

// Onsets within `tolerance` of the grid, their squared distances summed.
int countNear(const std::vector<double>& onsets, double offset, double period, double tolerance, double* squares) {
  int n = 0;
  for (double t : onsets) {
    const double r = residual(t, offset, period);
    if (std::fabs(r) <= tolerance) {
      ++n;
      if (squares) *squares += r * r;
    }
  }
  return n;
}

// The phase within `period` where most onsets fall, to a 32nd of the period.
double densestPhase(const std::vector<double>& onsets, double period, int* count) {
  constexpr int bins = 32;
  constexpr int span = 4;  // an eighth of the period
  int histogram[bins] = {};
  for (double t : onsets) {
    double phase = std::fmod(t, period) / period;
    if (phase < 0) phase += 1.0;
    ++histogram[std::min(bins - 1, static_cast<int>(phase * bins))];
  }
  int best = -1, at = 0;
  for (int b = 0; b < bins; ++b) {
    int sum = 0;
    for (int j = 0; j < span; ++j) sum += histogram[(b + j) % bins];
    if (sum > best) {
      best = sum;
      at = b;
    }
  }
  *count = best;
  return (at + span / 2.0) / bins * period;
}

// The grid through most onsets: the period searched within tempoSearch of `around`
// (or fixed), the phase from the onsets (or fixed), then both refined by least
// squares over the onsets near the grid.
GridFit fitGrid(const std::vector<double>& onsets, double around, std::int64_t frames, bool fixedPeriod,
                double fixedOffset) {
  GridFit fit;
  if (onsets.size() < 2 || around <= 0) return fit;
  fit.period = around;
  int best = -1;
  if (!fixedPeriod) {
    // Steps small enough that the grid moves by less than a 16th of a beat over the track.
    const double beatsInTrack = std::max(1.0, static_cast<double>(frames) / around);
    const double step = around / (16.0 * beatsInTrack);
    const int steps = static_cast<int>(std::min(4000.0, tempoSearch * around / step));
    for (int i = -steps; i <= steps; ++i) {
      const double period = around * (1.0 + tempoSearch * i / std::max(1, steps));
      int count;
      const double offset = fixedOffset >= 0 ? fixedOffset : densestPhase(onsets, period, &count);
      if (fixedOffset >= 0) count = countNear(onsets, offset, period, period / 16, nullptr);
      if (count > best) {
        best = count;
        fit.period = period;
        fit.offset = offset;
      }
    }
  } else {
    int count;
    fit.offset = fixedOffset >= 0 ? fixedOffset : densestPhase(onsets, around, &count);
  }
  for (int round = 0; round < 3; ++round) {
    double n = 0, sk = 0, skk = 0, st = 0, skt = 0;
    for (double t : onsets) {
      const double k = std::round((t - fit.offset) / fit.period);
      if (std::fabs(t - (fit.offset + k * fit.period)) > fit.period / 8) continue;
      n += 1;
      sk += k;
      skk += k * k;
      st += t;
      skt += k * t;
    }
    if (n < 2) break;
    if (fixedOffset >= 0 && !fixedPeriod) {
      if (skk > 0) fit.period = (skt - fit.offset * sk) / skk;
    } else if (fixedPeriod && fixedOffset < 0) {
      fit.offset = (st - fit.period * sk) / n;
    } else if (!fixedPeriod) {
      const double det = n * skk - sk * sk;
      if (det <= 0) break;
      fit.period = (n * skt - sk * st) / det;
      fit.offset = (st - fit.period * sk) / n;
    }
  }
  // The share is taken on the grid's half beats, so that music whose onsets fall on
  // eighth notes (or a grid through every other beat) counts them all.
  double squares = 0.0;
  fit.onGrid = countNear(onsets, fit.offset, fit.period / 2, fit.period / 32, &squares);
  fit.errorMs = fit.onGrid > 0 ? 1000.0 * std::sqrt(squares / fit.onGrid) / sampleRate : 0.0;
  return fit;
}

// The bar start. Candidates step by half the finer of the fitted and the final beat
// over one bar of the final grid (the fitted grid may run through every other beat
// of the music); those whose beats (every `period`) meet clearly fewer onsets than the
// best are off-beats and are passed over; of the rest, the one whose bar starts
// (every fourth beat) meet the strongest low onsets wins.
double strongestBarPhase(const Analysis& a, double offset, double fittedPeriod, double period) {
  const double step = std::min(period, fittedPeriod) / 2;
  const int count = std::max(1, static_cast<int>(std::lround(4 * period / step)));
  std::vector<int> support(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) support[i] = countNear(a.onsets, offset + i * step, period, step / 2, nullptr);
  const int mostSupport = *std::max_element(support.begin(), support.end());
  const auto hops = static_cast<long>(a.lowFlux.size());
  double best = offset;
  double bestScore = -1.0;
  for (int i = 0; i < count; ++i) {
    if (4 * support[i] < 3 * mostSupport) continue;
    const double phase = offset + i * step;
    double first = std::fmod(phase, 4 * period);
    if (first < 0) first += 4 * period;
    double score = 0.0;
    int bars = 0;
    for (double at = first; at < static_cast<double>(hops) * hop; at += 4 * period) {
      const long centre = std::lround(at / hop);
      float peak = 0.0f;
      for (long h = std::max(0L, centre - 2); h <= std::min(hops - 1, centre + 2); ++h)
        peak = std::max(peak, a.lowFlux[h]);
      score += peak;
      ++bars;
    }
    if (bars > 0) score /= bars;
    if (score > bestScore + 1e-9) {
      bestScore = score;
      best = phase;
    }
  }
  return best;
}
}  // namespace

const char* tempoSourceName(TempoSource source) {
  switch (source) {
    case TempoSource::detected:
      return "detected";
    case TempoSource::given:
      return "given";
    default:
      return "fallback";
  }
}

double foldTempo(double bpm) {
  if (!(bpm > 0) || !std::isfinite(bpm)) return bpm;
  while (bpm < lowestBpm) bpm *= 2;
  while (bpm > highestBpm) bpm /= 2;
  // Now bpm <= 190; below 110 means the octave above overshoots 190: take the nearer.
  if (bpm < lowestBpm && (2 * bpm) / highestBpm < lowestBpm / bpm) bpm *= 2;
  return bpm;
}

BeatGrid findBeatGrid(const float* stereo, std::int64_t frames, const BeatRequest& request) {
  BeatGrid grid;
  const bool givenTempo = request.bpm > 0;
  const bool givenFirst = request.firstBeatSeconds >= 0;
  if (givenTempo && givenFirst) {
    // Nothing left to find.
    grid.source = TempoSource::given;
    grid.bpm = request.bpm;
    grid.firstBeatSamples = request.firstBeatSeconds * sampleRate;
    grid.firstBeatSeconds = request.firstBeatSeconds;
    grid.beatSamples = 60.0 * sampleRate / grid.bpm;
    grid.beats = beatsBegun(frames, grid.firstBeatSamples, grid.beatSamples);
    return grid;
  }
  const Analysis a = analyse(stereo, frames);
  grid.trackedBeats = static_cast<int>(a.trackerBeats.size());
  grid.confidence = a.confidence;

  // The tracker's beats give the tempo roughly (its period is whole hops, and its
  // beats wander around the music by up to half a beat); the onsets near a grid of
  // about that period place the grid exactly.
  std::vector<double> gaps;
  for (std::size_t i = 1; i < a.trackerBeats.size(); ++i) gaps.push_back(a.trackerBeats[i] - a.trackerBeats[i - 1]);
  const double trackerPeriod = median(gaps);
  double around = trackerPeriod;
  if (givenTempo && trackerPeriod > 0) {
    // The octave of the given tempo nearest to the tracker's.
    const double given = 60.0 * sampleRate / request.bpm;
    around = given * std::exp2(std::round(std::log2(trackerPeriod / given)));
  }
  const GridFit fit =
      fitGrid(a.onsets, around, frames, givenTempo, givenFirst ? request.firstBeatSeconds * sampleRate : -1.0);
  grid.onGrid = a.onsets.empty() ? 0.0 : static_cast<double>(fit.onGrid) / static_cast<double>(a.onsets.size());
  grid.gridErrorMs = fit.errorMs;
  const bool pulse =
      grid.trackedBeats >= minimumBeats && fit.period > 0 && fit.onGrid >= minimumBeats && grid.onGrid >= minimumOnGrid;
  if (!pulse) {
    char why[128];
    if (grid.trackedBeats < minimumBeats || fit.onGrid < minimumBeats)
      std::snprintf(why, sizeof why, "no pulse (%d onsets on a beat grid)", fit.onGrid);
    else
      std::snprintf(why, sizeof why, "no steady pulse (%.0f %% of the onsets on a beat grid)", 100 * grid.onGrid);
    grid.note = why;
    if (givenTempo && !givenFirst) grid.note += "; the given tempo starts at the first sample";
  }

  if (givenTempo) {
    grid.source = TempoSource::given;
    grid.bpm = request.bpm;
  } else if (pulse) {
    grid.source = TempoSource::detected;
    grid.bpm = foldTempo(60.0 * sampleRate / fit.period);
  } else {
    grid.source = TempoSource::fallback;
    grid.bpm = fallbackBpm;
  }
  const double period = 60.0 * sampleRate / grid.bpm;

  double first;  // samples
  if (givenFirst) {
    first = request.firstBeatSeconds * sampleRate;
  } else if (!pulse) {
    first = 0.0;  // from the first sample
  } else {
    first = strongestBarPhase(a, fit.offset, fit.period, period);
    // The earliest bar start of that phase from the beginning of the track.
    const double bar = 4 * period;
    first -= std::floor((first + startTolerance * sampleRate) / bar) * bar;
    // One that falls just before the first sample is the music's start, which the
    // fit misses by its error of a few milliseconds: the show's beat 0 stays in the track.
    first = std::max(first, 0.0);
  }
  grid.firstBeatSamples = first;
  grid.firstBeatSeconds = first / sampleRate;
  grid.beatSamples = period;
  grid.beats = beatsBegun(frames, first, period);
  return grid;
}
