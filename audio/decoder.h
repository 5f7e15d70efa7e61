// TrackDecoder: drives libogg and libvorbis over an in-memory Ogg Vorbis stream
// and decodes it, in one go, into interleaved 16-bit PCM at 16,000 per unit.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <cstdint>

struct TrackDecoder {
  std::int16_t* convertBuffer;  // one converted chunk: 4096 samples
  int chunkFrames;              // frames converted per step: 4096 / channels
  std::int16_t* pcmData;        // the decoded track, interleaved by channel
  int pcmCapacity;              // bytes allocated for pcmData
  int pcmSize;                  // bytes of pcmData filled
  const unsigned char* sourceData;
  int sourceSize;
  int readOffset;
  ogg_sync_state syncState;
  ogg_stream_state streamState;
  ogg_page page;
  ogg_packet packet;
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dspState;
  vorbis_block block;
  char* chunkBuffer;
  int chunkBytes;

  // Which library states exist, so that clear() releases exactly those, and whether
  // the three headers were read: broken input must never reach the synthesis.
  bool syncReady = false;
  bool streamReady = false;
  bool codecReady = false;
  bool synthesisReady = false;
  // The most PCM bytes that decodeAll keeps: what the show can play (set by open).
  std::int64_t pcmLimit = 0;

  TrackDecoder(const unsigned char* data, int size);
  ~TrackDecoder();
  TrackDecoder(const TrackDecoder&) = delete;
  TrackDecoder& operator=(const TrackDecoder&) = delete;

  int readChunk(char* destination, int n);
  // Reads the three headers and sets up synthesis; false when the data holds no
  // Vorbis stream that can be decoded (the decoder is then left unusable).
  bool open();
  // Decodes every audio packet to the end of the stream; false when open did not
  // succeed or memory ran out (what was decoded before that is kept).
  bool decodeAll();
  int channels() const { return synthesisReady ? info.channels : 0; }
  long rate() const { return synthesisReady ? info.rate : 0; }
  int pcmBytes() const { return pcmSize; }
  std::int16_t sampleAt(int index) const { return pcmData[index]; }
  void clear();

  // One step of reading: a 4096-byte chunk from the source into libogg's buffer.
  void readStep();
};

// The conversion of one decoded value: v x 16000 in double precision, truncated
// toward zero, clipped to the 16-bit range.
std::int16_t convertSample(float value);
