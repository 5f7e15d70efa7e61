// The scene schedule: the scene that the beat chooses from the table, drawn.
#pragma once

#include "audio/playback.h"
#include "show/scenes.h"

struct ShowFrame;

// Updates and draws the beat's scene (captions, camera, effects) and records its first
// beat in frame.baseBeat. Leaves blending off, polygon mode fill, matrix mode modelview.
void dispatchScene(ShowFrame& frame, const BeatClock& clock);

// The same without drawing: what the scene carries into the next frame, and the beat
// marker's base.
void updateScene(ShowFrame& frame, const BeatClock& clock);

// The level of the ring of ten stars in scene 7, 8 or 9 at beat time t.
float starRingLevel(int scene, float beatTime);
