// What DiskSwarm and PillarGrid share: sixteen smoothed bands over spectrum entries
// 50 to 289, and the swirling camera that circles the origin with the playback time.
#pragma once

constexpr int swirlBandCount = 16;

// bands[k] = 0.3 x bandLevel(50 + 15 k, 15) + 0.7 x bands[k].
void smoothSwirlBands(float* bands);

// Loads both matrices: the perspective, the roll and the eye circling the origin go
// into the projection; the modelview is left current and holding the identity.
void placeSwirlCamera();
