// Tempo, beats and bars of a hand-picked track, from what readBeatFeatures hears.
#include "audio/beat_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "audio/beat_features.h"

namespace {
constexpr int hop = BeatFeatures::hop;
constexpr int minimumBeats = 16;           // a track shorter than this many beats has no pulse to find
constexpr double minimumPulse = 1.5;       // less onset strength on a grid than this times chance: no steady pulse
constexpr double silentFlux = 1e-3;        // a mean onset strength below this: silence
constexpr double searchLowBpm = 96.0;      // tempos are sought within one octave, where each appears once
constexpr double searchHighBpm = 192.0;    //   (and folded into the show's range afterwards)
constexpr double candidateSearch = 0.04;   // a candidate's period is searched within 4 % of it
constexpr double sameTempo = 0.03;         // candidates closer than this are one
constexpr int phaseBins = 48;              // a beat folded onto 48 bins (about 9 ms at 140 bpm)
constexpr double localMeanSeconds = 0.4;   // the onset strength less its mean over this span
constexpr double startTolerance = 0.05;    // seconds: a bar start this close before the track's start is its start
constexpr double clearBeat = 0.5;          // onsets on the beats this share of their mean ahead of those between decide
constexpr double clearHarmony = 0.5;       // a harmony cue leading by less (on its scale) counts in part
constexpr double clearChords = 1.0;        // chords changing this far ahead at one place (on its scale) decide the beat
constexpr double sameCue = 1e-9;           // cue values closer than this are equal
constexpr double noChange = 0.01;          // pitch classes changing less (0 to 1) are a loop or drums alone
constexpr long twoBarPhrases = 16;         // bars a track needs for phrases to be weighed over two bars
constexpr double localTempoChange = 0.01;  // a local tempo this far from the steady grid's: it moves
constexpr double steadyErrorMs = 30.0;     // a steady grid further than this from the beats somewhere: a tempo map

double periodOf(double bpm) {
  return 60.0 * sampleRate / bpm;
}
double bpmOf(double period) {
  return 60.0 * sampleRate / period;
}

// A period moved by octaves into the search octave.
double intoSearchOctave(double period) {
  if (!(period > 0) || !std::isfinite(period)) return 0.0;
  while (bpmOf(period) < searchLowBpm) period /= 2;
  while (bpmOf(period) >= searchHighBpm) period *= 2;
  return period;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The onset strength the grids are judged by: the whole spectrum's flux and the low
// band's, each scaled to a mean of 1 and added, less their local mean (steady noise
// counts for nothing), never below 0.
std::vector<float> onsetStrength(const BeatFeatures& f) {
  const std::size_t n = f.flux.size();
  std::vector<double> sum(n, 0.0);
  for (const std::vector<float>* band : {&f.flux, &f.lowFlux}) {
    double total = 0.0;
    for (float v : *band) total += v;
    if (!(total > 0)) continue;
    const double scale = static_cast<double>(n) / total;
    for (std::size_t i = 0; i < n; ++i) sum[i] += scale * (*band)[i];
  }
  std::vector<double> running(n + 1, 0.0);
  for (std::size_t i = 0; i < n; ++i) running[i + 1] = running[i] + sum[i];
  const auto radius = static_cast<std::size_t>(std::lround(localMeanSeconds / 2 * sampleRate / hop));
  std::vector<float> e(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t from = i > radius ? i - radius : 0, to = std::min(n, i + radius + 1);
    const double mean = (running[to] - running[from]) / static_cast<double>(to - from);
    e[i] = static_cast<float>(std::max(0.0, sum[i] - mean));
  }
  return e;
}

// A steady grid as the onset strength sees it: its period and the phase of its beats
// in samples, and its pulse: the strength on its beats, eighths (straight or swung)
// and sixteenths, weighted 1, 1/2 and 1/4, against what a grid at a random phase meets.
struct Comb {
  double period = 0.0;
  double phase = 0.0;
  double pulse = 0.0;
  double bars = 0.0;  // how the music repeats after 4, 8 and 16 of its beats
  // What candidates are ranked by: a pulse on the beats, in bars that repeat.
  double rank() const { return pulse * (1.0 + std::max(0.0, bars)); }
};

struct Folded {
  double bins[phaseBins] = {};
  double window(int b) const {
    return bins[(b + phaseBins - 1) % phaseBins] + bins[b % phaseBins] + bins[(b + 1) % phaseBins];
  }
  double pulseAt(int b, double total) const {
    if (!(total > 0)) return 0.0;
    const double eighth = std::max(window(b + phaseBins / 2), window(b + 2 * phaseBins / 3));
    const double sixteenths = window(b + phaseBins / 4) + window(b + 3 * phaseBins / 4);
    const double chance = total * 3.0 / phaseBins;
    return (window(b) + 0.5 * eighth + 0.25 * sixteenths) / (2.0 * chance);
  }
};

// The onset strength folded onto the beats of a map whose tempo moves.
Folded fold(const std::vector<float>& e, const BeatMap& map) {
  Folded f;
  for (std::size_t n = 0; n < e.size(); ++n) {
    const double beat = map.beatAt(BeatFeatures::positionOf(static_cast<double>(n)));
    f.bins[std::min(phaseBins - 1, static_cast<int>((beat - std::floor(beat)) * phaseBins))] += e[n];
  }
  return f;
}

// The onset strength of hops [from, to) folded onto one period.
Folded fold(const std::vector<float>& e, double period, std::size_t from = 0, std::size_t to = SIZE_MAX) {
  Folded f;
  to = std::min(to, e.size());
  const double step = hop / period * phaseBins;
  double at = std::fmod(BeatFeatures::positionOf(static_cast<double>(from)) / period * phaseBins, phaseBins);
  for (std::size_t n = from; n < to; ++n) {
    f.bins[std::min(phaseBins - 1, static_cast<int>(at))] += e[n];
    at += step;
    while (at >= phaseBins) at -= phaseBins;
  }
  return f;
}

// The comb of one period at its best phase, or at a given one (samples; < 0: none).
Comb combAt(const std::vector<float>& e, double total, double period, double givenPhase) {
  const Folded f = fold(e, period);
  Comb c{period, 0.0, -1.0};
  if (givenPhase >= 0) {
    const double p = std::fmod(givenPhase, period) / period * phaseBins;
    const int b = std::min(phaseBins - 1, static_cast<int>(p));
    c.pulse = f.pulseAt(b, total);
    c.phase = givenPhase;
    return c;
  }
  for (int b = 0; b < phaseBins; ++b) {
    const double pulse = f.pulseAt(b, total);
    if (pulse > c.pulse) {
      c.pulse = pulse;
      c.phase = (b + 0.5) / phaseBins * period;
    }
  }
  return c;
}

// The best comb within candidateSearch of `around`: coarse steps, then fine ones small
// enough that the grid moves by less than a 16th of a beat over the track; some combs
// at a time (each reads the whole onset strength), in the order of one search.
struct CombSearch {
  static constexpr int coarse = 8;
  double around = 0.0, fine = 0.0;
  int steps = 0;
  int next = 0;  // the next step tried
  bool refining = false;
  int bestStep = 0;
  Comb best;

  CombSearch(const std::vector<float>& e, double aroundPeriod) : around(aroundPeriod) {
    const double beatsInTrack = std::max(1.0, static_cast<double>(e.size()) * hop / around);
    fine = 1.0 / (16.0 * beatsInTrack);
    steps = static_cast<int>(std::min(4000.0, std::ceil(candidateSearch / fine)));
    next = -steps;
    best.pulse = -1.0;
  }

  // Up to `combs` more; true once the search is done and `best` found.
  bool advance(const std::vector<float>& e, double total, double givenPhase, int combs) {
    for (; combs > 0; --combs) {
      if (!refining && next > steps) {
        refining = true;
        next = bestStep - coarse + 1;
      }
      if (refining) {
        while (next < bestStep + coarse && (next == bestStep || next < -steps || next > steps)) ++next;
        if (next >= bestStep + coarse) return true;
      }
      const Comb c = combAt(e, total, around * (1.0 + fine * next), givenPhase);
      if (c.pulse > best.pulse) {
        best = c;
        if (!refining) bestStep = next;
      }
      next += refining ? 1 : coarse;
    }
    return false;
  }
};

// How much the onset strength repeats after whole bars of 4, 8 and 16 beats of a
// period (its correlation with itself that far on, averaged): music in 4/4 repeats in
// bars, where a grid at 2/3 or 4/3 of its tempo finds no repetition.
double barRepetition(const std::vector<float>& e, double period) {
  double mean = 0.0;
  for (float v : e) mean += v;
  mean /= std::max<std::size_t>(1, e.size());
  double own = 0.0;
  for (float v : e) own += (v - mean) * (v - mean);
  if (!(own > 0)) return 0.0;
  double sum = 0.0;
  for (int bars : {4, 8, 16}) {
    const auto lag = static_cast<std::size_t>(std::lround(bars * period / hop));
    double s = 0.0;
    for (std::size_t i = 0; i + lag < e.size(); ++i) s += (e[i] - mean) * (e[i + lag] - mean);
    sum += s / own;
  }
  return sum / 3;
}

// The onset strength's autocorrelation at lags of up to four of the longest beats in
// the search octave (a bar's worth of evidence), some lags at a time.
struct Autocorrelation {
  std::vector<double> r;  // by lag in hops; empty for a track too short
  std::size_t next = 1;   // the next lag
  double mean = 0.0;

  explicit Autocorrelation(const std::vector<float>& e) {
    const auto lags = static_cast<std::size_t>(std::ceil(4 * periodOf(searchLowBpm) / hop)) + 2;
    if (e.size() < 2 * lags) return;
    for (float v : e) mean += v;
    mean /= static_cast<double>(e.size());
    r.assign(lags, 0.0);
  }

  // Up to `count` lags more; true once every lag is done.
  bool advance(const std::vector<float>& e, std::size_t count) {
    for (; count > 0 && next < r.size(); --count, ++next) {
      double s = 0.0;
      for (std::size_t i = 0; i + next < e.size(); ++i) s += (e[i] - mean) * (e[i + next] - mean);
      r[next] = s / static_cast<double>(e.size() - next);
    }
    return next >= r.size();
  }

  // Its strongest periods within the search octave, each summed with its multiples up to
  // four beats.
  std::vector<double> strongestPeriods(int count) const {
    if (r.empty()) return {};
    const std::size_t lags = r.size();
    auto at = [&](double lag) {
      const auto i = static_cast<std::size_t>(lag);
      const double t = lag - static_cast<double>(i);
      return i + 1 < lags ? (1 - t) * r[i] + t * r[i + 1] : 0.0;
    };
    const double shortest = periodOf(searchHighBpm) / hop, longest = periodOf(searchLowBpm) / hop;
    std::vector<std::pair<double, double>> comb;  // (lag, score)
    for (double lag = shortest; lag <= longest; lag += 0.05)
      comb.emplace_back(lag, at(lag) + at(2 * lag) + at(3 * lag) + at(4 * lag));
    std::vector<std::pair<double, double>> peaks;
    for (std::size_t i = 1; i + 1 < comb.size(); ++i)
      if (comb[i].second > comb[i - 1].second && comb[i].second >= comb[i + 1].second)
        peaks.emplace_back(comb[i].second, comb[i].first * hop);
    std::sort(peaks.rbegin(), peaks.rend());
    std::vector<double> periods;
    for (std::size_t i = 0; i < peaks.size() && static_cast<int>(i) < count; ++i) periods.push_back(peaks[i].second);
    return periods;
  }
};

// The tracker's period and its relatives (x2/3 and x3/4; halves and doubles are the
// same tempo in the search octave), and the autocorrelation's strongest periods.
std::vector<double> tempoCandidates(const BeatFeatures& f, const std::vector<double>& strongestPeriods) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < f.trackerBeats.size(); ++i) gaps.push_back(f.trackerBeats[i] - f.trackerBeats[i - 1]);
  std::vector<double> found;
  if (const double tracker = median(gaps); tracker > 0)
    for (double ratio : {1.0, 2.0 / 3.0, 3.0 / 4.0}) found.push_back(intoSearchOctave(tracker * ratio));
  for (double period : strongestPeriods) found.push_back(period);
  std::vector<double> candidates;
  for (double p : found) {
    if (!(p > 0)) continue;
    bool known = false;
    for (double q : candidates) known = known || std::fabs(p / q - 1.0) < sameTempo / 2;
    if (!known) candidates.push_back(p);
  }
  return candidates;
}

