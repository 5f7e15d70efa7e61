// Reading and checking a hand-picked track.
#include "app/track.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/decoder.h"
#include "resources/embedded.h"

namespace {
constexpr long maxTrackBytes = 256L * 1024 * 1024;  // far beyond three minutes of Vorbis
}

bool loadTrack(const std::string& path, TrackBytes& track, std::string& error) {
  if (path.empty()) {
    track.owned.clear();
    track.data = embeddedTrack;
    track.size = embeddedTrackSize;
    return true;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    error = "cannot read track " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "cannot read track " + path + ": not a regular file";
    return false;
  }
  if (info.st_size > maxTrackBytes) {
    error = "track " + path + " is too large for a three-minute show (over 256 MiB)";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = "cannot read track " + path + ": " + std::strerror(errno);
    return false;
  }
  track.owned.resize(static_cast<std::size_t>(info.st_size));
  const std::size_t got = track.owned.empty() ? 0 : std::fread(track.owned.data(), 1, track.owned.size(), file);
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed || got != track.owned.size()) {
    error = "cannot read track " + path + ": read error";
    return false;
  }
  track.data = track.owned.data();
  track.size = static_cast<int>(track.owned.size());

  // Only the headers here; the show decodes the whole stream at start-up.
  TrackDecoder decoder(track.data, track.size);
  const bool opened = decoder.open();
  const int channels = decoder.channels();
  const long rate = decoder.rate();
  decoder.clear();
  if (!opened) {
    error = "track " + path + " is not an Ogg Vorbis stream that can be decoded";
    return false;
  }
  if (rate != 44100 || channels < 1 || channels > 2) {
    error = "track " + path + " has " + std::to_string(channels) + " channel(s) at " + std::to_string(rate) +
            " Hz; the show plays 44,100 Hz mono or stereo";
    return false;
  }
  return true;
}
