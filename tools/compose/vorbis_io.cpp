// Ogg Vorbis encoding and decoding, and WAV writing, for the soundtrack (see vorbis_io.h).
#include "tools/compose/vorbis_io.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace compose {

namespace {

void appendPage(std::vector<unsigned char>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

}  // namespace

std::vector<unsigned char> encodeVorbis(const VorbisSettings& settings, long frames,
                                        const std::function<void(float** channels, long first, int count)>& fill) {
  vorbis_info info;
  vorbis_info_init(&info);
  std::vector<unsigned char> out;
  if (vorbis_encode_init_vbr(&info, settings.channels, settings.rate, settings.quality) != 0) {
    vorbis_info_clear(&info);
    return out;
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);  // no tags: the stream carries only the library's vendor string
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, settings.serial);

  ogg_packet identification, commentPacket, codebooks;
  vorbis_analysis_headerout(&dsp, &comment, &identification, &commentPacket, &codebooks);
  ogg_stream_packetin(&stream, &identification);
  ogg_stream_packetin(&stream, &commentPacket);
  ogg_stream_packetin(&stream, &codebooks);
  ogg_page page;
  // The headers stand on pages of their own, as decoders expect.
  while (ogg_stream_flush(&stream, &page) != 0) appendPage(out, page);

  auto drain = [&]() {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout_fill(&stream, &page, settings.pageBytes) != 0) appendPage(out, page);
      }
    }
  };

  for (long done = 0; done < frames;) {
    const int n = static_cast<int>(std::min<long>(settings.chunkFrames, frames - done));
    fill(vorbis_analysis_buffer(&dsp, n), done, n);
    vorbis_analysis_wrote(&dsp, n);
    drain();
    done += n;
  }
  vorbis_analysis_wrote(&dsp, 0);  // end of stream: the last page carries the exact length
  drain();
  while (ogg_stream_flush(&stream, &page) != 0) appendPage(out, page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

std::vector<unsigned char> encodeVorbis(const std::vector<float>& stereo, float quality) {
  VorbisSettings settings;
  settings.quality = quality;
  return encodeVorbis(settings, static_cast<long>(stereo.size() / 2), [&stereo](float** buffer, long first, int count) {
    for (int i = 0; i < count; ++i) {
      buffer[0][i] = stereo[2 * static_cast<std::size_t>(first + i)];
      buffer[1][i] = stereo[2 * static_cast<std::size_t>(first + i) + 1];
    }
  });
}

bool decodeVorbis(const unsigned char* data, std::size_t size, DecodedTrack& track, std::string& error) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  ogg_stream_state stream;
  bool streamStarted = false;
  vorbis_info info;
  vorbis_info_init(&info);
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_block block;
  bool synthesisStarted = false;
  int headers = 0;
  bool ended = false;
  bool failed = false;
  track = DecodedTrack{};

  std::size_t offset = 0;
  while (!ended && !failed) {
    ogg_page page;
    const int result = ogg_sync_pageout(&sync, &page);
    if (result == 0) {
      if (offset >= size) break;
      const std::size_t n = std::min<std::size_t>(4096, size - offset);
      char* buffer = ogg_sync_buffer(&sync, static_cast<long>(n));
      std::memcpy(buffer, data + offset, n);
      ogg_sync_wrote(&sync, static_cast<long>(n));
      offset += n;
      continue;
    }
    if (result < 0) continue;  // skipped bytes before a page
    if (!streamStarted) {
      ogg_stream_init(&stream, ogg_page_serialno(&page));
      streamStarted = true;
    }
    if (ogg_page_serialno(&page) != stream.serialno) {
      error = "more than one logical stream";
      failed = true;
      break;
    }
    ogg_stream_pagein(&stream, &page);
    ogg_packet packet;
    while (ogg_stream_packetout(&stream, &packet) == 1) {
      if (headers < 3) {
        if (vorbis_synthesis_headerin(&info, &comment, &packet) != 0) {
          error = "not a Vorbis header";
          failed = true;
          break;
        }
        if (++headers == 3) {
          vorbis_synthesis_init(&dsp, &info);
          vorbis_block_init(&dsp, &block);
          synthesisStarted = true;
          track.channels = info.channels;
          track.rate = info.rate;
          track.userComments = comment.comments;
        }
        continue;
      }
      if (vorbis_synthesis(&block, &packet) == 0) vorbis_synthesis_blockin(&dsp, &block);
      float** pcm;
      int frames;
      while ((frames = vorbis_synthesis_pcmout(&dsp, &pcm)) > 0) {
        for (int i = 0; i < frames; ++i) {
          for (int c = 0; c < info.channels; ++c) track.samples.push_back(pcm[c][i]);
        }
        vorbis_synthesis_read(&dsp, frames);
      }
    }
    if (ogg_page_eos(&page)) ended = true;
  }
  if (!failed && headers < 3) {
    error = "the stream ends before its three headers";
    failed = true;
  }
  if (!failed && !ended) {
    error = "the stream has no last page";
    failed = true;
  }

  if (synthesisStarted) {
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
  }
  if (streamStarted) ogg_stream_clear(&stream);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  ogg_sync_clear(&sync);
  return !failed;
}

bool writeWav(const std::string& path, const std::vector<float>& stereo) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(stereo.size() * sizeof(float));
  const std::uint32_t frames = static_cast<std::uint32_t>(stereo.size() / 2);
  unsigned char header[58];
  unsigned char* p = header;
  auto text = [&](const char* s) {
    std::memcpy(p, s, 4);
    p += 4;
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *p++ = static_cast<unsigned char>(v >> (8 * i));
  };
  auto u16 = [&](std::uint16_t v) {
    *p++ = static_cast<unsigned char>(v);
    *p++ = static_cast<unsigned char>(v >> 8);
  };
  text("RIFF");
  u32(50 + dataBytes);
  text("WAVE");
  text("fmt ");
  u32(18);
  u16(3);  // IEEE float
  u16(2);
  u32(44100);
  u32(44100 * 8);
  u16(8);
  u16(32);
  u16(0);
  text("fact");
  u32(4);
  u32(frames);
  text("data");
  u32(dataBytes);
  bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  // Little-endian floats, as the machines that build the show store them.
  ok = ok && std::fwrite(stereo.data(), sizeof(float), stereo.size(), file) == stereo.size();
  ok = (std::fclose(file) == 0) && ok;
  return ok;
}

}  // namespace compose
