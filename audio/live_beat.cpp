// The live beat: the onset strength, the tempo and phase measured from it, the clock
// they steer, and the bar's first beat.
#include "audio/live_beat.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/beat_features.h"
#include "audio/beat_grid.h"
#include "audio/sample_rate.h"

namespace {
constexpr int window = 1024;  // the phase vocoder's window
constexpr int bins = window / 2 + 1;
constexpr float compression = 10.0f;  // the spectrum compared as log(1 + compression x magnitude)
// An octave of tempos is sought, and a little on either side, so that a tempo at its
// edge is found at its peak (192.25 was found at 192 and lost to 2/3 of it); then
// folded into the show's range.
constexpr double lowestSoughtBpm = 94.0;
constexpr double highestSoughtBpm = 196.0;
constexpr double bpmStep = 0.1;
constexpr int combBeats = 4;          // the autocorrelation at one to four beats
constexpr int shortestHistory = 256;  // hops (about 3 s) before the first measure
constexpr int phaseBins = 32;
constexpr double glideBeats = 2.0;        // a phase error is made up over this many beats
constexpr double tempoPull = 0.5;         // each measure moves the tempo this share towards its own
constexpr double placedPull = 0.05;       // and once the whole analysis has placed the beat (it measured 16 s or more)
constexpr double otherTempoShare = 0.03;  // a measured tempo this far off is another one,
constexpr int otherTempoMeasures = 6;     // taken once measured this many times in a row,
constexpr int placedOtherTempoMeasures = 16;  // or this many (about 1.5 s) once the whole analysis placed the beat
constexpr double wholeAgreeShare = 0.01;      // two whole analyses this close agree on the tempo
constexpr int wholeConfirmations = 2;         // a whole analysis moves the beat once this many more agree
constexpr int otherTempoWholes = 2;           // whole analyses in a row at another tempo take it
constexpr double quickReach = 0.15;           // once placed, a quick measure further off than this is ignored,
constexpr double longHeardReach = 0.1;        // or this, once the whole analysis has heard 32 s
constexpr double agreeBeats = 0.05;           // a measured beat this close to the clock's agrees with it
constexpr int lockMeasures = 8;               // locked after this many in a row (about 0.75 s)
constexpr double quietSeconds = 4.0;          // unlocked after this long in silence (the tempo held)
constexpr float silentLevel = 1e-6f;          // a hop's mean square below this (-60 dB) is silence
constexpr double onBeat = 0.15;               // the low end's onsets this close to a beat count for its place
constexpr double barMemorySeconds = 15.0;
constexpr float barSwitch = 1.25f;  // another place becomes the bar's start once this much stronger
constexpr float lowCutoffHz = 150.0f;
constexpr double pieceGapSeconds = 1.5;  // silence this long ends a piece (a song may rest a second)
// Of two related tempos (2/3, 3/4, 4/3, 3/2 of each other, within 1.5 %) the other one,
// if its comb scores at least this share of the best's, is the beat where its four beats
// repeat this many times better.
constexpr double relativeReach = 0.015;
constexpr double barRelativeShare = 0.6;
constexpr double barRepeatBetter = 2.0;
// A relative scoring this share of the best leaves the tempo in doubt: the lock waits
// until the measures hear the longest span they keep.
constexpr double doubtfulShare = 0.9;
// The onset strength of a hop answers to an attack this many frames before the hop's
// end (half the phase vocoder's window, where its taper lets an attack through most).
constexpr double strengthDelay = window / 2.0;
// Where a peak at c, with l and r on either side one step away, truly lies: steps from
// c (none where the three do not bend down).
double parabolaShift(double l, double c, double r) {
  const double bend = l - 2.0 * c + r;
  return bend < 0.0 ? 0.5 * (l - r) / bend : 0.0;
}
// Whether one period is a simple relative of the other (half, two thirds, three
// quarters and their inverses), within 2 %.
bool relative(double a, double b) {
  for (double k : {0.5, 2.0 / 3.0, 0.75, 4.0 / 3.0, 1.5, 2.0})
    if (std::abs(a / (b * k) - 1.0) < 0.02) return true;
  return false;
}
}  // namespace

