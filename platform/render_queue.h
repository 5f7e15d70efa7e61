// A short queue between the drawing thread and the renderer. A software renderer
// (Mesa's llvmpipe) first sorts everything a frame draws into screen tiles, in
// memory, and its rasteriser threads then fill the tiles. Left alone, the drawing
// thread sorts far ahead of the rasterisers and the sorted work piles up: several
// hundred megabytes for one full-HD frame of the star ring. The heavy figures call
// renderCheckpoint() between their parts; every couple of milliseconds of drawing it
// hands the work so far to the rasterisers (so they start early) and waits while
// older work is still unfinished. The pixels are the same either way.
#pragma once

// A place where the drawing may pause for the renderer; cheap when it does not.
void renderCheckpoint();

// Waits until everything drawn so far is done, as glFinish does, with a fence of the
// queue's own (kept a while once passed, as the checkpoints' are).
void renderFinish();

// Forgets the work in flight: after a new context is made current, and before the
// current one goes.
void resetRenderQueue();
