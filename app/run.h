// The program's ways of running: the live show, and headless rendering.
#pragma once

#include <string>

#include "app/options.h"
#include "show/virtual_clock.h"

struct LiveWindow;
// The live show's window as the options ask for it (full screen or --window, on
// --display); 0, or the exit code with its line in `error`.
int openLiveWindow(const Options& options, LiveWindow& window, std::string& error);
int runLiveShow(const Options& options);
// A live show that cannot start, started from the desktop's menu: its line (already on
// stderr) in a message box too, since nobody reads stderr there.
void tellDesktop(const Options& options, const std::string& line);
int runScreenshot(Options options);
// --track-info: what the show would do with the track, for people or as JSON.
int runTrackInfo(const Options& options);
int printVersion();
