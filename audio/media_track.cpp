// The decoded track's block of samples, owned and moved, never copied; apart from the
// decoder, so that music decoded elsewhere (the page's) is held the same way.
#include <cstdlib>
#include <utility>

#include "audio/media_decoder.h"

MediaTrack::~MediaTrack() {
  std::free(samples);
}

MediaTrack::MediaTrack(MediaTrack&& other) noexcept {
  *this = std::move(other);
}

MediaTrack& MediaTrack::operator=(MediaTrack&& other) noexcept {
  if (this != &other) {
    std::free(samples);
    samples = std::exchange(other.samples, nullptr);
    frames = std::exchange(other.frames, 0);
    cut = other.cut;
    sourceRate = other.sourceRate;
    sourceChannels = other.sourceChannels;
    formatName = std::move(other.formatName);
    codecName = std::move(other.codecName);
    title = std::move(other.title);
    artist = std::move(other.artist);
    album = std::move(other.album);
    resamplerSetups = other.resamplerSetups;
  }
  return *this;
}

void MediaTrack::release() {
  *this = MediaTrack();
}
