// The reverb of the soundtrack's synthesiser (see synth.h); the other blocks are inline.
#include "tools/compose/synth.h"

namespace compose {

namespace {

// Mutually prime lengths (about 35 to 86 ms), so that the echoes of the lines never line up.
constexpr int reverbLineFrames[Reverb::lineCount] = {1553, 1871, 2161, 2473, 2791, 3109, 3467, 3779};
constexpr int diffuserFrames[4] = {347, 113, 379, 131};

// One Schroeder allpass step on a delay line.
float allpass(DelayLine& line, float input, float gain) {
  const float delayed = line.read();
  const float fed = input + gain * delayed;
  line.write(fed);
  return delayed - gain * fed;
}

}  // namespace

void Reverb::prepare(double decaySeconds, double dampingHz) {
  for (int i = 0; i < lineCount; ++i) {
    lines[i].resize(reverbLineFrames[i]);
    // Each pass through line i loses 60 dB over decaySeconds.
    gains[i] = static_cast<float>(std::pow(10.0, -3.0 * reverbLineFrames[i] / (sampleRate * decaySeconds)));
    damping[i].tune(dampingHz);
  }
  for (int i = 0; i < 4; ++i) diffusers[i].resize(diffuserFrames[i]);
}

void Reverb::run(float inLeft, float inRight, float& outLeft, float& outRight) {
  const float left = allpass(diffusers[1], allpass(diffusers[0], inLeft, diffusion), diffusion);
  const float right = allpass(diffusers[3], allpass(diffusers[2], inRight, diffusion), diffusion);

  float raw[lineCount];
  float taps[lineCount];
  for (int i = 0; i < lineCount; ++i) {
    raw[i] = lines[i].read();
    taps[i] = damping[i].run(raw[i]);
  }

  // Fast Walsh-Hadamard transform, scaled to keep the energy: 1 / sqrt(8).
  for (int span = 1; span < lineCount; span *= 2) {
    for (int i = 0; i < lineCount; i += 2 * span) {
      for (int j = i; j < i + span; ++j) {
        const float a = taps[j];
        const float b = taps[j + span];
        taps[j] = a + b;
        taps[j + span] = a - b;
      }
    }
  }
  constexpr float hadamardScale = 0.35355339f;
  for (int i = 0; i < lineCount; ++i) {
    const float input = (i & 1) ? right : left;
    lines[i].write(input + gains[i] * hadamardScale * taps[i]);
  }

  // Two different signed sums of the lines: uncorrelated tails on the two sides.
  outLeft = 0.35f * (raw[0] - raw[2] + raw[4] - raw[6] + raw[1] - raw[5]);
  outRight = 0.35f * (raw[1] - raw[3] + raw[5] - raw[7] + raw[2] - raw[6]);
}

}  // namespace compose