double residual(double t, double offset, double period) {
  return t - (offset + std::round((t - offset) / period) * period);
}

// The grid through the onsets near its beats by least squares: offset and period
// free, or either of them fixed. Returns the onsets' root-mean-square distance in ms.
double refineGrid(const std::vector<double>& onsets, double& offset, double& period, bool fixedOffset,
                  bool fixedPeriod) {
  for (int round = 0; round < 3 && !(fixedOffset && fixedPeriod); ++round) {
    double n = 0, sk = 0, skk = 0, st = 0, skt = 0;
    for (double t : onsets) {
      const double k = std::round((t - offset) / period);
      if (std::fabs(t - (offset + k * period)) > period / 8) continue;
      n += 1;
      sk += k;
      skk += k * k;
      st += t;
      skt += k * t;
    }
    if (n < 2) break;
    if (fixedOffset) {
      if (skk > 0) period = (skt - offset * sk) / skk;
    } else if (fixedPeriod) {
      offset = (st - period * sk) / n;
    } else {
      const double det = n * skk - sk * sk;
      if (det <= 0) break;
      period = (n * skt - sk * st) / det;
      offset = (st - period * sk) / n;
    }
  }
  double squares = 0.0;
  int near = 0;
  for (double t : onsets) {
    const double r = residual(t, offset, period);
    if (std::fabs(r) <= period / 8) {
      squares += r * r;
      ++near;
    }
  }
  return near > 0 ? 1000.0 * std::sqrt(squares / near) / sampleRate : 0.0;
}

