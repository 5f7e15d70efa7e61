// The program's ways of running: the live show, and headless rendering.
#pragma once

#include "app/options.h"

int runLiveShow(const Options& options);
int runScreenshot(const Options& options);
int printVersion();

// Headless rendering on the virtual clock: frame n of a run at `fps` frames per
// second shows play position floor(n x 44,100 / fps).
std::uint32_t virtualPosition(std::uint64_t frame, int fps);
// The first frame whose virtual position is at or after `position`.
std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps);
