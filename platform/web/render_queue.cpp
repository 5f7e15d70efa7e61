// The renderer's queue in the browser: the GL subset gathers a frame's drawing in
// buffers of its own and WebGL runs it as a whole, so there is no queue to keep short.
#include "platform/render_queue.h"

#include <GL/gl.h>

void renderCheckpoint() {}
void renderFinish() {
  glFinish();
}
void resetRenderQueue() {}
