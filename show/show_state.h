// The show's process-wide state, in one place. The show keeps these as a new process
// has them, start-up fills some, and playing changes the rest: the PlaybackBuffer and
// the music that plays (its sound's view and the show's clock, written by playMusic),
// the viewport values, the frame's play position, the spectrum and the random
// generator, the disk swarm's swirl. The effects' own state (their layouts, their
// smoothed levels) lives in the frame's effects and starts anew with each ShowFrame.
#pragma once

#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/disk_swarm.h"
#include "platform/viewport.h"
#include "show/music_source.h"
#include "show/show_clock.h"

// All of it as a new process has it, before start-up: the PlaybackBuffer silent, the
// embedded track playing, no viewport, and the show rewound. A run calls it before it
// starts the show; so does every test that starts one.
void resetShowState();

// What playing changes, back to how the show starts: position 0, a zero spectrum, the
// generator at its first value, no swirl. Start-up's work (the decoded track, the
// viewport, the music) stays: for drawing the show again from its start in one process.
void rewindShow();
