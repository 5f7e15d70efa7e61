// Start-up: the one-time initialisation of the show (decoding, the
// PlaybackBuffer, glyph lists, the letterboxed 2:1 viewport, the first clears).
#pragma once

#include <cstdint>
#include <string>

#include "platform/viewport.h"

struct LiveWindow;
struct MusicSource;

// What decoding found, for the messages of a hand-picked track.
struct TrackLoad {
  bool opened = false;  // the headers were read
  int channels = 0;
  long rate = 0;
  std::uint32_t frames = 0;  // frames written into the PlaybackBuffer
};

// The one-time initialisation, in order: decode the track, convert it into the
// PlaybackBuffer, release the codec state (none of this for a null `track`: a
// hand-picked track is decoded before and plays from its own block), build the glyph
// lists, set the letterboxed viewport for a client area of W x H, clear and present
// twice (live window only), free the decoded samples. Needs a current GL context.
TrackLoad initialiseShow(const unsigned char* track, int trackSize, int clientWidth, int clientHeight,
                         LiveWindow* window);

// A show from its very start, as a new process begins it: the show's state reset
// (show/show_state.h), `music` playing, then the one-time initialisation above, which
// decodes the embedded track where `track` is given. Every run calls it once, with its
// context current.
void startShow(const MusicSource& music, const unsigned char* track, int trackSize, int clientWidth, int clientHeight,
               LiveWindow* window);
