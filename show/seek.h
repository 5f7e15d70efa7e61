// Where the player's seeks land: steps of the music's beats from the play position,
// and the starts of the stretches of one scene, on the show's clock (show/show_clock.h).
// Every result lies between the show's start and the first frame of the music's last
// beat.
#pragma once

#include <cstdint>

// The first beat of the scene that `beat` belongs to, on the show's own schedule.
int sceneFirstBeat(int beat);

// The first frame of the music's last beat: forward steps stop there.
std::uint32_t lastSeekPosition();

// `beats` beats of the music later (earlier where negative) than `position`, as many
// frames into that beat as `position` is into its own; clamped to 0 and to
// lastSeekPosition(), and never backwards for a forward step.
std::uint32_t stepBeats(std::uint32_t position, int beats);

// The first frame of the stretch before the one playing (0 from the first two).
std::uint32_t previousSceneStart(std::uint32_t position);

// The first frame of the stretch after the one playing (lastSeekPosition() in the last).
std::uint32_t nextSceneStart(std::uint32_t position);
