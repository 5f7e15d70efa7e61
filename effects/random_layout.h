// Scales that turn the generator's integers (0 .. 32,767) into the effects'
// random layouts, in single precision as the figures were first laid out.
#pragma once

constexpr float randomToTurn = 0.00019175345f;       // 2 pi / 32,767: an angle in radians
constexpr float randomToUnit = 0.000030518509f;      // 1 / 32,767
constexpr float randomToHalfUnit = 0.000015259255f;  // 0.5 / 32,767
