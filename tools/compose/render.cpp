// The soundtrack's instruments and mixer (see render.h). The track is rendered in blocks
// of 256 frames: the notes starting in a block get a voice, every voice adds itself into
// its bus, and the buses are filtered, pumped, sent to the echo and the reverb and summed.
#include "tools/compose/render.h"

#include "tools/compose/synth.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace compose {

namespace {

constexpr int blockFrames = 256;
constexpr double framesPerBeat = 44100.0 * 60.0 / 165.0;
constexpr float pi = 3.14159265f;

constexpr std::int64_t framesOf(double seconds) { return static_cast<std::int64_t>(seconds * sampleRate); }
inline float seconds(std::int64_t frames) { return static_cast<float>(frames) * secondsPerFrame; }

// Every voice seeds its noise from its note, never from a shared generator.
std::uint64_t noteSeed(const Note& note) {
  return mixBits(static_cast<std::uint64_t>(note.start) * 131u + static_cast<std::uint64_t>(note.instrument) * 7919u +
                 static_cast<std::uint64_t>(note.pitch * 16.0f));
}

//----------------------------------------------------------------------------------------
// Drums.

// Noise bursts have peaks far above their loudness; rounding them off keeps the hiss bright
// without the limiter having to duck the whole mix for every hat.
constexpr float noiseCeiling = 0.3f;
inline float softClip(float x) { return noiseCeiling * std::tanh(x * (1.0f / noiseCeiling)); }

struct KickVoice {
  static constexpr std::int64_t frames = 14112;  // 0.32 s: over before the next beat
  static constexpr int fadeFrames = 441;
  std::int64_t age = 0;
  float velocity = 1.0f;
  float phase = 0.0f;
  Noise noise;
  OnePoleLowpass clickTone;

  void start(const Note& note) {
    velocity = note.velocity;
    noise.seed(noteSeed(note));
    clickTone.tune(4000.0);
  }
  bool render(float* left, float* right, int from, int to) {
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float t = seconds(age);
      // The pitch falls from 355 Hz to 45 Hz: a click, a punch, then the body.
      const float hz = 45.0f + 130.0f * std::exp(-t / 0.035f) + 180.0f * std::exp(-t / 0.006f);
      phase += hz * secondsPerFrame;
      if (phase >= 1.0f) phase -= 1.0f;
      const float body = std::sin(2.0f * pi * phase) * (t < 0.05f ? 1.0f : std::exp(-(t - 0.05f) / 0.09f));
      const float click = clickTone.run(noise.white()) * std::exp(-t / 0.0025f) * 0.7f;
      float value = std::tanh(1.6f * (body + click)) * 1.08f;
      if (age > frames - fadeFrames) value *= static_cast<float>(frames - age) / fadeFrames;
      value *= velocity * 0.78f;
      left[i] += value;
      right[i] += value;
    }
    return age < frames;
  }
};

// The low drop under the first beat of a section.
struct BoomVoice {
  static constexpr std::int64_t frames = 3 * sampleRate;
  std::int64_t age = 0;
  float velocity = 1.0f;
  float phase = 0.0f;

  void start(const Note& note) { velocity = note.velocity; }
  bool render(float* left, float* right, int from, int to) {
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float t = seconds(age);
      phase += (36.0f + 44.0f * std::exp(-t / 0.15f)) * secondsPerFrame;
      if (phase >= 1.0f) phase -= 1.0f;
      const float attack = std::min(1.0f, t / 0.01f);
      const float value = std::sin(2.0f * pi * phase) * attack * std::exp(-t / 0.7f) * (1.0f - t / 3.0f) * 0.45f *
                          velocity;
      left[i] += value;
      right[i] += value;
    }
    return age < frames;
  }
};

struct ClapVoice {
  static constexpr std::int64_t frames = framesOf(0.4);
  std::int64_t age = 0;
  float velocity = 1.0f;
  PanGains pan{1.0f, 1.0f};
  Noise common, own[2];
  StateVariableFilter body[2], air[2];

