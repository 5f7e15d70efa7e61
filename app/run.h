// The program's ways of running: the live show, and headless rendering.
#pragma once

#include "app/options.h"
#include "app/virtual_clock.h"

int runLiveShow(const Options& options);
int runScreenshot(const Options& options);
int printVersion();