struct LiveBeatAubio {
  aubio_pvoc_t* pvoc = new_aubio_pvoc(window, LiveBeat::hop);
  fvec_t* in = new_fvec(LiveBeat::hop);
  cvec_t* grain = new_cvec(window);
  float strength[LiveBeat::historyHops] = {};
  float lowStrength[LiveBeat::historyHops] = {};
  double hopEnd[LiveBeat::historyHops] = {};
  float lastLog[bins] = {};
  float lags[LiveBeat::longestLag + 1] = {};
  float lowLags[LiveBeat::longestLag + 1] = {};
  BeatFeatureStream heard{LiveBeat::longestWholeHops};
  bool ok() const { return pvoc && in && grain && heard.ok(); }
  ~LiveBeatAubio() {
    if (grain) del_cvec(grain);
    if (in) del_fvec(in);
    if (pvoc) del_aubio_pvoc(pvoc);
  }
};

bool LiveBeat::open() {
  close();
  aubio = new LiveBeatAubio;
  if (!aubio->ok()) {
    close();
    return false;
  }
  strength = aubio->strength;
  lowStrength = aubio->lowStrength;
  hopEnd = aubio->hopEnd;
  lastLog = aubio->lastLog;
  lags = aubio->lags;
  lowLags = aubio->lowLags;
  heard = &aubio->heard;
  return true;
}

void LiveBeat::close() {
  delete aubio;
  aubio = nullptr;
  strength = lowStrength = lastLog = lags = lowLags = nullptr;
  heard = nullptr;
  placed = barFromWhole = lockedInPiece = false;
  corrections = 0;
  lastWholeFrame = -1.0;
  wholeStreak = otherWholes = 0;
  lastWholePeriod = 0.0;
  barCandidate = -1;
  hopEnd = nullptr;
  clock = {};
  period = 0.0;
  isLocked = false;
  lockFrame = fedEnd = heardEnd = 0;
  hops = pieceHop = 0;
  pieceMeasured = false;
  agreeing = otherTempo = barOffset = 0;
  std::fill(std::begin(barWeight), std::end(barWeight), 0.0f);
  lowState = lowLevel = 0.0f;
}

double LiveBeat::bpm() const {
  return period > 0.0 ? 60.0 * sampleRate / period : 0.0;
}

void LiveBeat::feed(const float* mono, std::uint64_t first) {
  if (aubio == nullptr) return;
  if (first > fedEnd && hops > 0) {
    // A gap: what the whole analysis hears keeps its beats where they were (silence in
    // the place of what was lost), or, past a pause between pieces, starts afresh.
    static constexpr float nothing[hop] = {};
    if (static_cast<double>(first - fedEnd) > pieceGapSeconds * sampleRate)
      newPiece();
    else
      for (std::uint64_t k = (first - fedEnd + hop / 2) / hop; k > 0; --k) heard->hear(nothing);
  }
  fedEnd = first + hop;

  // The low band, one pole at 150 Hz: its log energy's rise; and the hop's level.
  const float coefficient = 1.0f - std::exp(-2.0f * static_cast<float>(M_PI) * lowCutoffHz / sampleRate);
  float energy = 0.0f;
  float level = 0.0f;
  for (int i = 0; i < hop; ++i) {
    aubio->in->data[i] = mono[i];
    lowState += coefficient * (mono[i] - lowState);
    energy += lowState * lowState;
    level += mono[i] * mono[i];
  }
  if (level / hop >= silentLevel) {
    // Sound after a pause (or at first) starts a piece: the quick measures hear it
    // alone, neither the silence before it (which would favour short lags: 3/2 of the
    // tempo) nor the last piece.
    if (heardEnd == 0 || static_cast<double>(first - heardEnd) > pieceGapSeconds * sampleRate) {
      pieceHop = hops;
      pieceMeasured = false;
    }
    heardEnd = fedEnd;
  }
  const float low = std::log1p(1000.0f * energy / hop);
  const float lowRise = std::max(0.0f, low - lowLevel);
  lowLevel = low;

  // The onset strength: the rise of every bin's log magnitude, summed.
  aubio_pvoc_do(aubio->pvoc, aubio->in, aubio->grain);
  float rise = 0.0f;
  for (int k = 1; k < bins; ++k) {
    const float logMagnitude = std::log1p(compression * aubio->grain->norm[k]);
    rise += std::max(0.0f, logMagnitude - lastLog[k]);
    lastLog[k] = logMagnitude;
  }
  strength[hops % historyHops] = rise;
  // The whole analysis hears the music; a long silence ends the piece.
  if (static_cast<double>(fedEnd - heardEnd) <= pieceGapSeconds * sampleRate)
    heard->hear(mono);
  else if (heard->hops() > 0)
    newPiece();
  lowStrength[hops % historyHops] = lowRise;
  hopEnd[hops % historyHops] = static_cast<double>(fedEnd);
  ++hops;

  if (hops - pieceHop >= shortestHistory && hops % measureEvery == 0) measure();
  // The whole analysis once it has heard enough at one tempo.
  if (hops % wholeEvery == 0 && heard->hops() >= wholeHops && fedEnd - heardEnd <= static_cast<std::uint64_t>(hop))
    analyseWhole();
  if (isLocked && static_cast<double>(fedEnd - heardEnd) > quietSeconds * sampleRate) {
    isLocked = false;  // silence: the clock runs on at the tempo it had
    agreeing = 0;
  }
  countBar(lowRise, static_cast<double>(fedEnd) - strengthDelay);
}