  void start(const Note& note) {
    velocity = note.velocity;
    pan = panGains(note.pan);
    const std::uint64_t seed = noteSeed(note);
    common.seed(seed);
    own[0].seed(seed + 1);
    own[1].seed(seed + 2);
    for (int c = 0; c < 2; ++c) {
      body[c].tune(1250.0, 1.4);
      air[c].tune(6500.0, 0.7);
    }
  }
  bool render(float* left, float* right, int from, int to) {
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float t = seconds(age);
      // Three quick claps of hands a few milliseconds apart, then the room.
      // The hiss on top fades faster than the body, so the clap's brightness is a flash.
      float bursts = std::exp(-t / 0.0035f);
      if (t >= 0.010f) bursts += std::exp(-(t - 0.010f) / 0.0035f);
      const float room = t >= 0.020f ? std::exp(-(t - 0.020f) / 0.075f) : 0.0f;
      const float hiss = t >= 0.020f ? std::exp(-(t - 0.020f) / 0.03f) : 0.0f;
      const float envelope = bursts + 1.2f * room;
      const float airEnvelope = bursts + 1.2f * hiss;
      const float shared = common.white();
      float out[2];
      for (int c = 0; c < 2; ++c) {
        const float source = 0.7f * shared + 0.3f * own[c].white();
        body[c].run(source);
        air[c].run(source);
        out[c] = softClip((1.6f * body[c].band * envelope + 5.0f * air[c].high * airEnvelope) * 0.55f * velocity);
      }
      const float gain = 1.0f;
      left[i] += out[0] * gain * pan.left;
      right[i] += out[1] * gain * pan.right;
    }
    return age < frames;
  }
};

struct SnareVoice {
  static constexpr std::int64_t frames = framesOf(0.3);
  std::int64_t age = 0;
  float velocity = 1.0f;
  float rise = 0.0f;
  float phase = 0.0f;
  PanGains pan{1.0f, 1.0f};
  Noise noise;
  StateVariableFilter crisp;

  void start(const Note& note) {
    velocity = note.velocity;
    rise = note.param;
    pan = panGains(note.pan);
    noise.seed(noteSeed(note));
    crisp.tune(1800.0 + 1500.0 * rise, 0.8);
  }
  bool render(float* left, float* right, int from, int to) {
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float t = seconds(age);
      phase += 185.0f * (1.0f + 0.7f * rise) * (1.0f + 0.4f * std::exp(-t / 0.01f)) * secondsPerFrame;
      if (phase >= 1.0f) phase -= 1.0f;
      const float tone = std::sin(2.0f * pi * phase) * std::exp(-t / 0.04f);
      crisp.run(noise.white());
      const float rattle = crisp.high * std::exp(-t / 0.09f);
      float value = (0.45f * tone + 0.5f * rattle) * velocity * 0.6f;
      if (age > frames - 441) value *= static_cast<float>(frames - age) / 441.0f;
      left[i] += value * pan.left;
      right[i] += value * pan.right;
    }
    return age < frames;
  }
};

// Hats and the crash share one recipe: noise and a cluster of detuned squares through a
// steep highpass, with a resonant band around 9 kHz that gives the hiss its sheen. The noise
// differs on the two sides, which spreads the metal in stereo.
struct MetalVoice {
  static constexpr int squareCount = 6;
  std::int64_t age = 0;
  std::int64_t frames = 0;
  float velocity = 1.0f;
  float decay = 0.05f;
  float metalMix = 0.3f;
  float level = 1.0f;
  float sheen = 1.0f;
  PanGains pan{1.0f, 1.0f};
  SquareOscillator squares[squareCount];
  Noise noise[2];
  StateVariableFilter highpassA[2], highpassB[2], band[2];

  void prepare(const Note& note, float decaySeconds, double cutoffHz, float metal, float gain, float sheenGain) {
    velocity = note.velocity;
    decay = decaySeconds;
    metalMix = metal;
    level = gain;
    sheen = sheenGain;
    frames = framesOf(std::min(6.0f * decaySeconds, 6.0f));
    pan = panGains(note.pan);
    static constexpr double metalHz[squareCount] = {587.0, 845.0, 1031.0, 1297.0, 1479.0, 1873.0};
    for (int k = 0; k < squareCount; ++k) squares[k].setFrequency(metalHz[k]);
    const std::uint64_t seed = noteSeed(note);
    noise[0].seed(seed);
    noise[1].seed(seed ^ 0xA5A5A5A5u);
    for (int c = 0; c < 2; ++c) {
      highpassA[c].tune(cutoffHz, 0.9);
      highpassB[c].tune(cutoffHz * 1.1, 0.6);
      band[c].tune(8800.0, 1.3);
    }
  }
  bool render(float* left, float* right, int from, int to) {
    const float fadeStep = 1.0f / std::max<float>(1.0f, static_cast<float>(frames) * 0.1f);
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float t = seconds(age);
      float metal = 0.0f;
      for (SquareOscillator& square : squares) metal += square.next();
      metal *= 1.0f / squareCount;
      float envelope = std::exp(-t / decay) * std::min(1.0f, t / 0.0004f);
      const std::int64_t remaining = frames - age;
      if (remaining < frames / 10) envelope *= static_cast<float>(remaining) * fadeStep;
      float out[2];
      for (int c = 0; c < 2; ++c) {
        const float source = (1.0f - metalMix) * noise[c].white() + metalMix * metal;
        highpassA[c].run(source);
        highpassB[c].run(highpassA[c].high);
        band[c].run(source);
        out[c] = softClip((highpassB[c].high + sheen * band[c].band) * envelope * level * velocity);
      }
      const float gain = 1.0f;
      left[i] += out[0] * gain * pan.left;
      right[i] += out[1] * gain * pan.right;
    }
    return age < frames;
  }
};

