// What the beat analysis hears in a track: one pass over it in hops of 512 samples
// gives the onset strength (the rise of the log spectrum) in three bands, the pitch
// classes sounding, aubio's beat tracker's beats and aubio's onsets. Plain C++ over
// float arrays with aubio and the standard library, so that any caller (a whole track,
// or a sliding window of what is playing) can run it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct BeatFeatures {
  static constexpr int hop = 512;        // samples at 44,100 Hz between two values
  static constexpr int chromaHops = 4;   // hops per chroma value
  using Chroma = std::array<float, 12>;  // C, C#, ... B, summing to 1 (or all 0 in silence)

  std::vector<float> flux;           // onset strength over the whole spectrum, per hop
  std::vector<float> lowFlux;        // below 150 Hz: kicks and bass
  std::vector<float> highFlux;       // above 2 kHz: snares, claps and hats
  std::vector<Chroma> chroma;        // per chromaHops hops
  std::vector<double> trackerBeats;  // aubio's tracker, in samples
  std::vector<double> onsets;        // aubio's onsets, in samples
  double confidence = 0.0;           // the tracker's confidence in its tempo, averaged over the track

  std::int64_t hops() const { return static_cast<std::int64_t>(flux.size()); }
  // The play position that hop n's onset strength speaks for: a rise that the window
  // ending at (n + 1) x hop first shows lies about half a hop before that end.
  static double positionOf(double hopIndex) { return (hopIndex + 0.5) * hop; }
};

struct BeatHearing;  // aubio's objects and what passes from hop to hop

// The pass in steps of a given number of hops, for a caller that must not stop for
// long (the page reads a song between its frames). `stereo` outlives the reader.
struct BeatFeatureReader {
  BeatFeatureReader(const float* stereo, std::int64_t frames);
  ~BeatFeatureReader();
  BeatFeatureReader(const BeatFeatureReader&) = delete;
  BeatFeatureReader& operator=(const BeatFeatureReader&) = delete;

  // Reads up to `most` hops more; true once every hop is read.
  bool step(std::int64_t most);
  double done() const { return hops > 0 ? static_cast<double>(next) / static_cast<double>(hops) : 1.0; }
  // What was heard, once step() has said so.
  BeatFeatures take();

  const float* stereo;
  std::int64_t frames;
  std::int64_t hops;
  std::int64_t next = 0;
  BeatFeatures f;
  BeatHearing* state = nullptr;
};

// The same pass over sound that arrives a hop at a time (the show listening): the
// features of what was heard since the last restart, at most the last `longest` hops,
// every time in them counted from their first hop. Its room is taken at the start:
// hearing allocates nothing.
struct BeatFeatureStream {
  explicit BeatFeatureStream(std::int64_t longest);
  ~BeatFeatureStream();
  BeatFeatureStream(const BeatFeatureStream&) = delete;
  BeatFeatureStream& operator=(const BeatFeatureStream&) = delete;

  bool ok() const;  // false where aubio cannot make its objects
  // One hop of mono samples.
  void hear(const float* mono);
  // What was heard is forgotten and the pass starts afresh (another piece of music).
  void restart();
  std::int64_t hops() const { return f.hops(); }
  std::int64_t frames() const { return f.hops() * BeatFeatures::hop; }

  std::int64_t longest;
  BeatFeatures f;
  BeatHearing* state = nullptr;
};

// Interleaved stereo floats at 44,100 Hz.
BeatFeatures readBeatFeatures(const float* stereo, std::int64_t frames);
