// A stand-in for the scene schedule in the developer tools: the show's effects,
// built in the show's order, each drawable alone under a fixed camera on top of
// the frame loop's trail fade. Used by effect_shot and effects_bench.
#pragma once

#include <cstdint>

#include "show/frame.h"

enum class EffectName { star, orbit, stack, disks, pillars, scope };

constexpr EffectName allEffects[] = {EffectName::star,  EffectName::orbit,   EffectName::stack,
                                     EffectName::disks, EffectName::pillars, EffectName::scope};

const char* effectLabel(EffectName effect);
bool parseEffect(const char* text, EffectName& effect);

// The effects as the frame loop holds them: the show's own frame, constructed in its
// order, which fixes the random layouts.
using EffectRig = ShowFrame;

// The frame loop's first steps for a play position: store it, analyse the spectrum,
// reset both matrices, fade the previous image and switch to additive blending.
void beginFrame(std::uint32_t position);

// The fixed camera of the effect, then its update and draw.
void showEffect(EffectRig& rig, EffectName effect, std::uint32_t position);

// Loads the embedded track into the PlaybackBuffer and sets the 2:1 viewport for a
// width x height frame; needs the headless context current.
bool loadShow(int width, int height);

// Replaces the PlaybackBuffer with a synthetic test signal: white noise struck on
// every beat and decaying through it, loud in every band, so that the figures that
// follow the high bands can be seen whatever the track holds there.
void synthesiseBeatNoise();
