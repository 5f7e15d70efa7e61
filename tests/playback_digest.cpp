// playback_digest: decodes the embedded soundtrack into the PlaybackBuffer as the show
// does at start-up and prints its fingerprints (tools/web/playback_digest.h), for the
// browser test to compare with the page's own.
#include "tests/playback_digest.h"

#include <cstdio>

#include "audio/decoder.h"
#include "audio/playback.h"
#include "resources/embedded.h"

int main() {
  TrackDecoder decoder(embeddedTrack, embeddedTrackSize);
  if (!decoder.open() || !decoder.decodeAll() || decoder.channels() != 2) {
    std::fprintf(stderr, "playback_digest: the embedded track does not decode\n");
    return 1;
  }
  fillPlaybackBuffer(decoder.pcmData, decoder.pcmBytes());
  decoder.clear();
  std::printf("%s\n", playbackDigest().c_str());
  return 0;
}
