// The PlaybackBuffer, its filling and the beat clock.
#include "audio/playback.h"

#include <cmath>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

alignas(4096) float playbackBuffer[(playbackFrameCount + guardFrameCount) * 2];
PlaybackView playing{playbackBuffer, playbackFrameCount};
std::uint32_t playbackPosition = 0;

std::uint32_t fillPlaybackBuffer(const std::int16_t* samples, std::int64_t byteSize) {
  // Whole frames only (four bytes each), and never past the end of the show: a
  // longer track is cut there.
  if (byteSize <= 0) return 0;
  const std::int64_t wholeFrames = byteSize / 4;
  const std::uint32_t frames =
      wholeFrames < playbackFrameCount ? static_cast<std::uint32_t>(wholeFrames) : playbackFrameCount;
  for (std::uint32_t i = 0; i < frames; ++i) {
    playbackBuffer[2 * i] = samples[2 * i] * sampleScale;
    playbackBuffer[2 * i + 1] = samples[2 * i + 1] * sampleScale;
  }
  return frames;
}

std::uint32_t fillPlaybackBufferMono(const std::int16_t* samples, std::int64_t byteSize) {
  if (byteSize <= 0) return 0;
  const std::int64_t wholeSamples = byteSize / 2;
  const std::uint32_t frames =
      wholeSamples < playbackFrameCount ? static_cast<std::uint32_t>(wholeSamples) : playbackFrameCount;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const float value = samples[i] * sampleScale;
    playbackBuffer[2 * i] = value;
    playbackBuffer[2 * i + 1] = value;
  }
  return frames;
}

void clearPlaybackBuffer() {
#if defined(__linux__)
  // Whole pages go back to the system and read as zero again: quick, and a buffer
  // that a hand-picked track leaves alone stays out of memory.
  auto* bytes = reinterpret_cast<char*>(playbackBuffer);
  const long page = sysconf(_SC_PAGESIZE);
  const std::size_t pages = page > 0 ? sizeof playbackBuffer / static_cast<std::size_t>(page) : 0;
  const std::size_t returned = pages * static_cast<std::size_t>(page);
  if (pages > 0 && madvise(bytes, returned, MADV_DONTNEED) == 0) {
    std::memset(bytes + returned, 0, sizeof playbackBuffer - returned);
    return;
  }
#endif
  std::memset(playbackBuffer, 0, sizeof playbackBuffer);
}

BeatClock beatClockAt(std::uint32_t position) {
  BeatClock clock;
  const double product = static_cast<double>(position) * static_cast<double>(beatsPerSample);
  clock.beatPosition = static_cast<float>(product);
  clock.beat = static_cast<int>(std::floor(product));
  clock.beatPhase = 1.0f - (clock.beatPosition - static_cast<float>(clock.beat));
  clock.beatTime = static_cast<float>(clock.beat + 1) - clock.beatPhase;
  return clock;
}

std::uint32_t firstPositionOfBeat(double beat) {
  // An estimate from the quotient, then corrected by the same double product that
  // the beat clock uses, so that beatClockAt agrees at the boundary.
  const double perSample = static_cast<double>(beatsPerSample);
  if (!(beat > 0)) return 0;
  double estimate = std::ceil(beat / perSample);
  if (estimate > playbackFrameCount) estimate = playbackFrameCount;
  std::uint32_t p = static_cast<std::uint32_t>(estimate);
  while (p < playbackFrameCount && static_cast<double>(p) * perSample < beat) ++p;
  while (p > 0 && static_cast<double>(p - 1) * perSample >= beat) --p;
  return p;
}