// What the music shows at each half beat of a grid: the peaks of the three onset
// strengths near it and the pitch classes sounding until the next.
struct HalfBeats {
  std::vector<double> all, low, high;
  std::vector<BeatFeatures::Chroma> chroma;
};

// Half beat 0 is the map's first bar-aligned beat in the track: beat 0 or a whole bar
// of `unit` (the beat the bars are counted in, in the map's beats) after it.
HalfBeats halfBeats(const BeatFeatures& f, const BeatMap& map, double unit, double* firstBeat) {
  HalfBeats h;
  const double bar = 4 * unit;
  const double from = bar * std::ceil(map.beatAt(0.0) / bar);
  *firstBeat = from;
  const auto hops = static_cast<long>(f.flux.size());
  auto peak = [&](const std::vector<float>& band, double at) {
    const long centre = std::lround(at / hop - 0.5);
    float best = 0.0f;
    for (long i = std::max(0L, centre - 2); i <= std::min(hops - 1, centre + 2); ++i) best = std::max(best, band[i]);
    return static_cast<double>(best);
  };
  const auto chromaCount = static_cast<long>(f.chroma.size());
  const double chromaSpan = static_cast<double>(hop) * BeatFeatures::chromaHops;
  for (long j = 0;; ++j) {
    const double at = map.positionAt(from + j * unit / 2), next = map.positionAt(from + (j + 1) * unit / 2);
    if (at >= static_cast<double>(hops) * hop) break;
    const double half = next - at;
    h.all.push_back(peak(f.flux, at));
    h.low.push_back(peak(f.lowFlux, at));
    h.high.push_back(peak(f.highFlux, at));
    BeatFeatures::Chroma c{};
    const long from = std::max(0L, std::lround(at / chromaSpan)),
               to = std::min(chromaCount, std::lround((at + half) / chromaSpan));
    for (long i = from; i < std::max(from + 1, to) && i < chromaCount; ++i)
      for (int k = 0; k < 12; ++k) c[k] += f.chroma[i][k];
    h.chroma.push_back(c);
  }
  // Each strength on the scale of its own mean, so that they can be weighed together.
  for (std::vector<double>* v : {&h.all, &h.low, &h.high}) {
    double mean = 0.0;
    for (double x : *v) mean += x;
    mean = v->empty() ? 0.0 : mean / static_cast<double>(v->size());
    if (mean > 0)
      for (double& x : *v) x /= mean;
  }
  return h;
}

// How unlike the pitch classes of the `span` half beats before half beat j are to those
// of the `span` from it (0: the same, 1: nothing shared).
double harmonicChange(const HalfBeats& h, long j, long span) {
  const long n = static_cast<long>(h.chroma.size());
  if (j - span < 0 || j + span > n) return -1.0;
  BeatFeatures::Chroma before{}, after{};
  for (long i = j - span; i < j; ++i)
    for (int k = 0; k < 12; ++k) before[k] += h.chroma[i][k];
  for (long i = j; i < j + span; ++i)
    for (int k = 0; k < 12; ++k) after[k] += h.chroma[i][k];
  double dot = 0, a = 0, b = 0;
  for (int k = 0; k < 12; ++k) {
    dot += before[k] * after[k];
    a += before[k] * before[k];
    b += after[k] * after[k];
  }
  return a > 0 && b > 0 ? 1.0 - dot / std::sqrt(a * b) : -1.0;
}

// The bar start, as a half beat 0 to 7 from the grid's phase. Each cue scores the
// eight places a bar could start, as its lead over its mean on the scale of what it
// measures, weighted (the harmony and the phrases twice, the beat and the accents half):
// - the beat: onsets (the low band twice) on the place and every other half beat
//   after it, against the half beats between (the grid's phase may be the off-beat);
// - the low end: kicks and bass on the bar start;
// - the harmony: the chords change most where a bar starts (one beat before against
//   one beat after), and sections where phrases start (four beats against four);
// - the accents: kick on 1 and 3, snare or clap on 2 and 4.
// Where the beat, the low end and the accents name one place (drums), it is the bar start.
// The phrases are weighed twice over: first by how much four beats change on average at
// each place, which with the other cues says whether bars start on the grid's beats or
// between them; then by the place that wins each bar's vote (where the two bars after
// it change most from the two before), which says on which of those beats: a vote, so
// that a few great changes do not outweigh every other bar; over two bars, so that the
// changes within bars (a chord moving on the third beat) weigh less than those between.
struct BarChoice {
  int halfBeat = 0;
  double margin = 0.0;
  int favourite[barCueCount] = {};  // the place each cue alone would choose
};

