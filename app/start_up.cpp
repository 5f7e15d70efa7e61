// Start-up: the display set-up and the one-time initialisation of the show.
#include "app/start_up.h"

#include <GL/gl.h>
#include <malloc.h>

#include <cstdio>
#include <string>

#include "audio/decoder.h"
#include "audio/playback.h"
#include "platform/glyphs.h"
#include "platform/live.h"
#include "show/music_source.h"
#include "show/show_state.h"

namespace {
void keepFrameMemory() {
  // From here on the renderer's large buffers stay in the heap: handed back to the
  // system and faulted in afresh every frame, they doubled frame times on software
  // rendering. Set only once the decoder's large, growing buffer has come and gone,
  // which the default thresholds keep out of the heap and hand straight back.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}
}  // namespace

TrackLoad initialiseShow(const unsigned char* track, int trackSize, int clientWidth, int clientHeight,
                         LiveWindow* window) {
  TrackLoad load;
  if (track != nullptr) {
    TrackDecoder decoder(track, trackSize);
    load.opened = decoder.open();
    if (load.opened) {
      load.channels = decoder.channels();
      load.rate = decoder.rate();
      decoder.decodeAll();
      if (load.channels == 2) load.frames = fillPlaybackBuffer(decoder.pcmData, decoder.pcmBytes());
      if (load.channels == 1) load.frames = fillPlaybackBufferMono(decoder.pcmData, decoder.pcmBytes());
    }
    decoder.clear();
  }  // the decoded samples go back to the system here
  keepFrameMemory();

  std::string error;
  if (!buildGlyphLists(error)) std::fprintf(stderr, "%s\n", error.c_str());  // the show goes on without captions
  glListBase(fontListBase);

  setShowViewport(clientWidth, clientHeight);

  // The only clears of the show: the picture and both of the window's buffers black,
  // bands included.
  for (int i = 0; i < 2; ++i) {
    glClear(GL_COLOR_BUFFER_BIT);
    if (window) {
      window->present();
      window->swap();
    }
  }
  return load;
}

void startShow(const MusicSource& music, const unsigned char* track, int trackSize, int clientWidth, int clientHeight,
               LiveWindow* window) {
  resetShowState();
  playMusic(music);
  initialiseShow(track, trackSize, clientWidth, clientHeight, window);
}
