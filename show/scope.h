// The signal scope: the column at the right edge that shows, every frame, the
// waveform under the play head and the current spectrum. Drawn by the frame loop
// after the beat marker, with blending off.
#pragma once

// Leaves the projection at identity, the matrix mode at GL_MODELVIEW holding the
// scope's transform, and blending untouched.
void drawSignalScope();