struct HatVoice {
  MetalVoice metal;
  void start(const Note& note) { metal.prepare(note, note.param, 4500.0, 0.25f, 1.0f, 2.0f); }
  bool render(float* left, float* right, int from, int to) { return metal.render(left, right, from, to); }
};

struct CrashVoice {
  MetalVoice metal;
  void start(const Note& note) { metal.prepare(note, 0.9f, 3800.0, 0.4f, 0.4f, 0.3f); }
  bool render(float* left, float* right, int from, int to) { return metal.render(left, right, from, to); }
};

// Noise through a resonant band that climbs from 300 Hz to 9 kHz while it swells.
struct RiserVoice {
  std::int64_t age = 0;
  std::int64_t frames = 0;
  float velocity = 1.0f;
  Noise noise[2];
  StateVariableFilter band[2];

  void start(const Note& note) {
    velocity = note.velocity;
    frames = note.length;
    const std::uint64_t seed = noteSeed(note);
    noise[0].seed(seed);
    noise[1].seed(seed + 99);
  }
  bool render(float* left, float* right, int from, int to) {
    for (int i = from; i < to; ++i, ++age) {
      if (age >= frames) return false;
      const float x = static_cast<float>(age) / static_cast<float>(frames);
      if ((age & 31) == 0) {
        const double hz = 300.0 * std::pow(30.0, x);
        band[0].tune(hz, 2.5);
        band[1].tune(hz * 1.05, 2.5);
      }
      float envelope = x * x * 0.4f * velocity;
      if (frames - age < 220) envelope *= static_cast<float>(frames - age) / 220.0f;
      band[0].run(noise[0].white());
      band[1].run(noise[1].white());
      left[i] += band[0].band * envelope;
      right[i] += band[1].band * envelope;
    }
    return age < frames;
  }
};

//----------------------------------------------------------------------------------------
// Synthesisers.

struct BassVoice {
  static constexpr std::int64_t releaseFrames = 300;
  std::int64_t age = 0;
  std::int64_t gate = 0;
  float velocity = 1.0f;
  float subPhase = 0.0f;
  float subStep = 0.0f;
  SawOscillator saws[2];
  StateVariableFilter filter;

  void start(const Note& note) {
    velocity = note.velocity;
    gate = note.length;
    const double hz = midiToHz(note.pitch);
    saws[0].setFrequency(hz * centsToRatio(-6.0));
    saws[1].setFrequency(hz * centsToRatio(6.0));
    saws[1].phase = 0.37f;
    subStep = static_cast<float>(hz / sampleRate);
  }
  bool render(float* left, float* right, int from, int to) {
    const std::int64_t end = gate + releaseFrames;
    for (int i = from; i < to; ++i, ++age) {
      if (age >= end) return false;
      const float t = seconds(age);
      if ((age & 15) == 0) filter.tune(160.0 + 2200.0 * std::exp(-t / 0.04f) * velocity, 1.1);
      subPhase += subStep;
      if (subPhase >= 1.0f) subPhase -= 1.0f;
      const float source = 0.35f * (saws[0].next() + saws[1].next()) + 0.6f * std::sin(2.0f * pi * subPhase);
      filter.run(source);
      float envelope = std::min(1.0f, t / 0.0015f);
      if (age > gate) envelope *= 1.0f - static_cast<float>(age - gate) / releaseFrames;
      const float value = filter.low * envelope * velocity * 0.75f;
      left[i] += value;
      right[i] += value;
    }
    return age < end;
  }
};

