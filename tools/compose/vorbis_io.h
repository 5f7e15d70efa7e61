// Ogg Vorbis in and out for the soundtrack: the encoder that the build runs, the decoder
// that the statistics and the tests use, and the WAV writer for listening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace compose {

// One logical Ogg Vorbis stream, variable bit rate at `quality` (0.4: about 128 kbit/s),
// with an empty comment header; its headers on pages of their own, its audio on pages of
// about `pageBytes`, the last page with the end-of-stream flag.
struct VorbisSettings {
  int channels = 2;
  long rate = 44100;
  float quality = 0.4f;
  int serial = 165;  // fixed, so the stream is the same on every run
  int pageBytes = 4096;
  int chunkFrames = 4096;  // frames handed to the encoder at once (the blocks it makes follow them)
};
// `frames` sample frames, which `fill` writes, a chunk at a time, into the encoder's
// buffers: one array per channel, frames [first, first + count). Empty when
// libvorbisenc refuses the channel count, rate or quality.
std::vector<unsigned char> encodeVorbis(const VorbisSettings& settings, long frames,
                                        const std::function<void(float** channels, long first, int count)>& fill);
// The soundtrack's: interleaved stereo floats at 44,100 Hz.
std::vector<unsigned char> encodeVorbis(const std::vector<float>& stereo, float quality);

struct DecodedTrack {
  int channels = 0;
  long rate = 0;
  int userComments = 0;        // tags in the comment header
  std::vector<float> samples;  // interleaved, as the decoder gives them (about -1 .. 1)
  std::int64_t frames() const { return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0; }
};

// Decodes a whole Ogg Vorbis stream held in memory with libogg and libvorbis. Returns false
// (with a reason in `error`) when the data is not a complete Vorbis stream.
bool decodeVorbis(const unsigned char* data, std::size_t size, DecodedTrack& track, std::string& error);

// Writes interleaved stereo floats as a 32-bit float WAV file at 44,100 Hz.
bool writeWav(const std::string& path, const std::vector<float>& stereo);

}  // namespace compose
