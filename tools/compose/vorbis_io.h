// Ogg Vorbis in and out for the soundtrack: the encoder that the build runs, the decoder
// that the statistics and the tests use, and the WAV writer for listening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace compose {

// Encodes interleaved stereo floats at 44,100 Hz as one logical Vorbis stream, variable
// bit rate at `quality` (0.4: about 128 kbit/s), with an empty comment header.
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
