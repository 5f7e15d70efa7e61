// The show's words, set in the extruded glyph lists: the opening lines, the scene
// titles running up the left edge, the claim with its pulsing mark, the greetings.
#pragma once

#include "audio/playback.h"

constexpr int greetingCount = 8;
extern const char* const greetingTexts[greetingCount];

// Draws a text through the glyph lists, left to right from the local origin.
void drawText(const char* text);

void drawOpeningCaption(const BeatClock& clock);
void drawTitleCaption(const char* title, float beatPhase);
void drawClaimCaption(const BeatClock& clock);
void drawGreetingsRoll(float beatTime);

// The opening caption's line for a beat ("celebrate the scene", then the sign-off).
const char* openingLine(int beat);
// Brightness of greeting i at s beats into the roll; 0 when the entry is not drawn.
float greetingBrightness(int i, float s);