// Seven detuned saws spread across the stereo field; the pad bus filters them together.
struct PadVoice {
  static constexpr int sawCount = 7;
  static constexpr std::int64_t releaseFrames = framesOf(0.45);
  std::int64_t age = 0;
  std::int64_t gate = 0;
  std::int64_t attackFrames = 1;
  float velocity = 1.0f;
  SawOscillator saws[sawCount];
  PanGains pans[sawCount];

  void start(const Note& note) {
    static constexpr double detuneCents[sawCount] = {-21.0, -13.0, -6.0, 0.0, 5.0, 12.0, 20.0};
    static constexpr float spread[sawCount] = {-0.9f, 0.6f, -0.35f, 0.0f, 0.35f, -0.6f, 0.9f};
    static constexpr float levels[sawCount] = {0.55f, 0.75f, 0.9f, 1.0f, 0.9f, 0.75f, 0.55f};
    velocity = note.velocity;
    gate = note.length;
    attackFrames = std::max<std::int64_t>(1, framesOf(note.param));
    const double hz = midiToHz(note.pitch);
    Noise phases;
    phases.seed(noteSeed(note));
    for (int k = 0; k < sawCount; ++k) {
      saws[k].setFrequency(hz * centsToRatio(detuneCents[k]));
      saws[k].phase = phases.unit();
      const PanGains p = panGains(spread[k]);
      pans[k] = {p.left * levels[k], p.right * levels[k]};
    }
  }
  bool render(float* left, float* right, int from, int to) {
    const std::int64_t end = gate + releaseFrames;
    for (int i = from; i < to; ++i, ++age) {
      if (age >= end) return false;
      float envelope = std::min(1.0f, static_cast<float>(age) / static_cast<float>(attackFrames));
      if (age > gate) {
        const float x = 1.0f - static_cast<float>(age - gate) / releaseFrames;
        envelope *= x * x;
      }
      float sumLeft = 0.0f, sumRight = 0.0f;
      for (int k = 0; k < sawCount; ++k) {
        const float s = saws[k].next();
        sumLeft += s * pans[k].left;
        sumRight += s * pans[k].right;
      }
      const float gain = envelope * velocity * 0.11f;
      left[i] += sumLeft * gain;
      right[i] += sumRight * gain;
    }
    return age < end;
  }
};

// The arpeggio's pluck: two saws and a square, a filter that snaps shut, a short decay.
// The note's `param` is the filter's resting cutoff.
struct PluckVoice {
  static constexpr std::int64_t releaseFrames = 400;
  std::int64_t age = 0;
  std::int64_t gate = 0;
  float velocity = 1.0f;
  float cutoff = 2000.0f;
  PanGains pan{1.0f, 1.0f};
  SawOscillator saws[2];
  SquareOscillator square;
  StateVariableFilter filter;

  void start(const Note& note) {
    velocity = note.velocity;
    gate = note.length;
    cutoff = note.param;
    pan = panGains(note.pan);
    const double hz = midiToHz(note.pitch);
    saws[0].setFrequency(hz * centsToRatio(-8.0));
    saws[1].setFrequency(hz * centsToRatio(8.0));
    saws[1].phase = 0.5f;
    square.setFrequency(hz);
  }
  bool render(float* left, float* right, int from, int to) {
    const std::int64_t end = gate + releaseFrames;
    for (int i = from; i < to; ++i, ++age) {
      if (age >= end) return false;
      const float t = seconds(age);
      if ((age & 15) == 0) filter.tune(cutoff * (1.0f + 5.0f * std::exp(-t / 0.035f)), 1.8);
      filter.run(0.4f * (saws[0].next() + saws[1].next()) + 0.3f * square.next());
      float envelope = std::exp(-t / 0.15f) * std::min(1.0f, t / 0.001f);
      if (age > gate) envelope *= 1.0f - static_cast<float>(age - gate) / releaseFrames;
      const float value = filter.low * envelope * velocity * 0.6f;
      left[i] += value * pan.left;
      right[i] += value * pan.right;
    }
    return age < end;
  }
};

// The lead: five detuned saws and a square an octave below, a vibrato that grows on long
// notes. The note's `param` is the attack in seconds.
struct LeadVoice {
  static constexpr int sawCount = 5;
  static constexpr std::int64_t releaseFrames = framesOf(0.18);
  std::int64_t age = 0;
  std::int64_t gate = 0;
  std::int64_t attackFrames = 1;
  float velocity = 1.0f;
  double hz = 440.0;
  SawOscillator saws[sawCount];
  SquareOscillator square;
  PanGains pans[sawCount];
  StateVariableFilter filter[2];

