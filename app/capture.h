// Video capture: the show rendered headless on the virtual clock, as fast as the
// machine allows, and encoded with FFmpeg's libraries into .mp4, .mkv or .webm.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "show/virtual_clock.h"  // CaptureSpan

// --capture: checks the name, the size, the encoders and their settings, the folder,
// the renderer's limits and the memory before the show is decoded, then renders and
// encodes into a temporary file of its own beside the target (app/output_file.h) and
// renames it at the end. Returns the exit code: 0; 2 for an unknown extension, an odd
// size or one beyond the renderer, the encoder or the memory, a --crf beyond the
// codec's scale, a folder that cannot be written or a track that cannot be used; 1
// when the machine cannot do it (no encoder, no GL, a write that fails). A stop signal
// ends the program from its handler with 128 + the signal's number.
int runCapture(Options options);
