// The PlaybackBuffer that the audio device plays and the analysis reads, its
// filling from the decoded track, and the beat clock derived from a play position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/sample_rate.h"

constexpr std::uint32_t playbackFrameCount = 7893900;  // 179 s at 44,100 Hz
constexpr std::uint32_t guardFrameCount = 512;         // silent frames after the end
constexpr float sampleScale = 0.000030517578125f;  // 1 / 32768

constexpr float beatsPerSample = 6.2358275e-05f;    // 165 beats per minute at 44,100 Hz
constexpr float secondsPerSample = 2.2675737e-05f;  // 1 / 44,100

// Interleaved stereo floats, left then right: the show's 179 seconds followed by the guard.
extern float playbackBuffer[(playbackFrameCount + guardFrameCount) * 2];

// What the show plays: the PlaybackBuffer above, or a hand-picked track's own block,
// never copied. Either way `samples` holds 2 x (frames + guardFrameCount) floats, the
// guard silent, and every reader of the sound (the spectrum, the scope, the stars, the
// audio device, the capture) goes through this one view.
struct PlaybackView {
  const float* samples;
  std::uint32_t frames;

  const float* at(std::uint32_t position) const { return samples + 2 * static_cast<std::size_t>(position); }
};
extern PlaybackView playing;  // the PlaybackBuffer's 179 s unless a hand-picked track plays

// The frame's play position, stored once at the top of every frame; the effects
// and the scope read this copy, so the whole frame sees one position.
extern std::uint32_t playbackPosition;

// Writes frame i from 16-bit samples 2i and 2i+1 while 4(i+1) < byteSize. At most
// playbackFrameCount frames are written: a longer track is cut there. Returns the
// number of frames written.
std::uint32_t fillPlaybackBuffer(const std::int16_t* samples, std::int64_t byteSize);

// The same for a mono track, heard on both sides: frame i from sample i.
std::uint32_t fillPlaybackBufferMono(const std::int16_t* samples, std::int64_t byteSize);

// Zeroes the whole buffer, as a new process has it (show/show_state.h).
void clearPlaybackBuffer();

struct BeatClock {
  float beatPosition;  // position x beatsPerSample, rounded to a float
  int beat;            // floor of the same product before the rounding
  float beatPhase;     // 1 on the beat, falling towards 0
  float beatTime;      // (beat + 1) - beatPhase, the continuous beat position
};

BeatClock beatClockAt(std::uint32_t position);

// The first play position whose beat position reaches `beat` (288.0: the first frame
// of beat 288), within 0 .. playbackFrameCount; the inverse of the beat clock.
std::uint32_t firstPositionOfBeat(double beat);