void LiveBeat::newPiece() {
  lockedInPiece = false;
  heard->restart();
  placed = false;
  lastWholeFrame = -1.0;
  wholeStreak = otherWholes = 0;
}

void LiveBeat::measure() {
  if (fedEnd - heardEnd > static_cast<std::uint64_t>(hop)) return;  // nothing to measure in silence
  const int count = static_cast<int>(std::min<std::int64_t>(hops - pieceHop, historyHops));
  const std::int64_t oldest = hops - count;
  auto at = [&](int i) { return strength[(oldest + i) % historyHops]; };  // i from the oldest kept
  double mean = 0.0;
  for (int i = 0; i < count; ++i) mean += at(i);
  mean /= count;

  // The autocorrelation of a strength less its mean, at whole lags: the whole
  // spectrum's and the low end's (sixteenth hats repeat at any number of sixteenths,
  // kicks and bass at the beat's).
  auto correlate = [&](const float* ring, float* out) {
    double m = 0.0;
    for (int i = 0; i < count; ++i) m += ring[(oldest + i) % historyHops];
    m /= count;
    for (int lag = 0; lag <= longestLag; ++lag) {
      double sum = 0.0;
      for (int i = lag; i < count; ++i)
        sum += (ring[(oldest + i) % historyHops] - m) * (ring[(oldest + i - lag) % historyHops] - m);
      out[lag] = static_cast<float>(sum / (count - lag));
    }
  };
  correlate(strength, lags);
  correlate(lowStrength, lowLags);
  if (lags[0] <= 0.0f) return;
  // Each on the scale of its own spread, so that both count alike.
  const double lowScale = lowLags[0] > 0.0f ? lags[0] / lowLags[0] : 0.0;
  // Between whole lags by a cubic through the four nearest (a straight line would put
  // every comb's peak where its longest lag is whole: steps of 0.6 % of the tempo).
  auto lagAt = [&](const float* v, double lag) {
    const int whole = static_cast<int>(lag);
    const double t = lag - whole;
    const double a = v[whole - 1], b = v[whole], c = v[whole + 1], d = v[whole + 2];
    return b + 0.5 * t * (c - a + t * (2.0 * a - 5.0 * b + 4.0 * c - d + t * (3.0 * (b - c) + d - a)));
  };
  auto comb = [&](const float* v, double p) {
    double score = 0.0;
    for (int k = 1; k <= combBeats; ++k) score += lagAt(v, k * p);
    return score;
  };
  // The tempo between two others whose one to four beats repeat best in both strengths,
  // found on a grid of tempos and then between its steps by a parabola (none where no
  // comb scores above 0).
  const double hopsPerMinute = 60.0 * sampleRate / hop;
  auto scoreAt = [&](double bpm) {
    const double p = hopsPerMinute / bpm;
    return comb(lags, p) + lowScale * comb(lowLags, p);
  };
  struct Peak {
    double bpm = 0.0, score = 0.0;
  };
  auto peakWithin = [&](double from, double to) {
    Peak peak;
    from = std::max(from, lowestSoughtBpm);
    const int steps = static_cast<int>(std::floor((std::min(to, highestSoughtBpm) - from) / bpmStep + 1e-9));
    int bestStep = -1;
    for (int k = 0; k <= steps; ++k) {
      const double score = scoreAt(from + k * bpmStep);
      if (score > peak.score) peak.score = score, bestStep = k;
    }
    if (bestStep < 0) return peak;
    peak.bpm = from + bestStep * bpmStep;
    if (bestStep > 0 && bestStep < steps)
      peak.bpm += bpmStep * parabolaShift(scoreAt(peak.bpm - bpmStep), peak.score, scoreAt(peak.bpm + bpmStep));
    return peak;
  };
  const Peak best = peakWithin(lowestSoughtBpm, highestSoughtBpm);
  if (best.score <= 0.0) return;
  // A related tempo that also repeats well, and whose four beats (a bar) repeat far
  // better, is the beat: kicks every three sixteenths repeat best at 4/3 of the tempo,
  // yet they start again with each bar.
  auto barRepeat = [&](double bpm) {
    const double p = hopsPerMinute / bpm;
    return lagAt(lags, barBeats * p) + lowScale * lagAt(lowLags, barBeats * p);
  };
  double bestBpm = best.bpm;
  const double bestBar = barRepeat(best.bpm);
  double chosenBar = bestBar;
  bool doubtful = false;
  for (double k : {2.0 / 3.0, 0.75, 4.0 / 3.0, 1.5}) {
    const Peak other = peakWithin(best.bpm * k * (1.0 - relativeReach), best.bpm * k * (1.0 + relativeReach));
    if (other.score >= doubtfulShare * best.score) doubtful = true;
    if (other.score < barRelativeShare * best.score) continue;
    const double bar = barRepeat(other.bpm);
    if (bar > barRepeatBetter * std::max(bestBar, 0.0) && bar > chosenBar) bestBpm = other.bpm, chosenBar = bar;
  }
  const double bestPeriod = hopsPerMinute / bestBpm;

  // The phase: the strength folded onto the period, and the newest beat where it gathers.
  double folded[phaseBins] = {};
  double foldedLow[phaseBins] = {};
  for (int i = 0; i < count; ++i) {
    const double place = std::fmod(static_cast<double>(i) / bestPeriod, 1.0);
    const int bin = static_cast<int>(place * phaseBins) % phaseBins;
    folded[bin] += at(i) - mean;
    foldedLow[bin] += lowStrength[(oldest + i) % historyHops];
  }
  int peak = 0;
  for (int b = 1; b < phaseBins; ++b)
    if (folded[b] > folded[peak]) peak = b;
  auto around = [](const double* fold, int b) {
    return fold[(b + phaseBins - 1) % phaseBins] + fold[b] + fold[(b + 1) % phaseBins];
  };
  // How far one place leads another, as a share of the two.
  auto lead = [](double a, double b) {
    const double both = std::abs(a) + std::abs(b);
    return both > 0.0 ? (a - b) / both : 0.0;
  };
  const int opposite = (peak + phaseBins / 2) % phaseBins;
  if (lead(around(foldedLow, opposite), around(foldedLow, peak)) >
      lead(around(folded, peak), around(folded, opposite))) {
    // The strongest onsets fall between the low end's, and the low end leads there by
    // more than they lead: the beat is the low end's. (A bass on the off-beats that
    // gathers a little more there does not move onsets that gather clearly on the beat.)
    peak = opposite;
    for (int b = opposite - 2; b <= opposite + 2; ++b) {
      const int w = (b + phaseBins) % phaseBins;
      if (folded[w] > folded[peak]) peak = w;
    }
  }
  // The beat's place in the newer half of what is kept (the newest beats' phase), to a
  // fraction of a bin, near the peak of the whole.
  double newerFold[phaseBins] = {};
  const int half = count / 2;
  for (int i = half; i < count; ++i) {
    const double place = std::fmod(static_cast<double>(i) / bestPeriod, 1.0);
    newerFold[static_cast<int>(place * phaseBins) % phaseBins] += at(i) - mean;
  }
  int top = peak;
  for (int b = peak - 3; b <= peak + 3; ++b)
    if (newerFold[(b + phaseBins) % phaseBins] > newerFold[(top + phaseBins) % phaseBins]) top = b;
  const double newer =
      top + 0.5 +
      parabolaShift(newerFold[(top + phaseBins - 1) % phaseBins], newerFold[(top + phaseBins) % phaseBins],
                    newerFold[(top + 1 + phaseBins) % phaseBins]);
  // The beat nearest the newer half's middle, then the newest one.
  const double middle = half + (count - half) / 2.0;
  const double phaseHops = newer / phaseBins * bestPeriod;
  const double middleBeat = phaseHops + std::round((middle - phaseHops) / bestPeriod) * bestPeriod;
  const double newestHop = count - 1;
  const double beatHop = middleBeat + std::floor((newestHop - middleBeat) / bestPeriod) * bestPeriod;
  // At the frame where its hop ended (gaps included).
  const double wholeHop = std::clamp(std::round(beatHop), 0.0, newestHop);
  const double beatFrame =
      hopEnd[(oldest + static_cast<std::int64_t>(wholeHop)) % historyHops] + (beatHop - wholeHop) * hop - strengthDelay;

  const double measuredPeriod = 60.0 * sampleRate / foldTempo(bestBpm);
  const double per = std::max(1.0, std::round(measuredPeriod / (bestPeriod * hop)));
  steer(beatFrame, measuredPeriod, per, false, doubtful);
  pieceMeasured = true;
}

