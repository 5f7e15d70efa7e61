// The browser's GL subset: the part of OpenGL 1.1 and GLU that the show, the effects,
// the glyph lists and the display set-up call, under their own names, on WebGL 2.
// Matrix stacks, immediate mode and client arrays are worked on the CPU into clip
// coordinates and drawn in batches (web/gl/draw_batch.h); GL_LINE polygons become their
// edges drawn as lines; display lists record glBegin, glVertex, glEnd and glTranslatef
// (what the glyph lists hold) and replay them; other calls made while a list is being
// compiled act at once.
//
// Covered: glMatrixMode glLoadIdentity glPushMatrix glPopMatrix glTranslatef glScalef
// glRotatef glOrtho, glBegin glEnd glVertex2f glVertex3f glColor3f glColor4f glColor4fv
// glRectf, glEnableClientState glDisableClientState glVertexPointer glColorPointer
// glDrawArrays (GL_FLOAT arrays), glEnable glDisable (GL_BLEND, GL_TEXTURE_2D)
// glBlendFunc glPolygonMode, glNewList glEndList glCallLists (GL_UNSIGNED_BYTE)
// glListBase, glClear glViewport glFinish, glPushAttrib glPopAttrib (of this state);
// for the overlay's text, alpha textures modulating the colour's alpha (GL_MODULATE)
// on filled primitives: glGenTextures glDeleteTextures glBindTexture glTexParameteri
// glPixelStorei glTexImage2D glTexEnvi glTexCoord2f; gluPerspective gluLookAt
// gluNewQuadric gluDeleteQuadric.
#pragma once

#include <string>

// Prepares the subset on the current WebGL 2 context (its shader and buffer); one line
// in `error` on failure. The display lists and the GL state survive a second call.
bool openGlSubset(std::string& error);
// Draws what is gathered, so that it is in the framebuffer before it is presented.
void flushGlSubset();
