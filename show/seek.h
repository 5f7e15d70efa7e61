// Where the player's seeks land: steps of beats from the play position, and the
// starts of scenes, on the beat clock and the scene schedule. Every result lies
// between the show's start and the first frame of its last beat.
#pragma once

#include <cstdint>

// The first beat of the scene that `beat` belongs to.
int sceneFirstBeat(int beat);

// The first frame of the show's last beat: forward steps stop there.
std::uint32_t lastSeekPosition();

// `beats` beats later (earlier where negative) than `position`, as many frames into
// that beat as `position` is into its own; clamped to 0 and to lastSeekPosition(),
// and never backwards for a forward step.
std::uint32_t stepBeats(std::uint32_t position, int beats);

// The first frame of the scene before the one playing (0 in the first scene).
std::uint32_t previousSceneStart(std::uint32_t position);

// The first frame of the scene after the one playing (lastSeekPosition() in the last).
std::uint32_t nextSceneStart(std::uint32_t position);
