// The scene schedule: nine scenes over 493 beats, chosen by the beat alone.
#pragma once

#include "audio/playback.h"

struct ShowFrame;

// The scene (1..9) that a beat shows.
int sceneForBeat(int beat);

// Draws the beat's scene (captions, camera, effects) and records its first beat in
// frame.baseBeat. Leaves blending off, polygon mode fill, matrix mode modelview.
void dispatchScene(ShowFrame& frame, const BeatClock& clock);

// The level of the ring of ten stars in scene 7, 8 or 9 at beat time t.
float starRingLevel(int scene, float beatTime);
