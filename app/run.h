// The program's ways of running: the live show, and headless rendering.
#pragma once

#include "app/options.h"
#include "show/virtual_clock.h"

int runLiveShow(const Options& options);
int runScreenshot(Options options);
// --track-info: what the show would do with the track, for people or as JSON.
int runTrackInfo(const Options& options);
int printVersion();