  static constexpr double detuneCents[sawCount] = {-15.0, -7.0, 0.0, 7.0, 15.0};

  void start(const Note& note) {
    static constexpr float spread[sawCount] = {-0.7f, 0.35f, 0.0f, -0.35f, 0.7f};
    velocity = note.velocity;
    gate = note.length;
    attackFrames = std::max<std::int64_t>(1, framesOf(note.param));
    hz = midiToHz(note.pitch);
    Noise phases;
    phases.seed(noteSeed(note));
    for (int k = 0; k < sawCount; ++k) {
      saws[k].phase = phases.unit();
      pans[k] = panGains(spread[k]);
    }
    tune(0.0);
  }
  void tune(double cents) {
    for (int k = 0; k < sawCount; ++k) saws[k].setFrequency(hz * centsToRatio(detuneCents[k] + cents));
    square.setFrequency(0.5 * hz * centsToRatio(cents));
  }
  bool render(float* left, float* right, int from, int to) {
    const std::int64_t end = gate + releaseFrames;
    for (int i = from; i < to; ++i, ++age) {
      if (age >= end) return false;
      const float t = seconds(age);
      if ((age & 31) == 0) {
        const float depth = std::clamp((t - 0.25f) / 0.4f, 0.0f, 1.0f) * 12.0f;
        tune(depth * std::sin(2.0f * pi * 5.5f * t));
        const double cutoff = 6000.0 * (1.0 + 0.8 * std::exp(-t / 0.12f));
        filter[0].tune(cutoff, 0.8);
        filter[1].tune(cutoff, 0.8);
      }
      float envelope = std::min(1.0f, static_cast<float>(age) / static_cast<float>(attackFrames));
      envelope *= 0.72f + 0.28f * std::exp(-t / 0.3f);
      if (age > gate) envelope *= 1.0f - static_cast<float>(age - gate) / releaseFrames;
      const float under = 0.3f * square.next();
      float sumLeft = under, sumRight = under;
      for (int k = 0; k < sawCount; ++k) {
        const float s = saws[k].next();
        sumLeft += s * pans[k].left;
        sumRight += s * pans[k].right;
      }
      filter[0].run(sumLeft);
      filter[1].run(sumRight);
      const float gain = envelope * velocity * 0.12f;
      left[i] += filter[0].low * gain;
      right[i] += filter[1].low * gain;
    }
    return age < end;
  }
};

//----------------------------------------------------------------------------------------
// The mixer.

struct Bus {
  float left[blockFrames];
  float right[blockFrames];

  void clear() {
    std::fill(std::begin(left), std::end(left), 0.0f);
    std::fill(std::begin(right), std::end(right), 0.0f);
  }
};

template <class Voice>
struct VoicePool {
  struct Playing {
    Voice voice;
    int offset;  // where in its first block the note starts
  };
  std::vector<Playing> playing;

  // Starts a note `offset` frames into the current block; a note that began before the
  // block is played silently up to it first.
  void add(const Note& note, int offset, std::int64_t framesBehind, Bus& scratch) {
    Playing p{Voice{}, offset};
    p.voice.start(note);
    while (framesBehind > 0) {
      const int n = static_cast<int>(std::min<std::int64_t>(framesBehind, blockFrames));
      if (!p.voice.render(scratch.left, scratch.right, 0, n)) return;
      framesBehind -= n;
    }
    playing.push_back(p);
  }
  void render(Bus& bus) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < playing.size(); ++i) {
      Playing& p = playing[i];
      const bool alive = p.voice.render(bus.left, bus.right, p.offset, blockFrames);
      p.offset = 0;
      if (alive) {
        if (kept != i) playing[kept] = p;
        ++kept;
      }
    }
    playing.resize(kept);
  }
};

// Stereo 4-pole lowpass or highpass made of two state-variable stages per side.
struct StereoSweepFilter {
  StateVariableFilter stages[2][2];
  bool highpass = false;

  void tune(double hz) {
    for (int c = 0; c < 2; ++c) {
      stages[c][0].tune(hz, 0.54);
      stages[c][1].tune(hz, 1.31);
    }
  }
  void run(Bus& bus) {
    for (int i = 0; i < blockFrames; ++i) {
      for (int c = 0; c < 2; ++c) {
        float& x = c == 0 ? bus.left[i] : bus.right[i];
        stages[c][0].run(x);
        const float first = highpass ? stages[c][0].high : stages[c][0].low;
        stages[c][1].run(first);
        x = highpass ? stages[c][1].high : stages[c][1].low;
      }
    }
  }
};

