// The show's one sample rate: every sample frame it plays, analyses, decodes into and
// writes is at 44,100 Hz, and every play position counts such frames.
#pragma once

constexpr int sampleRate = 44100;
