// Video capture: the show rendered headless on the virtual clock, as fast as the
// machine allows, and encoded with FFmpeg's libraries into .mp4, .mkv or .webm.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"

// The frames and the sound of a capture of [from, to) at `fps` frames per second.
// Frame n shows play position floor(n x 44,100 / fps); the capture holds every frame
// whose position lies in the span, and the sound runs from the first frame's position
// to the position of the frame after the last, or to `to` where that comes first: the
// last frame is then shown only until `to`, and both last equally long.
struct CaptureSpan {
  std::uint64_t firstFrame = 0;  // frame index on the virtual clock
  std::uint64_t frameCount = 0;
  std::uint32_t soundStart = 0;        // play position of the first frame: the sound's first sample
  std::uint32_t soundFrames = 0;       // sample frames of the sound
  std::uint32_t lastFrameSamples = 0;  // how long the last frame is shown, in sample frames
};

CaptureSpan captureSpan(std::uint32_t from, std::uint32_t to, int fps);

// The K-th of N pieces of that capture, cut on frame boundaries (as evenly as whole
// frames allow): each piece's sound starts on the sample where the previous one's
// ends, so that the pieces joined end to end are the whole capture.
CaptureSpan captureSegment(std::uint32_t from, std::uint32_t to, int fps, int k, int n);

// --capture: checks the name, the size, the encoders and their settings, the folder,
// the renderer's limits and the memory before the show is decoded, then renders and
// encodes into a temporary file of its own beside the target (app/output_file.h) and
// renames it at the end. Returns the exit code: 0; 2 for an unknown extension, an odd
// size or one beyond the renderer, the encoder or the memory, a --crf beyond the
// codec's scale, a folder that cannot be written or a track that cannot be used; 1
// when the machine cannot do it (no encoder, no GL, a write that fails). A stop signal
// ends the program from its handler with 128 + the signal's number.
int runCapture(Options options);
