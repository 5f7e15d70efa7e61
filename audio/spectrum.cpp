// The spectrum of the 512 frames under the play head: an in-place radix-2
// transform of the complex signal left + i x right, its magnitudes, the band
// means that the effects follow, and the show's own random numbers.
#include "audio/spectrum.h"

#include <cmath>
#include <cstdint>

float spectrum[spectrumSize];

namespace {

constexpr int transformStages = 9;              // 2^9 = spectrumSize
constexpr float fullTurn = 6.2831855f;          // 2 pi in single precision
constexpr float transformScale = 0.001953125f;  // 1 / 512
constexpr float randomScale = 3.0518509e-05f;   // the float nearest to 1 / 32,767

// The transform is worked in place in these two, in natural order on entry and,
// after the reordering, in natural order again; nothing outside reads them.
float fftReal[spectrumSize];
float fftImag[spectrumSize];

// The generator: state x 214,013 + 2,531,011 modulo 2^32, fifteen bits out.
constexpr std::uint32_t randomMultiplier = 214013u;
constexpr std::uint32_t randomIncrement = 2531011u;
constexpr std::uint32_t randomInitialState = 1u;
std::uint32_t randomState = randomInitialState;

int reverseNineBits(int i) {
  int r = 0;
  for (int bit = 0; bit < transformStages; ++bit) {
    r = (r << 1) | ((i >> bit) & 1);
  }
  return r;
}

}  // namespace

void analyseSpectrum(const float* frame) {
  for (int n = 0; n < spectrumSize; ++n) {
    fftReal[n] = frame[2 * n];
    fftImag[n] = frame[2 * n + 1];
  }

  // Decimation in frequency: the spans halve from 512 down to 2, and each
  // twiddle factor is formed afresh from its own angle, never accumulated.
  for (int m = spectrumSize; m >= 2; m /= 2) {
    const int half = m / 2;
    const float step = fullTurn / static_cast<float>(m);
    for (int j = 0; j < half; ++j) {
      const float theta = static_cast<float>(j) * step;
      const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
      const float s = static_cast<float>(-std::sin(static_cast<double>(theta)));
      for (int i = j; i < spectrumSize; i += m) {
        const int k = i + half;
        const double tr = static_cast<double>(fftReal[i]) - static_cast<double>(fftReal[k]);
        const double ti = static_cast<double>(fftImag[i]) - static_cast<double>(fftImag[k]);
        fftReal[i] = static_cast<float>(static_cast<double>(fftReal[i]) + static_cast<double>(fftReal[k]));
        fftImag[i] = static_cast<float>(static_cast<double>(fftImag[i]) + static_cast<double>(fftImag[k]));
        fftReal[k] = static_cast<float>(tr * c - ti * s);
        fftImag[k] = static_cast<float>(ti * c + tr * s);
      }
    }
  }

  for (int i = 0; i < spectrumSize; ++i) {
    const int r = reverseNineBits(i);
    if (i < r) {
      const float re = fftReal[i];
      fftReal[i] = fftReal[r];
      fftReal[r] = re;
      const float im = fftImag[i];
      fftImag[i] = fftImag[r];
      fftImag[r] = im;
    }
  }

  for (int m = 0; m < spectrumSize; ++m) {
    fftReal[m] = fftReal[m] * transformScale;
    fftImag[m] = fftImag[m] * transformScale;
    const double re = fftReal[m];
    const double im = fftImag[m];
    const float power = static_cast<float>(re * re + im * im);
    spectrum[m] = static_cast<float>(std::sqrt(static_cast<double>(power)));
  }
}

double bandLevel(int first, int count) {
  double sum = 0.0;
  for (int i = first; i < first + count; ++i) {
    sum += spectrum[i];
  }
  return sum / count;
}

int randomInteger() {
  randomState = randomState * randomMultiplier + randomIncrement;
  return static_cast<int>((randomState >> 16) & 0x7FFFu);
}

double randomUnit() {
  return static_cast<double>(randomInteger()) * static_cast<double>(randomScale);
}

void resetRandom() {
  randomState = randomInitialState;
}