constexpr float masterGain = 0.7f;
constexpr float presenceGain = 1.0f;  // +6 dB at 5 kHz
constexpr std::int64_t longestTail = framesOf(6.0);  // no voice sounds longer after its release

struct Mixer {
  const Score& score;
  InstrumentMask mask;

  VoicePool<KickVoice> kicks;
  VoicePool<BoomVoice> booms;
  VoicePool<ClapVoice> claps;
  VoicePool<SnareVoice> snares;
  VoicePool<HatVoice> hats;
  VoicePool<CrashVoice> crashes;
  VoicePool<RiserVoice> risers;
  VoicePool<BassVoice> basses;
  VoicePool<PadVoice> pads;
  VoicePool<PluckVoice> plucks;
  VoicePool<LeadVoice> leads;

  Bus kickBus, snareBus, metalBus, bassBus, padBus, arpBus, leadBus, synth, scratch;
  StereoSweepFilter padFilter, synthHighpass;
  StateVariableFilter presence[2];  // a lift around 5 kHz that makes the synths cut through
  PingPongDelay delay;
  Reverb reverb;
  OnePoleLowpass reverbDarken[2];
  OnePoleHighpass reverbThin[2], dcBlock[2];

  std::size_t nextNote = 0;
  std::size_t nextKick = 0;
  std::int64_t lastKick = -1000000;

  Mixer(const Score& s, InstrumentMask m) : score(s), mask(m) {
    synthHighpass.highpass = true;
    presence[0].tune(5000.0, 1.2);
    presence[1].tune(5000.0, 1.2);
    delay.prepare(12027, 0.38f, 3500.0);  // three 16th notes: 0.75 x 16,036.36 frames
    reverb.prepare(2.6, 5200.0);
    for (int c = 0; c < 2; ++c) {
      reverbDarken[c].tune(4500.0);
      reverbThin[c].tune(220.0);
      dcBlock[c].tune(12.0);
    }
  }

  void startNote(const Note& note, std::int64_t blockStart) {
    const int offset = static_cast<int>(std::max<std::int64_t>(0, note.start - blockStart));
    const std::int64_t behind = std::max<std::int64_t>(0, blockStart - note.start);
    switch (note.instrument) {
      case Instrument::kick: kicks.add(note, offset, behind, scratch); break;
      case Instrument::boom: booms.add(note, offset, behind, scratch); break;
      case Instrument::clap: claps.add(note, offset, behind, scratch); break;
      case Instrument::snare: snares.add(note, offset, behind, scratch); break;
      case Instrument::hat: hats.add(note, offset, behind, scratch); break;
      case Instrument::crash: crashes.add(note, offset, behind, scratch); break;
      case Instrument::riser: risers.add(note, offset, behind, scratch); break;
      case Instrument::bass: basses.add(note, offset, behind, scratch); break;
      case Instrument::pad: pads.add(note, offset, behind, scratch); break;
      case Instrument::arp: plucks.add(note, offset, behind, scratch); break;
      case Instrument::lead: leads.add(note, offset, behind, scratch); break;
      case Instrument::count: break;
    }
  }

  // Positions the note and kick cursors for a render that starts at `frame`.
  void seek(std::int64_t frame) {
    constexpr std::int64_t longestNote = 30 * sampleRate;  // a note plus its tail never lasts longer
    const auto& notes = score.notes;
    nextNote = static_cast<std::size_t>(
        std::lower_bound(notes.begin(), notes.end(), frame - longestNote,
                         [](const Note& n, std::int64_t f) { return n.start < f; }) -
        notes.begin());
    const auto& kickStarts = score.kickStarts;
    nextKick = static_cast<std::size_t>(std::upper_bound(kickStarts.begin(), kickStarts.end(), frame) -
                                        kickStarts.begin());
    lastKick = nextKick > 0 ? kickStarts[nextKick - 1] : -1000000;
  }

  // How far the pads are pushed down t seconds after a kick: a quick dip, a smooth return.
  static float pumpShape(float t) { return t < 0.005f ? t / 0.005f : std::exp(-(t - 0.005f) / 0.085f); }

