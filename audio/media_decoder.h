// A hand-picked track in any common audio format, decoded with FFmpeg's libraries
// into what the show plays: interleaved stereo floats at 44,100 Hz. The file is
// untrusted: exactly the given path is opened (no URL protocol ever sees the name),
// FFmpeg is held to audio demuxers and decoders, and the output and the time spent
// are bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/sample_rate.h"

// The highest source rate taken: the resampler's set-up grows with the rate (a
// damaged header can claim hundreds of megahertz), and no audio file needs more.
constexpr int mediaMaxSourceRate = 768000;
constexpr std::int64_t mediaGuardFrames = 512;  // zero frames kept after the end, for the spectrum window

// Why a track is refused; `none` for one that was decoded.
enum class MediaRefusal {
  none,
  unreadable,        // cannot be opened or read
  notRegularFile,    // a directory, a device, a pipe
  noAudioStream,     // a container without audio, or no audio container at all
  nothingDecodable,  // not a format that can be read, no usable decoder, no samples
  damaged,           // cannot be read to its end (a chained Ogg that changes codec)
  tooShort,          // shorter than the shortest track the show takes
  tooSlow,           // decoding used up its processor time
  outOfMemory,
};

struct MediaLimits {
  std::int64_t maxFrames = 15 * 60 * sampleRate;  // a longer track is cut here, and says so
  std::int64_t minFrames = 30 * sampleRate;       // a shorter one is refused
  double deadlineSeconds = 60.0;                  // processor time for opening and decoding together
};

// The decoded track. `samples` holds 2 x (frames + mediaGuardFrames) floats, left then
// right; the guard is zero. Owned, moved rather than copied.
struct MediaTrack {
  float* samples = nullptr;
  std::int64_t frames = 0;
  bool cut = false;  // the file went on past MediaLimits::maxFrames
  // What the file held, for the track summary.
  int sourceRate = 0;
  int sourceChannels = 0;
  std::string formatName;            // FFmpeg's demuxer, e.g. "ogg"
  std::string codecName;             // its decoder, e.g. "vorbis"
  std::string title, artist, album;  // its tags, where it has them (the container's or the stream's)
  int resamplerSetups = 0;           // 1, or more where the rate or the channels change mid-file (a chained Ogg)

  MediaTrack() = default;
  ~MediaTrack();
  MediaTrack(MediaTrack&& other) noexcept;
  MediaTrack& operator=(MediaTrack&& other) noexcept;
  MediaTrack(const MediaTrack&) = delete;
  MediaTrack& operator=(const MediaTrack&) = delete;

  double seconds() const { return static_cast<double>(frames) / sampleRate; }
  void release();
};

struct MediaResult {
  MediaRefusal refusal = MediaRefusal::none;
  std::string message;  // one line: why it was refused, or what was cut; empty otherwise
  bool ok() const { return refusal == MediaRefusal::none; }
};

// Decodes the file at exactly `path`. On refusal `track` is left empty.
MediaResult decodeMediaFile(const std::string& path, MediaTrack& track, const MediaLimits& limits = {});

// The same over bytes in memory (the fuzzer's way in); `name` only labels messages.
MediaResult decodeMediaBytes(const std::uint8_t* data, std::size_t size, MediaTrack& track,
                             const MediaLimits& limits = {}, const std::string& name = "input");