void LiveBeat::steer(double beatFrame, double measuredPeriod, double per, bool whole, bool doubtful) {
  const double now = static_cast<double>(fedEnd);
  if (period <= 0.0) {
    // The first measure: the beat there is beat 0, and the clock stands at 0 before it.
    period = measuredPeriod;
    clock.now = LiveBeatStretch{beatFrame, 0.0, 1.0 / period, beatFrame, period};
    clock.before = LiveBeatStretch{};
    return;
  }
  // Where the clock stands at the measured beat: ahead (positive) or behind (where the
  // measure counts twice as fast as the clock, to the nearest half beat). It is judged
  // by where the clock is heading, not where it ran: a measure of sound heard before
  // the clock began its last glide would otherwise find the old phase right and undo
  // the glide.
  const double there = clock.now.heading(beatFrame) * per;
  const double error = (there - std::round(there)) / per;
  const double lastWhole = lastWholePeriod;
  if (whole) lastWholePeriod = measuredPeriod;
  if (std::abs(measuredPeriod - period) > otherTempoShare * period) {
    const bool sameMusic = relative(measuredPeriod, period);
    if (whole) {
      // Two whole analyses in a row at another tempo than the quick measures took:
      // those took a relative of it (3/2, 4/3 and the like), and the tempo is theirs.
      // A relative of a tempo they placed, or that the quick measures locked on in this
      // piece, takes three: what music with accents every three eighths gives swings
      // between its tempo and 4/3 of it.
      otherWholes = std::abs(measuredPeriod - lastWhole) > wholeAgreeShare * measuredPeriod ? 1 : otherWholes + 1;
      if (otherWholes < otherTempoWholes + ((placed || lockedInPiece) && sameMusic ? 1 : 0)) return;
    } else {
      // Once placed, or locked in this piece, a relative of the tempo is the same music,
      // not another song: only the whole analysis may say the beat is that relative.
      if ((placed || lockedInPiece) && sameMusic) return;
      // Not on the clock's beats: the measures that lock it must come in a row.
      agreeing = 0;
      // The first measure of a piece is taken at once, as the very first is.
      if (++otherTempo < (placed ? placedOtherTempoMeasures : otherTempoMeasures) && pieceMeasured) return;
      // A relative of the tempo may be the same music measured another way: the whole
      // analysis keeps what it heard since the last unrelated tempo (quick measures
      // that swing between 3/2 and 1 would otherwise keep it from ever running).
      if (!sameMusic) heard->restart();
      // Its bars are found anew.
      barFromWhole = false;
      barCandidate = -1;
      std::fill(std::begin(barWeight), std::end(barWeight), 0.0f);
    }
    period = measuredPeriod;  // its tempo at once, its phase by the glide below
    otherTempo = 0;
    agreeing = 0;
    // The analysis, having heard more of the same music, corrects the tempo of a lock:
    // the lock stands at the new tempo. Another tempo of the quick measures loses it.
    if (whole && isLocked)
      ++corrections;
    else
      isLocked = lockedInPiece = false;
    placed = false;
  } else {
    otherTempo = 0;
    // Once the whole analysis has placed the beat, the quick measures only refine it:
    // one further from the beats it placed than quickReach is ignored (judged against
    // those, not the clock, so that steps each within reach cannot walk the clock off),
    // and once that analysis has heard twice its first span, a nearer one (quick
    // measures that lean towards a bass on the off-beats stay within the wider reach).
    if (!whole && placed) {
      const double fromPlaced = (beatFrame - placedFrame) / period * per;
      const double reach = heard->hops() >= 2 * wholeHops ? longHeardReach : quickReach;
      if (std::abs(fromPlaced - std::round(fromPlaced)) / per > reach) return;
    }
    period += (whole ? 1.0 : placed ? placedPull : tempoPull) * (measuredPeriod - period);
  }
  if (whole) {
    // A whole analysis that moves the beat must be confirmed by the next two, which put
    // the beats where it did (what some songs give in their first tens of seconds
    // alternates between the beat and the off-beat).
    const double since = lastWholeFrame >= 0.0 ? (beatFrame - lastWholeFrame) / measuredPeriod : 0.5;
    wholeStreak = std::abs(since - std::round(since)) < agreeBeats * 2 ? wholeStreak + 1 : 0;
    const bool confirmed = wholeStreak >= wholeConfirmations;
    lastWholeFrame = beatFrame;
    if (placed && std::abs(error) > quickReach && !confirmed) return;
    placed = true;
    placedFrame = beatFrame;
  }
  if (std::abs(error) < agreeBeats && otherTempo == 0) {
    // A tempo in doubt locks only once the measures hear their longest span.
    const bool early = doubtful && hops - pieceHop < historyHops;
    if (++agreeing >= lockMeasures && !isLocked && !early) {
      isLocked = true;
      lockedInPiece = true;
      lockFrame = fedEnd;
    }
  } else {
    agreeing = 0;
  }

  // From now on the clock makes up the error over the next beats, then counts the
  // tempo; what is still to be heard before now keeps the stretch it had.
  // (What the glide under way has still to make up is kept.)
  const double beatNow = clock.beatAt(now);
  const double pending = clock.now.heading(now) - beatNow;
  clock.before = clock.now;
  clock.now =
      LiveBeatStretch{now, beatNow, (1.0 + (pending - error) / glideBeats) / period, now + glideBeats * period, period};
}

