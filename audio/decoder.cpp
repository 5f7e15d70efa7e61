// TrackDecoder: the whole soundtrack decoded from memory, in 4096-byte chunks,
// into 16-bit PCM that grows in 8 MiB steps.
#include "audio/decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/playback.h"

namespace {
constexpr int chunkSize = 4096;           // bytes per read step
constexpr int convertSamples = 4096;      // samples per converted chunk
constexpr int pcmGrowth = 8388608;        // 8 MiB per growth step
constexpr double decoderScale = 16000.0;  // a decoded 1.0 becomes 16,000
}  // namespace

std::int16_t convertSample(float value) {
  const double scaled = static_cast<double>(value) * decoderScale;
  if (std::isnan(scaled)) return 0;
  // Truncation toward zero with a silent clip; the comparisons come first so that
  // huge values never reach the integer conversion.
  if (scaled >= 32768.0) return 32767;
  if (scaled <= -32769.0) return -32768;
  const long truncated = static_cast<long>(scaled);
  if (truncated > 32767) return 32767;
  if (truncated < -32768) return -32768;
  return static_cast<std::int16_t>(truncated);
}

TrackDecoder::TrackDecoder(const unsigned char* data, int size)
    : convertBuffer(static_cast<std::int16_t*>(std::malloc(convertSamples * sizeof(std::int16_t)))),
      chunkFrames(convertSamples),
      pcmData(nullptr),
      pcmCapacity(0),
      pcmSize(0),
      sourceData(data),
      sourceSize(size),
      readOffset(0),
      chunkBuffer(nullptr),
      chunkBytes(0) {}

TrackDecoder::~TrackDecoder() {
  if (pcmCapacity > 0) std::free(pcmData);
  std::free(convertBuffer);
}

int TrackDecoder::readChunk(char* destination, int n) {
  const int count = std::min(n, sourceSize - readOffset);
  if (count <= 0) return 0;
  std::memcpy(destination, sourceData + readOffset, static_cast<std::size_t>(count));
  readOffset += count;
  return count;
}

void TrackDecoder::readStep() {
  chunkBuffer = ogg_sync_buffer(&syncState, chunkSize);
  chunkBytes = chunkBuffer ? readChunk(chunkBuffer, chunkSize) : 0;
  ogg_sync_wrote(&syncState, chunkBytes);
}

bool TrackDecoder::open() {
  if (!convertBuffer || syncReady) return false;  // once per decoder
  ogg_sync_init(&syncState);
  syncReady = true;
  readStep();

  // The first page; data that holds none before it ends is no stream at all. Junk
  // that libogg skips (a negative result) may still leave a page in what was read.
  for (;;) {
    const int r = ogg_sync_pageout(&syncState, &page);
    if (r == 1) break;
    if (r < 0) continue;
    if (chunkBytes < chunkSize) return false;
    readStep();
  }
  ogg_stream_init(&streamState, ogg_page_serialno(&page));
  streamReady = true;
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  codecReady = true;

  // The identification header.
  ogg_stream_pagein(&streamState, &page);
  if (ogg_stream_packetout(&streamState, &packet) != 1 || vorbis_synthesis_headerin(&info, &comment, &packet) != 0)
    return false;  // no Vorbis stream: the rest of the data need not be read

  // The comment and setup headers; one further chunk is always read after them,
  // and the packets that follow stay queued for decodeAll.
  int headers = 0;
  while (headers < 2) {
    for (;;) {
      const int r = ogg_sync_pageout(&syncState, &page);
      if (r == 0) break;
      if (r < 0) continue;
      ogg_stream_pagein(&streamState, &page);
      for (;;) {
        const int q = ogg_stream_packetout(&streamState, &packet);
        if (q <= 0) break;
        if (vorbis_synthesis_headerin(&info, &comment, &packet) != 0) return false;
        ++headers;
        if (headers == 2) break;
      }
      if (headers == 2) break;
    }
    readStep();
    if (chunkBytes == 0 && headers < 2) break;
  }
  if (headers < 2 || info.channels <= 0 || info.rate <= 0) return false;

  chunkFrames = convertSamples / info.channels;
  if (vorbis_synthesis_init(&dspState, &info) != 0) return false;
  vorbis_block_init(&dspState, &block);
  synthesisReady = true;
  // The show plays at most playbackFrameCount frames of mono or stereo; a stream
  // with more channels is held to the bytes of the stereo buffer.
  pcmLimit = static_cast<std::int64_t>(playbackFrameCount) * std::min(info.channels, 2) * 2;
  return true;
}

bool TrackDecoder::decodeAll() {
  if (!synthesisReady || pcmData) return false;  // once, after a successful open
  pcmSize = 0;
  pcmData = static_cast<std::int16_t*>(std::malloc(pcmGrowth));
  if (!pcmData) return false;
  pcmCapacity = pcmGrowth;

  const int channelCount = info.channels;
  for (;;) {
    const int r = ogg_sync_pageout(&syncState, &page);
    if (r == 0) {
      readStep();
      if (chunkBytes == 0) return true;
      continue;
    }
    if (r < 0) continue;

    ogg_stream_pagein(&streamState, &page);
    for (;;) {
      const int q = ogg_stream_packetout(&streamState, &packet);
      if (q == 0) break;
      if (q < 0) continue;
      if (vorbis_synthesis(&block, &packet) == 0) vorbis_synthesis_blockin(&dspState, &block);

      float** pcm = nullptr;
      int available;
      while ((available = vorbis_synthesis_pcmout(&dspState, &pcm)) > 0) {
        // A track longer than the show can play is cut: nothing past it is kept.
        const std::int64_t roomFrames = (pcmLimit - pcmSize) / (channelCount * 2);
        if (roomFrames <= 0) return true;
        const int n = static_cast<int>(std::min<std::int64_t>({available, chunkFrames, roomFrames}));
        for (int c = 0; c < channelCount; ++c) {
          const float* channel = pcm[c];
          for (int j = 0; j < n; ++j) convertBuffer[j * channelCount + c] = convertSample(channel[j]);
        }
        const int bytes = n * channelCount * 2;
        if (pcmSize + bytes >= pcmCapacity) {
          void* grown = std::realloc(pcmData, static_cast<std::size_t>(pcmCapacity) + pcmGrowth);
          if (!grown) return false;
          pcmData = static_cast<std::int16_t*>(grown);
          pcmCapacity += pcmGrowth;
        }
        std::memcpy(reinterpret_cast<char*>(pcmData) + pcmSize, convertBuffer, static_cast<std::size_t>(bytes));
        pcmSize += bytes;
        vorbis_synthesis_read(&dspState, n);
      }
    }
    if (ogg_page_eos(&page)) return true;
  }
}

void TrackDecoder::clear() {
  if (streamReady) ogg_stream_clear(&streamState);
  if (synthesisReady) {
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dspState);
  }
  if (codecReady) {
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
  }
  if (syncReady) ogg_sync_clear(&syncState);
  streamReady = synthesisReady = codecReady = syncReady = false;
}
