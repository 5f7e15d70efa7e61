// The scene schedule: each scene's captions, camera and effects, in calling order.
#include "show/schedule.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <initializer_list>

#include "platform/viewport.h"
#include "show/captions.h"
#include "show/frame.h"
#include "show/scenes.h"

namespace {
constexpr double fieldOfView = 130.0;
constexpr double nearPlane = 1.0;
constexpr double farPlane = 1000.0;
constexpr float eighthTurn = 0.3926875f;  // 3.1415 / 8
constexpr float halfTurn = 1.57075f;      // 3.1415 / 2
constexpr float quarterTurn = 0.785375f;  // 3.1415 / 4
constexpr float ringRadius = 300.0f;
constexpr float ringStep = 0.628f;  // ten steps leave a hair's gap before the circle closes
constexpr int ringCopies = 10;

// Every camera lives in the projection matrix; the caller has selected it.
void lookFrom(float eyeX, float eyeY, float eyeZ, float centreX, float centreY, float centreZ, float upX, float upY,
              float upZ) {
  gluPerspective(fieldOfView, viewportAspect, nearPlane, farPlane);
  gluLookAt(eyeX, eyeY, eyeZ, centreX, centreY, centreZ, upX, upY, upZ);
}

void beginCamera() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
}

void beginModel() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void camera7(float t) {
  const float a = quarterTurn * t;
  lookFrom(30.0f * std::sin(a), 400.0f + 50.0f * std::cos(a), 30.0f * std::cos(a), 0, 0, 0, 0, 1, 0);
}

}  // namespace

// Scene 1: the disk rings under the opening lines.
void updateOpening(ShowFrame& f, const BeatClock&) {
  f.diskSwarm.update(1.0f);
}
void sceneOpening(ShowFrame& f, const BeatClock& c) {
  drawOpeningCaption(c);
  f.diskSwarm.draw();
}

// Scene 2: the triangle shell, turning 30 degrees a beat and easing out.
void updateTriangleShell(ShowFrame& f, const BeatClock&) {
  f.orbitRing.update();
}
void sceneTriangleShell(ShowFrame& f, const BeatClock& c) {
  beginCamera();
  lookFrom(0, 30.0f + 5.0f * std::cos(eighthTurn * c.beatTime), 20, -100, -200, 100, 0, 0, -1);
  beginModel();
  glScalef(200, 200, 200);
  glRotatef(30.0f * (static_cast<float>(c.beat + 1) - c.beatPhase * c.beatPhase), 0, 1, 0);
  f.orbitRing.draw();
}

// Scene 3: the ribbon star, kicked 36 degrees on every beat.
void updateRibbonStar(ShowFrame& f, const BeatClock&) {
  f.blueStar.update(0.6f);
}
void sceneRibbonStar(ShowFrame& f, const BeatClock& c) {
  beginCamera();
  const float a = halfTurn * c.beatTime;
  lookFrom(20.0f * std::sin(a), 20.0f * std::cos(a), 400.0f + 150.0f * std::cos(3.1415f * c.beatTime), 0, 0, 0, 0, 1,
           0);
  beginModel();
  glRotatef(36.0f * c.beatPhase * c.beatPhase, 0, 0, 1);
  f.blueStar.draw();
}

// Scene 4: the claim over the disk rings, two amber stars and the pillar lattice.
void updateClaim(ShowFrame& f, const BeatClock&) {
  f.amberStar.update(0.3f);
  f.diskSwarm.update(1.0f);
  f.pillarGrid.update(0.5f);
}
void sceneClaim(ShowFrame& f, const BeatClock& c) {
  drawClaimCaption(c);
  f.diskSwarm.draw();
  for (float turn : {-90.0f, 90.0f}) {
    glPushMatrix();
    glRotatef(turn, 1, 0, 0);
    glScalef(1.5f, 1.5f, 1.5f);
    glTranslatef(0, 0, -200);
    f.amberStar.draw();
    glPopMatrix();
  }
  f.pillarGrid.draw();
}