BarChoice chooseBar(const HalfBeats& h) {
  constexpr int places = 8;
  const long n = static_cast<long>(h.all.size());
  double beat[places] = {}, onsets[places] = {}, low[places] = {}, harmony[places] = {}, phrase[places] = {},
         accent[places] = {};
  int counted[places] = {}, harmonies[places] = {}, phrases[places] = {};
  for (long j = 0; j < n; ++j) {
    const int p = static_cast<int>(j % places);
    counted[p]++;
    beat[p] += h.all[j] + 2 * h.low[j];
    onsets[p] += h.all[j];
    low[p] += h.low[j];
    accent[p] += h.low[j] - h.high[j];
    if (const double c = harmonicChange(h, j, 2); c >= 0) {
      harmony[p] += c;
      harmonies[p]++;
    }
    if (const double c = harmonicChange(h, j, 8); c >= 0) {
      phrase[p] += c;
      phrases[p]++;
    }
  }
  // Each bar votes for the place where its pitch classes change most (over `span` half
  // beats before and after); `whole` counts the bars far enough from the ends to vote.
  struct Vote {
    double share[places] = {};
    int voters = 0, whole = 0;
    bool heard() const { return 2 * voters > whole; }  // most bars said something
  };
  auto vote = [&](long span) {
    Vote v;
    for (long first = 0; first + places <= n; first += places) {
      int most = -1;
      double largest = 0.0;
      for (int p = 0; p < places; ++p) {
        const double c = harmonicChange(h, first + p, span);
        if (c < 0) {  // the bar is too near an end of the track to vote
          most = -1;
          break;
        }
        if (c > largest) {
          largest = c;
          most = p;
        }
      }
      if (most < 0) continue;
      ++v.whole;
      // The bars of a loop are all alike: where nothing changes, nothing is said.
      if (largest < noChange) continue;
      ++v.voters;
      v.share[most] += 1;
    }
    for (double& x : v.share) x = v.voters > 0 ? x / v.voters : 0.0;
    return v;
  };
  // The phrases over two bars where the track has enough bars: the first 16 s that
  // listening analyses (13 bars at most) would lose half of them to its ends, and vote
  // over one.
  const Vote chordVotes = vote(2), phraseVotes = vote(n >= twoBarPhrases * places ? 2 * places : places);
  auto average = [](double* v, const int* count) {
    for (int p = 0; p < places; ++p) v[p] = count[p] > 0 ? v[p] / count[p] : 0.0;
  };
  average(beat, counted);
  average(onsets, counted);
  average(low, counted);
  average(accent, counted);
  average(harmony, harmonies);
  average(phrase, phrases);
  // Each cue's lead over its mean, on the scale of what it measures: a cue that barely
  // changes from place to place (the harmony of drums alone) counts for little.
  auto level = [](const double* v) {
    double sum = 0;
    for (int p = 0; p < places; ++p) sum += std::fabs(v[p]);
    return sum / places;
  };
  constexpr double weights[barCueCount] = {0.5, 1.0, 2.0, 2.0, 0.5};
  struct Scores {
    double score[places] = {};
    int favourite[barCueCount] = {};
  };
  double scale[barCueCount] = {};
  double cue[barCueCount][places];
  auto scored = [&](const double* phrasing, double phraseShare) {
    // Each cue for a bar starting at place p.
    for (int p = 0; p < places; ++p) {
      const auto at = [&](const double* v, int k) { return v[(p + k) % places]; };
      cue[0][p] = (at(beat, 0) + at(beat, 2) + at(beat, 4) + at(beat, 6)) -
                  (at(beat, 1) + at(beat, 3) + at(beat, 5) + at(beat, 7));
      cue[1][p] = at(low, 0);
      cue[2][p] = at(harmony, 0);
      cue[3][p] = at(phrasing, 0);
      cue[4][p] = (at(accent, 0) + at(accent, 4)) - (at(accent, 2) + at(accent, 6));
    }
    const double scales[barCueCount] = {8 * level(beat), level(low), level(harmony), level(phrasing),
                                        4 * (level(low) + level(accent))};
    std::copy(std::begin(scales), std::end(scales), scale);
    Scores s;
    for (int c = 0; c < barCueCount; ++c) {
      double mean = 0;
      for (double v : cue[c]) mean += v / places;
      // The first of equals (the beat cue is the same at every other place, the accents
      // at every fourth: sums of the same values in another order, which rounding
      // must not tell apart).
      int favourite = 0;
      for (int p = 0; p < places; ++p)
        if (cue[c][p] > cue[c][favourite] + sameCue) favourite = p;
      s.favourite[c] = favourite;
      if (!(scale[c] > 1e-9)) continue;
      // The harmony and the phrases count in full only where one place clearly leads:
      // the pitch classes of drums alone change a little everywhere.
      double weight = weights[c];
      if (c == 2 || c == 3) weight *= std::min(1.0, (cue[c][favourite] - mean) / scale[c] / clearHarmony);
      if (c == 3) weight *= phraseShare;
      for (int p = 0; p < places; ++p) s.score[p] += weight * (cue[c][p] - mean) / scale[c];
    }
    return s;
  };
  // The best place of those allowed (every other from `parity`, or all where it is
  // negative); where the drums agree on one allowed place, that one.
  auto bestOf = [&](const Scores& s, int parity) {
    int best = parity < 0 ? 0 : parity;
    for (int p = 0; p < places; ++p)
      if ((parity < 0 || p % 2 == parity) && s.score[p] > s.score[best]) best = p;
    const int drums = s.favourite[0];
    if (drums == s.favourite[1] && drums == s.favourite[4] && (parity < 0 || drums % 2 == parity)) best = drums;
    return best;
  };
  // On the beats or between them. Where the chords change at one place far more than
  // anywhere else, the bar starts there (a bass on the off-beats does not move it);
  // otherwise, where the low end's onsets on the grid's beats clearly lead those between
  // (or trail them: kicks on the beat, hats between, and the grid took the hats), or
  // failing that all onsets do, the bar starts on the beat they say, whatever the pitch
  // classes say; where no onsets tell (kicks on the beats, snares between, alike in the
  // low band), the chords changing on the grid's beats or between them do.
  const Scores averaged = scored(phrase, 1.0);
  const int chords = averaged.favourite[2];
  double chordsMean = 0;
  for (double v : cue[2]) chordsMean += v / places;
  // How far a strength's peaks on the grid's beats lead those between, on the scale of its mean.
  auto onBeats = [](const double* v) {
    double on = 0, off = 0;
    for (int p = 0; p < places; p += 2) on += v[p], off += v[p + 1];
    return on + off > 0 ? 2 * (on - off) / (on + off) : 0.0;
  };
  int parity = -1;
  if (chordVotes.heard() && 2 * chordVotes.share[chords] > 1 && (cue[2][chords] - chordsMean) / scale[2] > clearChords)
    parity = chords % 2;
  else if (const double kicks = onBeats(low), all = onBeats(onsets); std::fabs(kicks) > clearBeat)
    parity = kicks > 0 ? 0 : 1;
  else if (std::fabs(all) > clearBeat)
    parity = all > 0 ? 0 : 1;
  else if (const double chordsOn = onBeats(harmony); level(harmony) > noChange && std::fabs(chordsOn) > clearBeat)
    parity = chordsOn > 0 ? 0 : 1;
  parity = bestOf(averaged, parity) % 2;
  // Which of those beats; the vote counts where most bars voted (a change or two in a
  // loop, a gap in what was heard, is no phrase).
  const Scores voted = scored(phraseVotes.share, phraseVotes.heard() ? 1.0 : 0.0);
  BarChoice choice;
  std::copy(std::begin(voted.favourite), std::end(voted.favourite), choice.favourite);
  const int best = bestOf(voted, parity);
  int second = -1;
  for (int p = 0; p < places; ++p)
    if (p != best && p % 4 != best % 4 && (second < 0 || voted.score[p] > voted.score[second])) second = p;
  choice.halfBeat = best;
  double total = 0;
  for (double w : weights) total += w;
  choice.margin = second >= 0 ? std::clamp((voted.score[best] - voted.score[second]) / (2 * total), 0.0, 1.0) : 0.0;
  return choice;
}

