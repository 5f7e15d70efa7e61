// What the show hears, as two fingerprints: FNV-1a over every byte of the PlaybackBuffer,
// and over the spectra at eight fixed play positions. The desktop build and the browser
// build compute them with the same code, so equal fingerprints mean that the browser's
// decoding and analysis give every effect bit for bit the input the desktop gives.
#pragma once

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/playback.h"
#include "audio/spectrum.h"

inline std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash = 14695981039346656037ull) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

// "buffer=<16 hex digits> spectrum=<16 hex digits>". Overwrites the spectrum; the next
// frame analyses its own position afresh.
inline std::string playbackDigest() {
  const std::uint64_t buffer = fnv1a(playbackBuffer, sizeof playbackBuffer);
  std::uint64_t spectra = fnv1a(nullptr, 0);
  for (int i = 0; i < 8; ++i) {
    const std::uint32_t position = static_cast<std::uint32_t>(i) * (playbackFrameCount / 8) + 12345u;
    analyseSpectrum(&playbackBuffer[2 * static_cast<std::size_t>(position)]);
    spectra = fnv1a(spectrum, sizeof spectrum, spectra);
  }
  char text[64];
  std::snprintf(text, sizeof text, "buffer=%016" PRIx64 " spectrum=%016" PRIx64, buffer, spectra);
  return text;
}