  // Mixes one block starting at blockStart into out (interleaved).
  void renderBlock(std::int64_t blockStart, float* out) {
    const std::int64_t blockEnd = blockStart + blockFrames;
    while (nextNote < score.notes.size() && score.notes[nextNote].start < blockEnd) {
      const Note& note = score.notes[nextNote++];
      if (!(mask & onlyInstrument(note.instrument))) continue;
      if (note.start + note.length + longestTail < blockStart) continue;  // over before this render
      startNote(note, blockStart);
    }

    for (Bus* bus : {&kickBus, &snareBus, &metalBus, &bassBus, &padBus, &arpBus, &leadBus}) bus->clear();
    kicks.render(kickBus);
    booms.render(kickBus);
    claps.render(snareBus);
    snares.render(snareBus);
    hats.render(metalBus);
    crashes.render(metalBus);
    risers.render(metalBus);
    basses.render(bassBus);
    pads.render(padBus);
    plucks.render(arpBus);
    leads.render(leadBus);

    const Automation& a = score.automation;
    const double beat = (static_cast<double>(blockStart) + 0.5 * blockFrames) / framesPerBeat;
    padFilter.tune(a.padCutoff.at(beat));
    padFilter.run(padBus);
    synthHighpass.tune(a.synthHighpass.at(beat));
    const float duckDepth = a.duckDepth.at(beat);
    const float leadReverb = a.leadReverb.at(beat);
    const float masterLevel = a.masterLevel.at(beat) * masterGain;

    for (int i = 0; i < blockFrames; ++i) {
      const std::int64_t frame = blockStart + i;
      while (nextKick < score.kickStarts.size() && score.kickStarts[nextKick] <= frame) {
        lastKick = score.kickStarts[nextKick++];
      }
      const float pump = duckDepth * pumpShape(seconds(frame - lastKick));
      const float padGain = 1.0f - pump;
      const float bassGain = 1.0f - 0.8f * pump;
      const float arpGain = 1.0f - 0.5f * pump;
      const float leadGain = 1.0f - 0.25f * pump;
      bassBus.left[i] *= bassGain;
      bassBus.right[i] *= bassGain;
      padBus.left[i] *= padGain;
      padBus.right[i] *= padGain;
      arpBus.left[i] *= arpGain;
      arpBus.right[i] *= arpGain;
      leadBus.left[i] *= leadGain;
      leadBus.right[i] *= leadGain;
    }

    // Sends are taken before the sweep highpass, so the echoes keep their body in a build.
    float synthLeft[blockFrames], synthRight[blockFrames];
    for (int i = 0; i < blockFrames; ++i) {
      synthLeft[i] = bassBus.left[i] + padBus.left[i] + arpBus.left[i] + leadBus.left[i];
      synthRight[i] = bassBus.right[i] + padBus.right[i] + arpBus.right[i] + leadBus.right[i];
    }
    std::copy(std::begin(synthLeft), std::end(synthLeft), synth.left);
    std::copy(std::begin(synthRight), std::end(synthRight), synth.right);
    synthHighpass.run(synth);
    for (int i = 0; i < blockFrames; ++i) {
      presence[0].run(synth.left[i]);
      presence[1].run(synth.right[i]);
      synth.left[i] += presenceGain * presence[0].k * presence[0].band;
      synth.right[i] += presenceGain * presence[1].k * presence[1].band;
    }

    for (int i = 0; i < blockFrames; ++i) {
      float echoLeft, echoRight;
      delay.run(0.28f * arpBus.left[i] + 0.2f * leadBus.left[i] + 0.04f * snareBus.left[i],
                0.28f * arpBus.right[i] + 0.2f * leadBus.right[i] + 0.04f * snareBus.right[i], echoLeft, echoRight);
      float sendLeft = 0.18f * padBus.left[i] + 0.12f * arpBus.left[i] + leadReverb * leadBus.left[i] +
                       0.2f * snareBus.left[i] + 0.05f * metalBus.left[i] + 0.15f * echoLeft;
      float sendRight = 0.18f * padBus.right[i] + 0.12f * arpBus.right[i] + leadReverb * leadBus.right[i] +
                        0.2f * snareBus.right[i] + 0.05f * metalBus.right[i] + 0.15f * echoRight;
      sendLeft = reverbThin[0].run(reverbDarken[0].run(sendLeft));
      sendRight = reverbThin[1].run(reverbDarken[1].run(sendRight));
      float wetLeft, wetRight;
      reverb.run(sendLeft, sendRight, wetLeft, wetRight);

      const float left = kickBus.left[i] + snareBus.left[i] + metalBus.left[i] + synth.left[i] + 0.7f * echoLeft +
                         0.8f * wetLeft;
      const float right = kickBus.right[i] + snareBus.right[i] + metalBus.right[i] + synth.right[i] +
                          0.7f * echoRight + 0.8f * wetRight;
      out[2 * i] = dcBlock[0].run(left * masterLevel);
      out[2 * i + 1] = dcBlock[1].run(right * masterLevel);
    }
  }
};