// Beats that begin between the first beat and the end of the track.
std::int64_t beatsBegun(std::int64_t frames, double first, double period) {
  const double span = static_cast<double>(frames) - first;
  return span > 0 ? static_cast<std::int64_t>(std::ceil(span / period)) : 0;
}

std::int64_t beatsBegun(std::int64_t frames, const BeatMap& map) {
  const double beats = map.beatAt(static_cast<double>(frames));
  return beats > 0 ? static_cast<std::int64_t>(std::ceil(beats)) : 0;
}

// The onset nearest to `at` within `reach`, or NAN; `next` walks forward with `at`.
double nearestOnset(const std::vector<double>& onsets, std::size_t& next, double at, double reach) {
  while (next < onsets.size() && onsets[next] < at - reach) ++next;
  double found = NAN, distance = reach;
  for (std::size_t i = next; i < onsets.size() && onsets[i] <= at + reach; ++i)
    if (std::fabs(onsets[i] - at) <= distance) {
      distance = std::fabs(onsets[i] - at);
      found = onsets[i];
    }
  return found;
}

// The tempo and phase over a stretch of the music: every 8 beats, the best comb
// over the 32 beats around, its period within 12 % of the steady grid's.
struct LocalBeat {
  double centre = 0.0;  // samples
  double period = 0.0;
  double offBy = 0.0;  // its beats against the steady grid's, within a quarter beat
};

// Appends the next `most` windows' local beats to `local`; true once the track's end is
// reached.
bool localBeatsOn(const std::vector<float>& e, double first, double period, std::int64_t frames,
                  std::vector<LocalBeat>& local, int most) {
  constexpr double span = 32, step = 8, reach = 0.12, fine = 0.001;
  for (double start = first + static_cast<double>(local.size()) * step * period;
       start + span * period <= static_cast<double>(frames); start += step * period) {
    if (most-- == 0) return false;
    const auto from = static_cast<std::size_t>(start / hop),
               to = static_cast<std::size_t>((start + span * period) / hop);
    double total = 0.0;
    for (std::size_t n = from; n < to && n < e.size(); ++n) total += e[n];
    LocalBeat best{start + span * period / 2, period, 0.0};
    double bestPulse = -1.0;
    for (double r = -reach; r <= reach; r += fine) {
      const double p = period * (1.0 + r);
      const Folded f = fold(e, p, from, to);
      for (int b = 0; b < phaseBins; ++b)
        if (const double pulse = f.pulseAt(b, total); pulse > bestPulse) {
          bestPulse = pulse;
          best.period = p;
          // This comb's beat nearest the window's centre, against the steady grid's there.
          const double phase = (b + 0.5) / phaseBins * p;
          const double beat = phase + std::round((best.centre - phase) / p) * p;
          double off = std::remainder(beat - first, period);
          // Half a beat off is the off-beat's comb: the same grid.
          off = std::remainder(off, period / 2);
          best.offBy = off;
        }
    }
    local.push_back(best);
  }
  return true;
}

// Whether the music parts from a steady grid for good: its local beats further than
// `limit` samples from the grid's, or their tempo further than localTempoChange from
// its, in 3 windows in a row (48 beats: a change of tempo,
// not a fill).
bool strays(const std::vector<LocalBeat>& local, double period, double limit) {
  // The local combs see the onsets a few milliseconds from where the least-squares
  // grid puts them, the same everywhere: that difference is taken out first.
  std::vector<double> offs;
  for (const LocalBeat& l : local) offs.push_back(l.offBy);
  const double bias = median(offs);
  int inRow = 0;
  for (const LocalBeat& l : local) {
    const bool off = std::fabs(std::remainder(l.offBy - bias, l.period / 2)) > limit ||
                     std::fabs(l.period / period - 1.0) > localTempoChange;
    inRow = off ? inRow + 1 : 0;
    if (inRow >= 3) return true;
  }
  return false;
}

// The beats followed one by one from the first, as a phase-locked loop: each is
// expected a period after the last and moved half way to the onset nearest (within a
// sixth of a beat); the period takes a fifth of that difference and is drawn a fifth
// of the way to the local combs' period. Returns, per beat, the onset it met, or NAN.
std::vector<double> followBeats(const std::vector<double>& onsets, const std::vector<LocalBeat>& local, double first,
                                double period, std::int64_t frames) {
  std::vector<double> met;
  std::size_t next = 0, window = 0;
  for (double at = first; at < static_cast<double>(frames);) {
    const double onset = nearestOnset(onsets, next, at, period / 6);
    met.push_back(onset);
    const double off = std::isnan(onset) ? 0.0 : onset - at;
    while (window + 1 < local.size() && std::fabs(local[window + 1].centre - at) < std::fabs(local[window].centre - at))
      ++window;
    period += 0.2 * off;
    if (!local.empty()) period += 0.2 * (local[window].period - period);
    at += 0.5 * off + period;
  }
  return met;
}

