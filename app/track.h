// The music the show plays: the embedded track, or an Ogg Vorbis file handed to it
// with --track, read whole and checked before use.
#pragma once

#include <string>
#include <vector>

struct TrackBytes {
  std::vector<unsigned char> owned;  // a file's bytes; empty for the embedded track
  const unsigned char* data = nullptr;
  int size = 0;
};

// The embedded track when `path` is empty; otherwise the file, read whole, whose
// headers must describe 44,100 Hz mono or stereo Vorbis. One line in `error` otherwise.
bool loadTrack(const std::string& path, TrackBytes& track, std::string& error);
