// Small Ogg Vorbis streams made on the spot with libvorbisenc: a few hundred
// milliseconds of a gliding tone over soft noise, in any channel count and rate.
// The decoder tests and the fuzzer's seed corpus are made from them.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace teststream {

inline void appendPage(std::vector<unsigned char>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

// `frames` sample frames per channel, on audio pages of about `pageBytes` bytes; the
// last page carries the end-of-stream flag. Empty when libvorbisenc refuses the
// channel count, rate or quality.
inline std::vector<unsigned char> encode(int channels, long rate, long frames, float quality = 0.1f, int serial = 165,
                                         int pageBytes = 1024) {
  std::vector<unsigned char> out;
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
    vorbis_info_clear(&info);
    return out;
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, serial);

  ogg_packet identification, commentPacket, setup;
  vorbis_analysis_headerout(&dsp, &comment, &identification, &commentPacket, &setup);
  ogg_stream_packetin(&stream, &identification);
  ogg_stream_packetin(&stream, &commentPacket);
  ogg_stream_packetin(&stream, &setup);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page) != 0) appendPage(out, page);

  auto drain = [&]() {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout_fill(&stream, &page, pageBytes) != 0) appendPage(out, page);
      }
    }
  };

  std::uint32_t noise = 12345;
  constexpr long step = 1024;
  for (long done = 0; done < frames; done += step) {
    const int n = static_cast<int>(frames - done < step ? frames - done : step);
    float** buffer = vorbis_analysis_buffer(&dsp, n);
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(done + i) / static_cast<double>(rate);
      const double tone = 0.5 * std::sin(2.0 * M_PI * (220.0 + 400.0 * t) * t);
      for (int c = 0; c < channels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.1;
        buffer[c][i] = static_cast<float>(tone * (1.0 - 0.3 * c) + hiss);
      }
    }
    vorbis_analysis_wrote(&dsp, n);
    drain();
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  while (ogg_stream_flush(&stream, &page) != 0) appendPage(out, page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

// Byte offsets where each page of an Ogg stream ends, in order.
inline std::vector<int> pageEnds(const std::vector<unsigned char>& stream) {
  std::vector<int> ends;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, static_cast<long>(stream.size()));
  for (std::size_t i = 0; i < stream.size(); ++i) buffer[i] = static_cast<char>(stream[i]);
  ogg_sync_wrote(&sync, static_cast<long>(stream.size()));
  ogg_page page;
  int offset = 0;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    offset += static_cast<int>(page.header_len + page.body_len);
    ends.push_back(offset);
  }
  ogg_sync_clear(&sync);
  return ends;
}

}  // namespace teststream