// Stretches of steady tempo through the onsets the beats met. Where one stretch ends
// and the next begins is found first: each stretch is as long as a line through its
// onsets keeps within `tolerance` samples of 90 % of them. Then the beats at those
// places are fitted to all the onsets at once by least squares, each stretch running
// straight from one to the next, so the beats never jump. A given first beat stays.
std::vector<TempoStretch> stretchesThrough(const std::vector<double>& met, double first, double period,
                                           double tolerance, bool firstGiven) {
  const std::size_t n = met.size();
  std::vector<std::size_t> knots{0};
  while (knots.back() + 1 < n) {
    const std::size_t start = knots.back();
    std::size_t end = std::min(n - 1, start + 4);
    for (std::size_t e = start + 4; e < n; ++e) {
      double sk = 0, skk = 0, st = 0, skt = 0, count = 0;
      for (std::size_t k = start; k <= e; ++k) {
        if (std::isnan(met[k])) continue;
        const double x = static_cast<double>(k - start);
        count += 1;
        sk += x;
        skk += x * x;
        st += met[k];
        skt += x * met[k];
      }
      const double det = count * skk - sk * sk;
      if (count < 3 || det <= 0) {
        end = e;
        continue;
      }
      const double slope = (count * skt - sk * st) / det, at = (st - slope * sk) / count;
      int within = 0;
      for (std::size_t k = start; k <= e; ++k)
        if (!std::isnan(met[k]) && std::fabs(at + slope * static_cast<double>(k - start) - met[k]) <= tolerance)
          ++within;
      // Most onsets on the line, and the newest among them: a change of tempo shows
      // at the growing end at once.
      int recent = 0, recentSeen = 0;
      for (std::size_t k = e + 1; k-- > start && recentSeen < 3;)
        if (!std::isnan(met[k])) {
          ++recentSeen;
          recent += std::fabs(at + slope * static_cast<double>(k - start) - met[k]) <= tolerance;
        }
      const bool newestOn =
          std::isnan(met[e]) || std::fabs(at + slope * static_cast<double>(e - start) - met[e]) <= tolerance;
      if (within < 0.9 * count || recent < 2 || !newestOn) break;
      end = e;
    }
    knots.push_back(end);
  }
  // A last stretch of a few beats has no tempo of its own: it joins the one before.
  if (knots.size() > 2 && knots[knots.size() - 1] - knots[knots.size() - 2] < 8) knots.erase(knots.end() - 2);
  // The beats' places at the knots: a tridiagonal system of normal equations, held
  // (weakly) to the steady grid where no onset speaks for a place.
  const std::size_t m = knots.size();
  std::vector<double> diag(m, 1e-6), upper(m, 0.0), rhs(m);
  for (std::size_t j = 0; j < m; ++j) rhs[j] = 1e-6 * (first + period * static_cast<double>(knots[j]));
  for (std::size_t j = 0; j + 1 < m; ++j)
    for (std::size_t k = knots[j]; k <= knots[j + 1]; ++k) {
      if (std::isnan(met[k]) || (k == knots[j + 1] && j + 2 < m)) continue;  // a knot's onset counts once
      const double u = static_cast<double>(k - knots[j]) / static_cast<double>(knots[j + 1] - knots[j]);
      diag[j] += (1 - u) * (1 - u);
      diag[j + 1] += u * u;
      upper[j] += (1 - u) * u;
      rhs[j] += (1 - u) * met[k];
      rhs[j + 1] += u * met[k];
    }
  if (firstGiven) {
    diag[0] = 1.0;
    upper[0] = 0.0;
    rhs[0] = first;
  }
  // Thomas algorithm (the matrix is symmetric: the lower diagonal is `upper`).
  std::vector<double> c(m, 0.0), d(m, 0.0);
  for (std::size_t j = 0; j < m; ++j) {
    const double lower = j > 0 ? (firstGiven && j == 1 ? 0.0 : upper[j - 1]) : 0.0;
    const double pivot = diag[j] - (j > 0 ? lower * c[j - 1] : 0.0);
    c[j] = upper[j] / pivot;
    d[j] = (rhs[j] - (j > 0 ? lower * d[j - 1] : 0.0)) / pivot;
  }
  std::vector<double> y(m);
  for (std::size_t j = m; j-- > 0;) y[j] = d[j] - (j + 1 < m ? c[j] * y[j + 1] : 0.0);
  if (firstGiven && m > 1) {
    // The given first beat's row was cut from the system: its pull on the second knot
    // goes to the right-hand side, so solve again with it there.
    double pull = 0.0;
    for (std::size_t k = knots[0]; k <= knots[1]; ++k) {
      if (std::isnan(met[k]) || (k == knots[1] && m > 2)) continue;
      const double u = static_cast<double>(k - knots[0]) / static_cast<double>(knots[1] - knots[0]);
      pull += (1 - u) * u;
    }
    rhs[1] -= pull * first;
    for (std::size_t j = 1; j < m; ++j) {
      const double lower = j > 1 ? upper[j - 1] : 0.0;
      const double pivot = diag[j] - (j > 1 ? lower * c[j - 1] : 0.0);
      c[j] = upper[j] / pivot;
      d[j] = (rhs[j] - (j > 1 ? lower * d[j - 1] : 0.0)) / pivot;
    }
    y[0] = first;
    for (std::size_t j = m; j-- > 1;) y[j] = d[j] - (j + 1 < m ? c[j] * y[j + 1] : 0.0);
  }
  std::vector<TempoStretch> stretches;
  for (std::size_t j = 0; j + 1 < m; ++j)
    stretches.push_back(
        {static_cast<double>(knots[j]), y[j], (y[j + 1] - y[j]) / static_cast<double>(knots[j + 1] - knots[j])});
  return stretches;
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

std::vector<TempoStretch> tempoMap(const BeatGrid& grid) {
  std::vector<TempoStretch> map{{0.0, grid.firstBeatSamples, grid.beatSamples}};
  map.insert(map.end(), grid.stretches.begin(), grid.stretches.end());
  return map;
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
  // With both given there is nothing to hear.
  if (request.bpm > 0 && request.firstBeatSeconds >= 0) return beatGridFrom(BeatFeatures{}, frames, request);
  return beatGridFrom(readBeatFeatures(stereo, frames), frames, request);
}

// The search's state from one step to the next.
struct BeatGridFinder::State {
  State(const BeatFeatures& features, std::int64_t frameCount, const BeatRequest& given)
      : f(features),
        frames(frameCount),
        request(given),
        givenTempo(given.bpm > 0),
        givenFirst(given.firstBeatSeconds >= 0),
        givenFirstSamples(givenFirst ? given.firstBeatSeconds * sampleRate : -1.0) {}
  const BeatFeatures& f;
  std::int64_t frames;
  BeatRequest request;
  bool givenTempo, givenFirst;
  double givenFirstSamples;
  enum class Stage { start, autocorrelation, candidates, grid, localBeats, map, done } stage = Stage::start;
  std::vector<float> e;
  double total = 0.0, meanFlux = 0.0;
  std::optional<Autocorrelation> autocorrelation;
  std::vector<double> candidates;
  std::optional<CombSearch> search;  // of the next candidate
  std::vector<Comb> combs;
  Comb best, runnerUp;
  double offset = 0.0, period = 0.0, showPeriod = 0.0;
  double beatsInTrack = 0.0;
  int onsetsOnBeats = 0;
  bool silent = false, beats = false, placeable = false;
  double finerUnit = 0.0;  // where the show's beats place a given tempo: one of them, in given beats
  std::vector<LocalBeat> local;
  std::vector<TempoStretch> later;
};

namespace {
constexpr int localWindowsPerStep = 3;
// Onset-strength values read in one step of the tempo's search: its lags and combs each
// read the whole track's, so a long track takes more steps (about 10 ms each in a page).
constexpr std::size_t valuesPerStep = 4'000'000;
}  // namespace

BeatGridFinder::BeatGridFinder(const BeatFeatures& features, std::int64_t frames, const BeatRequest& request)
    : state(new State(features, frames, request)) {}

BeatGridFinder::~BeatGridFinder() {
  delete state;
}

bool BeatGridFinder::step() {
  State& st = *state;
  const BeatFeatures& f = st.f;
  const std::int64_t frames = st.frames;
  const BeatRequest& request = st.request;
  const bool givenTempo = st.givenTempo, givenFirst = st.givenFirst;
  const double givenFirstSamples = st.givenFirstSamples;
  auto finish = [&](double first, double period) {
    grid.firstBeatSamples = first;
    grid.firstBeatSeconds = first / sampleRate;
    grid.beatSamples = period;
    grid.beats = grid.stretches.empty() ? beatsBegun(frames, first, period) : beatsBegun(frames, grid.map());
    st.stage = State::Stage::done;
    return true;
  };
  switch (st.stage) {
    case State::Stage::start:
      if (givenTempo && givenFirst) {
        // Nothing left to find.
        grid.source = TempoSource::given;
        grid.bpm = request.bpm;
        return finish(givenFirstSamples, periodOf(request.bpm));
      }
      st.e = onsetStrength(f);
      for (float v : st.e) st.total += v;
      for (float v : f.flux) st.meanFlux += v;
      st.meanFlux = f.flux.empty() ? 0.0 : st.meanFlux / static_cast<double>(f.flux.size());
      // The tempo: the given one, or the best of the candidates, searched some combs a step.
      if (givenTempo) {
        st.best = combAt(st.e, st.total, periodOf(request.bpm), givenFirstSamples);
        // A slow tempo the show counts in halves (or quarters): its phase is sought on
        // the show's beats where they gather the onsets better, and the bar picks which
        // of them is the given beat.
        if (const double counted = foldTempo(request.bpm); !givenFirst && counted > 1.5 * request.bpm) {
          const Comb faster = combAt(st.e, st.total, periodOf(counted), -1.0);
          if (faster.pulse > st.best.pulse) {
            st.best.phase = faster.phase;
            st.finerUnit = request.bpm / counted;
          }
        }
        st.stage = State::Stage::grid;
      } else {
        st.autocorrelation.emplace(st.e);
        st.stage = State::Stage::autocorrelation;
      }
      return false;
    case State::Stage::autocorrelation:
      if (!st.autocorrelation->advance(st.e,
                                       std::max<std::size_t>(1, valuesPerStep / std::max<std::size_t>(1, st.e.size()))))
        return false;
      st.candidates = tempoCandidates(f, st.autocorrelation->strongestPeriods(4));
      st.autocorrelation.reset();
      st.stage = State::Stage::candidates;
      return false;
    case State::Stage::candidates:
      if (st.combs.size() < st.candidates.size()) {
        if (!st.search) st.search.emplace(st.e, st.candidates[st.combs.size()]);
        const int combs =
            static_cast<int>(std::max<std::size_t>(1, valuesPerStep / std::max<std::size_t>(1, st.e.size())));
        if (st.search->advance(st.e, st.total, givenFirstSamples, combs)) {
          st.combs.push_back(st.search->best);
          st.search.reset();
        }
        return false;
      }
      for (Comb& c : st.combs) c.bars = barRepetition(st.e, c.period);
      std::sort(st.combs.begin(), st.combs.end(), [](const Comb& a, const Comb& b) { return a.rank() > b.rank(); });
      if (!st.combs.empty()) st.best = st.combs.front();
      for (const Comb& c : st.combs)
        if (std::fabs(c.period / st.best.period - 1.0) > sameTempo) {
          st.runnerUp = c;
          break;
        }
      st.stage = State::Stage::grid;
      return false;
    case State::Stage::grid: {
      st.offset = givenFirst ? givenFirstSamples : st.best.phase;
      st.period = st.best.period;
      const double period = st.period;
      if (period > 0) grid.gridErrorMs = refineGrid(f.onsets, st.offset, st.period, givenFirst, givenTempo);
      grid.pulse = st.best.pulse;
      if (st.runnerUp.period > 0) {
        grid.runnerUpBpm = foldTempo(bpmOf(st.runnerUp.period));
        grid.runnerUpPulse = st.runnerUp.pulse;
      }
      st.beatsInTrack = st.period > 0 ? static_cast<double>(frames) / st.period : 0.0;
      for (double t : f.onsets)
        st.onsetsOnBeats += st.period > 0 && std::fabs(residual(t, st.offset, st.period)) <= st.period / 8;
      st.silent = !(st.meanFlux > silentFlux) || !(st.total > 0);
      st.beats = !st.silent && st.period > 0 && st.beatsInTrack >= minimumBeats && st.onsetsOnBeats >= minimumBeats;
      if (givenTempo) {
        grid.source = TempoSource::given;
        grid.bpm = request.bpm;
      } else {
        grid.source = TempoSource::detected;
        grid.bpm = foldTempo(bpmOf(st.period));
      }
      st.showPeriod = givenTempo ? st.period : periodOf(grid.bpm);
      // A given tempo is placed on what onsets there are.
      st.placeable = st.beats || (givenTempo && !st.silent && st.period > 0);
      st.stage = st.beats && !givenTempo ? State::Stage::localBeats : State::Stage::map;
      return false;
    }
    case State::Stage::localBeats:
      // A tempo that moves: the local combs part from the steady grid for good.
      if (localBeatsOn(st.e, st.offset, st.showPeriod, frames, st.local, localWindowsPerStep))
        st.stage = State::Stage::map;
      return false;
    case State::Stage::map:
      break;
    case State::Stage::done:
      return true;
  }
  const std::vector<float>& e = st.e;
  const double total = st.total, period = st.period;
  double offset = st.offset, showPeriod = st.showPeriod;
  const bool silent = st.silent, beats = st.beats, placeable = st.placeable;
  const std::vector<LocalBeat>& local = st.local;
  std::vector<TempoStretch>& later = st.later;
  const double beatsInTrack = st.beatsInTrack;
  const int onsetsOnBeats = st.onsetsOnBeats;
  // The map follows the beats from a first beat; a first map from the grid's phase
  // carries the choice of the bar, and the map is made again from the bar start.
  auto mapFrom = [&](double first) {
    const std::vector<double> met = followBeats(f.onsets, local, first, showPeriod, frames);
    const std::vector<TempoStretch> stretches =
        stretchesThrough(met, first, showPeriod, 0.015 * sampleRate, givenFirst);
    later.clear();
    if (stretches.size() < 2) return BeatMap{first, showPeriod, {}};
    later.assign(stretches.begin() + 1, stretches.end());
    return BeatMap{stretches.front().position, stretches.front().beatSamples, later};
  };
  // A map where the local beats stray from the steady grid, kept only where its beats
  // gather the onsets better than the steady grid's do (the local combs of music that
  // keeps its tempo wander with its fills and breaks).
  bool moving = !local.empty() && strays(local, showPeriod, steadyErrorMs / 1000.0 * sampleRate);
  BeatMap map{offset, showPeriod, {}};
  if (moving) {
    const BeatMap followed = mapFrom(offset);
    const Folded folded = fold(e, followed);
    double mapPulse = 0.0;
    for (int b = 0; b < phaseBins; ++b) mapPulse = std::max(mapPulse, folded.pulseAt(b, total));
    moving = mapPulse > grid.pulse;
    if (moving)
      map = followed;
    else
      later.clear();
  }
  if (placeable && !givenFirst) {
    // The bar start, on the finer of the fitted and the show's grid (in the map's beats).
    const double unit = moving ? 1.0 : st.finerUnit > 0 ? st.finerUnit : std::min(period, showPeriod) / showPeriod;
    double from;
    const BarChoice bar = chooseBar(halfBeats(f, map, unit, &from));
    grid.barFound = true;
    grid.barMargin = bar.margin;
    // The earliest bar start of a place from the beginning of the track; one that
    // falls just before the first sample is the music's start, which the fit misses by
    // its error of a few milliseconds: the show's beat 0 stays in the track.
    const double tolerance = -startTolerance * sampleRate;
    auto earliest = [&](int halfBeat) {
      double b = from + halfBeat * unit / 2;
      while (map.positionAt(b - 4) >= tolerance) b -= 4;
      while (map.positionAt(b) < tolerance) b += 4;
      return std::max(0.0, map.positionAt(b));
    };
    for (int c = 0; c < barCueCount; ++c) grid.barCueSeconds[c] = earliest(bar.favourite[c]) / sampleRate;
    offset = earliest(bar.halfBeat);
    map = moving ? mapFrom(offset) : BeatMap{offset, showPeriod, {}};
  }
  if (!later.empty()) {
    grid.stretches = later;
    map.later = grid.stretches;
    const Folded folded = fold(e, map);
    for (int b = 0; b < phaseBins; ++b) grid.pulse = std::max(grid.pulse, folded.pulseAt(b, total));
    offset = map.firstBeatSamples;
    showPeriod = map.beatSamples;
    grid.bpm = bpmOf(showPeriod);
  }
  const bool pulse = beats && grid.pulse >= minimumPulse;
  if (!pulse) {
    char why[128];
    if (silent)
      std::snprintf(why, sizeof why, "no pulse (silence)");
    else if (beatsInTrack < minimumBeats)
      std::snprintf(why, sizeof why, "no pulse (too short for %d beats)", minimumBeats);
    else if (!beats)
      std::snprintf(why, sizeof why, "no pulse (%d onsets on a beat grid)", onsetsOnBeats);
    else
      std::snprintf(why, sizeof why, "no steady pulse (onsets on the beats %.2f times chance)", grid.pulse);
    grid.note = why;
    grid.stretches.clear();
    if (!givenTempo) {
      grid.source = TempoSource::fallback;
      grid.bpm = fallbackBpm;
      showPeriod = periodOf(fallbackBpm);
    }
    // Given values stand; without a pulse the show counts from the first sample,
    // unless a given tempo has onsets to be placed by.
    if (!givenFirst && !(givenTempo && placeable)) {
      grid.barFound = false;
      offset = 0.0;
    }
  }
  return finish(offset, showPeriod);
}

BeatGrid beatGridFrom(const BeatFeatures& f, std::int64_t frames, const BeatRequest& request) {
  BeatGridFinder finder(f, frames, request);
  while (!finder.step()) {
  }
  return finder.grid;
}