void LiveBeat::analyseWhole() {
  const std::int64_t frames = heard->frames();
  const BeatGrid grid = beatGridFrom(heard->f, frames);
  if (grid.source != TempoSource::detected) return;
  // Once the beat is placed, an analysis that takes a relative of its tempo (4/3, 3/2
  // and the like) over that tempo, which gathers the onsets at least as well, says
  // nothing new: music with accents every three eighths is heard either way.
  if (placed && relative(grid.beatSamples, period) && grid.runnerUpBpm > 0.0 &&
      std::abs(60.0 * sampleRate / foldTempo(grid.runnerUpBpm) / period - 1.0) < wholeAgreeShare * 2 &&
      grid.runnerUpPulse >= grid.pulse)
    return;
  // The grid's newest beat, and the tempo there, in frames fed.
  const double start = static_cast<double>(fedEnd) - static_cast<double>(frames);
  const BeatMap map = grid.map();
  const double newestBeat = std::floor(map.beatAt(static_cast<double>(frames)));
  const double newest = map.positionAt(newestBeat);
  steer(start + newest, grid.stretches.empty() ? grid.beatSamples : grid.stretches.back().beatSamples, 1.0, true,
        false);
  if (grid.barFound) {
    // The grid's beat 0 starts a bar: the clock's beat that its newest beat falls on,
    // less as many beats, is the place of a bar start.
    const long long at = std::llround(clock.now.heading(start + newest)) - static_cast<long long>(newestBeat);
    const int place = static_cast<int>(((at % barBeats) + barBeats) % barBeats);
    if (place == barCandidate) barOffset = place;  // twice in a row
    barCandidate = place;
    barFromWhole = true;
  }
}

void LiveBeat::countBar(float rise, double end) {
  const float fade = std::exp(-static_cast<float>(hop) / static_cast<float>(barMemorySeconds * sampleRate));
  for (float& w : barWeight) w *= fade;
  if (period <= 0.0) return;
  const double beat = clock.beatAt(end);
  const double nearest = std::round(beat);
  if (std::abs(beat - nearest) > onBeat) return;
  const int place = static_cast<int>(((static_cast<long long>(nearest) % barBeats) + barBeats) % barBeats);
  barWeight[place] += rise;
  int strongest = 0;
  for (int p = 1; p < barBeats; ++p)
    if (barWeight[p] > barWeight[strongest]) strongest = p;
  if (!barFromWhole && strongest != barOffset && barWeight[strongest] > barSwitch * barWeight[barOffset])
    barOffset = strongest;
}
