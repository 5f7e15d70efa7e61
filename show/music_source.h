// The music the show plays, whatever it comes from: the one thing the show asks for
// its sound (the samples under a play position, the guard after the end included) and
// its beats (the music's beat at a position, mapped onto the show's). Each kind of
// music makes such a record and hands it to playMusic, which alone writes what the
// show reads: the sound's view (audio/playback.h) and the show's clock.
//
// The kinds so far: the embedded soundtrack, a hand-picked file fitted to the show
// (app/track.h), and sound heard as it plays (app/listen.h), a ring of samples that
// ends at "now" with its beats foreseen from it. A kind to come fills the same record
// from where it lives, and show/ and effects/ stay as they are: a playlist by handing
// over the next track's record at a track's end; a tempo that changes through a
// richer BeatMap; the page's decoded song as a fitted file.
#pragma once

#include <cstdint>

#include "audio/beat_map.h"
#include "audio/playback.h"
#include "show/show_clock.h"

struct MusicSource {
  PlaybackView sound;
  ShowClock clock;
};

// The embedded soundtrack in the PlaybackBuffer, on its own 165 beats per minute.
MusicSource embeddedMusic();

// Sound heard as it plays (listening): a ring at the start of the PlaybackBuffer that
// the listener writes, its beats as the frame loop last heard them.
MusicSource listeningMusic();

// Music of `frames` frames in `samples` (2 x (frames + guardFrameCount) floats, the
// guard silent, outliving the show), its beats where `beats` puts them, fitted to the
// show by `schedule`.
MusicSource fittedMusic(const float* samples, std::uint32_t frames, const BeatMap& beats,
                        const TrackSchedule& schedule);

// What the show plays from here on: every reader of the sound and of the beat follows.
void playMusic(const MusicSource& music);
