// Small Ogg Vorbis streams made on the spot with libvorbisenc: a few hundred
// milliseconds of a gliding tone over soft noise, in any channel count and rate.
// The decoder tests and the fuzzer's seed corpus are made from them.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/compose/vorbis_io.h"

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
  std::uint32_t noise = 12345;
  const compose::VorbisSettings settings{channels, rate, quality, serial, pageBytes, 1024};
  return compose::encodeVorbis(settings, frames, [&](float** buffer, long first, int count) {
    for (int i = 0; i < count; ++i) {
      const double t = static_cast<double>(first + i) / static_cast<double>(rate);
      const double tone = 0.5 * std::sin(2.0 * M_PI * (220.0 + 400.0 * t) * t);
      for (int c = 0; c < channels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.1;
        buffer[c][i] = static_cast<float>(tone * (1.0 - 0.3 * c) + hiss);
      }
    }
  });
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
