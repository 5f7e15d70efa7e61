// The spectrum of the 512 frames under the play head, the band means that the
// effects read, and the show's own random numbers.
#pragma once

#include <cstdint>

constexpr int spectrumSize = 512;

extern float spectrum[spectrumSize];  // magnitudes / 512, rewritten each frame

// Transforms the 512 stereo frames starting at `frame` (a pointer to the left
// sample of the first one) as the complex signal left + i x right.
void analyseSpectrum(const float* frame);

// Mean of spectrum[first .. first + count - 1], summed in double precision.
double bandLevel(int first, int count);

// A 15-bit linear congruential generator of our own (0 .. 32,767), started from the
// same state on every run, so that the effects lay out the same figures every time.
int randomInteger();
double randomUnit();  // randomInteger() x 1/32,767
void resetRandom();   // back to the initial state (the show never calls it)