// Scene 5: the greetings, with three views of one camera placed across the screen.
void updateGreetings(ShowFrame& f, const BeatClock&) {
  f.blueStar.update(0.5f);
  f.amberStar.update(0.5f);
}
void sceneGreetings(ShowFrame& f, const BeatClock& c) {
  drawGreetingsRoll(c.beatTime);
  beginModel();

  const float t = c.beatTime;
  const float eyeX = 50.0f * std::sin(0.5f * t);
  const float eyeY = 300.0f + 50.0f * std::cos(0.5f * t);
  const float eyeZ = 400.0f + 50.0f * std::cos(0.25f * t);

  beginCamera();
  glTranslatef(-0.7f, 0.7f, 0);
  lookFrom(eyeX, eyeY, eyeZ, 0, 0, 0, 0, 1, 0);
  f.blueStar.draw();

  glLoadIdentity();
  glTranslatef(-0.5f, 0.4f, 0);
  glScalef(0.9f, 0.9f, 1);
  lookFrom(eyeX, eyeY, eyeZ, 0, 0, 0, 0, 1, 0);
  f.blueStar.draw();

  glLoadIdentity();
  glTranslatef(-0.6f, 0, 0);
  lookFrom(eyeX, eyeY, eyeZ, 0, 0, 0, 0, 1, 0);
  f.amberStar.draw();
  // The stars' own turns acted on the projection; hand the next layer the
  // modelview, as every other scene does.
  glMatrixMode(GL_MODELVIEW);
}

// Scene 6: the scrolling column inside the disk rings.
void updateColumn(ShowFrame& f, const BeatClock&) {
  f.diskSwarm.update(1.0f);
  f.ringStack.update(1.0f);
}
void sceneColumn(ShowFrame& f, const BeatClock& c) {
  f.diskSwarm.draw();
  f.ringStack.draw(c.beatTime - static_cast<float>(firstBeatOfScene(6)));
}

namespace {
// Scenes 7 to 9: ten blue stars standing on a circle.
void starRing(ShowFrame& f, float t) {
  beginCamera();
  camera7(t);
  beginModel();
  glRotatef(-90, 1, 0, 0);
  for (int i = 0; i < ringCopies; ++i) {
    const float angle = ringStep * static_cast<float>(i);
    glPushMatrix();
    glTranslatef(ringRadius * std::sin(angle), ringRadius * std::cos(angle), 0);
    f.blueStar.draw();
    glPopMatrix();
  }
}
}  // namespace

float starRingLevel(int scene, float beatTime) {
  constexpr float finaleStart = static_cast<float>(middleEnd);
  constexpr float lastBeat = static_cast<float>(showBeats - 1);
  if (scene == 7) return 0.075f * (beatTime - finaleStart);  // fading in over four beats
  if (scene == 8) return 0.3f;
  return (lastBeat - beatTime) * 0.05f;  // out by the last beat
}

// Scene 7: a cross-fade over four beats from the disks and the column to the star ring.
void updateCrossFade(ShowFrame& f, const BeatClock& c) {
  const float fade = 1.0f - 0.25f * (c.beatTime - static_cast<float>(middleEnd));
  f.diskSwarm.update(fade);
  f.ringStack.update(fade);
  f.blueStar.update(starRingLevel(7, c.beatTime));
}
void sceneCrossFade(ShowFrame& f, const BeatClock& c) {
  const float u = c.beatTime - static_cast<float>(middleEnd);
  f.diskSwarm.draw();
  f.ringStack.draw(u);
  starRing(f, c.beatTime);
}

// Scene 8: the star ring.
void updateStarRing(ShowFrame& f, const BeatClock& c) {
  f.blueStar.update(starRingLevel(8, c.beatTime));
}
void sceneStarRing(ShowFrame& f, const BeatClock& c) {
  starRing(f, c.beatTime);
}

// Scene 9: the star ring fading out.
void updateFade(ShowFrame& f, const BeatClock& c) {
  f.blueStar.update(starRingLevel(9, c.beatTime));
}
void sceneFade(ShowFrame& f, const BeatClock& c) {
  starRing(f, c.beatTime);
}

void updateScene(ShowFrame& f, const BeatClock& c) {
  const Scene& scene = scenes[sceneForBeat(c.beat) - 1];
  if (scene.markerFrom >= 0) f.baseBeat = scene.markerFrom;
  scene.update(f, c);
}

void dispatchScene(ShowFrame& f, const BeatClock& c) {
  updateScene(f, c);
  const Scene& scene = scenes[sceneForBeat(c.beat) - 1];
  if (scene.title != nullptr) drawTitleCaption(scene.title, c.beatPhase);
  scene.draw(f, c);
}
