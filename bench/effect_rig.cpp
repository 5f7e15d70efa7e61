// The developer tools' stand-in for the scene schedule.
#include "bench/effect_rig.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>

#include "app/start_up.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/swirl_camera.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/scope.h"

namespace {

constexpr double fieldOfView = 130.0;
constexpr double nearPlane = 1.0;
constexpr double farPlane = 1000.0;
constexpr float phaseWrapBeats = 64.0f;

void fixedCamera(double eyeX, double eyeY, double eyeZ, double centreX, double centreY, double centreZ, double upX,
                 double upY, double upZ) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(fieldOfView, viewportAspect, nearPlane, farPlane);
  gluLookAt(eyeX, eyeY, eyeZ, centreX, centreY, centreZ, upX, upY, upZ);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

}  // namespace

const char* effectLabel(EffectName effect) {
  switch (effect) {
    case EffectName::star:
      return "star";
    case EffectName::orbit:
      return "orbit";
    case EffectName::stack:
      return "stack";
    case EffectName::disks:
      return "disks";
    case EffectName::pillars:
      return "pillars";
    case EffectName::scope:
      return "scope";
  }
  return "?";
}

bool parseEffect(const char* text, EffectName& effect) {
  for (EffectName candidate : allEffects) {
    if (std::strcmp(text, effectLabel(candidate)) == 0) {
      effect = candidate;
      return true;
    }
  }
  return false;
}

void beginFrame(std::uint32_t position) {
  beginShowFrame(position);
}

void showEffect(EffectRig& rig, EffectName effect, std::uint32_t position) {
  const BeatClock clock = beatClockAt(position);
  switch (effect) {
    case EffectName::star:
      // Looking down the tube from a little before its bright near end.
      rig.blueStar.update(0.6f);
      fixedCamera(0, 30, -120, 0, 0, 240, 0, 1, 0);
      rig.blueStar.draw();
      break;
    case EffectName::orbit:
      rig.orbitRing.update();
      fixedCamera(0, 35, 20, -100, -200, 100, 0, 0, -1);
      glScalef(200, 200, 200);
      rig.orbitRing.draw();
      break;
    case EffectName::stack:
      // Under the swirling camera, as the show draws it, without the disks.
      placeSwirlCamera();
      rig.ringStack.update(1.0f);
      rig.ringStack.draw(clock.beatTime - phaseWrapBeats * static_cast<float>(clock.beat / 64));
      break;
    case EffectName::disks:
      rig.diskSwarm.update(1.0f);
      rig.diskSwarm.draw();
      break;
    case EffectName::pillars:
      rig.pillarGrid.update(0.5f);
      rig.pillarGrid.draw();
      break;
    case EffectName::scope:
      drawSignalScope();
      break;
  }
}

void synthesiseBeatNoise() {
  constexpr float noiseAmplitude = 0.5f;
  constexpr float decayPerBeat = 4.0f;  // e^-4 by the next beat
  std::uint32_t state = 12345u;
  auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
  };
  for (std::uint32_t frame = 0; frame < playbackFrameCount; ++frame) {
    const BeatClock clock = beatClockAt(frame);
    const float envelope = noiseAmplitude * std::exp(-decayPerBeat * (1.0f - clock.beatPhase));
    playbackBuffer[2 * frame] = envelope * noise();
    playbackBuffer[2 * frame + 1] = envelope * noise();
  }
}

bool loadShow(int width, int height) {
  const TrackLoad load = initialiseShow(embeddedTrack, embeddedTrackSize, width, height, nullptr);
  return load.opened && load.frames > 0;
}
