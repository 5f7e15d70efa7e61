#include "app/display.h"
int viewportWidth = 0;
int viewportHeight = 0;
int viewportY = 0;
float viewportAspect = 0.0f;