// Denormal numbers in decaying filter states are slow on x86; flush them to zero while
// rendering. Same setting on every run, so the samples stay the same.
struct FlushDenormals {
#if defined(__SSE__) || defined(__x86_64__)
  unsigned int saved = _mm_getcsr();
  FlushDenormals() { _mm_setcsr(saved | 0x8040u); }
  ~FlushDenormals() { _mm_setcsr(saved); }
#endif
};

constexpr int limiterHold = 96;                 // frames over which the gain moves down
constexpr int limiterLookahead = 2 * limiterHold;  // frames the limiter sees ahead
constexpr std::int64_t settleFrames = 3 * sampleRate;

}  // namespace

void limitPeaks(std::vector<float>& stereo, float ceiling) {
  const std::size_t frames = stereo.size() / 2;
  if (frames == 0) return;
  // The gain each frame needs by itself, and its minimum over blocks of `limiterHold`.
  std::vector<float> needed(frames);
  for (std::size_t n = 0; n < frames; ++n) {
    const float peak = std::max(std::fabs(stereo[2 * n]), std::fabs(stereo[2 * n + 1]));
    needed[n] = peak > ceiling ? ceiling / peak : 1.0f;
  }
  const std::size_t blocks = (frames + limiterHold - 1) / limiterHold;
  std::vector<float> blockMin(blocks, 1.0f);
  for (std::size_t n = 0; n < frames; ++n) blockMin[n / limiterHold] = std::min(blockMin[n / limiterHold], needed[n]);

  // held[n]: the least gain needed anywhere in frames n .. n + lookahead (a superset of
  // blocks), released towards 1 with a time constant of 80 ms. The average of held over
  // the last `limiterHold` frames is then below needed[n] at every n, and smooth.
  const float release = 1.0f - std::exp(-1.0f / (0.08f * sampleRate));
  std::vector<float> held(frames);
  float previous = 1.0f;
  for (std::size_t n = 0; n < frames; ++n) {
    float least = 1.0f;
    const std::size_t lastBlock = std::min(blocks - 1, (n + limiterLookahead) / limiterHold);
    for (std::size_t b = n / limiterHold; b <= lastBlock; ++b) least = std::min(least, blockMin[b]);
    previous = std::min(least, previous + (1.0f - previous) * release);
    held[n] = previous;
  }
  double sum = 0.0;
  for (std::size_t n = 0; n < frames; ++n) {
    sum += held[n];
    if (n > static_cast<std::size_t>(limiterHold)) sum -= held[n - limiterHold - 1];
    const std::size_t count = std::min<std::size_t>(n + 1, limiterHold + 1);
    const float gain = std::min(needed[n], static_cast<float>(sum / static_cast<double>(count)));
    stereo[2 * n] = std::clamp(stereo[2 * n] * gain, -ceiling, ceiling);
    stereo[2 * n + 1] = std::clamp(stereo[2 * n + 1] * gain, -ceiling, ceiling);
  }
}

std::vector<float> renderSpan(const Score& score, std::int64_t first, std::int64_t count, InstrumentMask mask) {
  FlushDenormals flush;
  const std::int64_t renderStart = std::max<std::int64_t>(0, first - settleFrames);
  const std::int64_t renderEnd = first + count + limiterLookahead;
  const std::int64_t blocks = (renderEnd - renderStart + blockFrames - 1) / blockFrames;

  std::vector<float> mix(static_cast<std::size_t>(blocks * blockFrames * 2));
  Mixer mixer(score, mask);
  mixer.seek(renderStart);
  for (std::int64_t b = 0; b < blocks; ++b) {
    mixer.renderBlock(renderStart + b * blockFrames, mix.data() + b * blockFrames * 2);
  }
  limitPeaks(mix, peakCeiling);

  const std::size_t from = static_cast<std::size_t>(first - renderStart) * 2;
  return std::vector<float>(mix.begin() + static_cast<std::ptrdiff_t>(from),
                            mix.begin() + static_cast<std::ptrdiff_t>(from + static_cast<std::size_t>(count) * 2));
}

std::vector<float> renderTrack(const Score& score) { return renderSpan(score, 0, trackFrameCount); }

}  // namespace compose
