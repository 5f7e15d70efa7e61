// The show's nine scenes over its 493 beats, in one table: where each begins, the
// title it shows, where the beat marker counts from and what it draws. The dispatch,
// the three parts that a hand-picked track's schedule fits (the opening, the middle,
// the finale), the embedded clock's length and the captions' timing all read it.
#pragma once

#include <iterator>

struct BeatClock;
struct ShowFrame;

// What each scene carries into the next frame (its effects' updates: levels smoothed,
// the swirl turned), and what it draws from that, its title aside (show/schedule.cpp).
// A frame updates, then draws; a replay only updates.
using SceneStep = void (*)(ShowFrame& f, const BeatClock& c);
void updateOpening(ShowFrame& f, const BeatClock& c);
void sceneOpening(ShowFrame& f, const BeatClock& c);
void updateTriangleShell(ShowFrame& f, const BeatClock& c);
void sceneTriangleShell(ShowFrame& f, const BeatClock& c);
void updateRibbonStar(ShowFrame& f, const BeatClock& c);
void sceneRibbonStar(ShowFrame& f, const BeatClock& c);
void updateClaim(ShowFrame& f, const BeatClock& c);
void sceneClaim(ShowFrame& f, const BeatClock& c);
void updateGreetings(ShowFrame& f, const BeatClock& c);
void sceneGreetings(ShowFrame& f, const BeatClock& c);
void updateColumn(ShowFrame& f, const BeatClock& c);
void sceneColumn(ShowFrame& f, const BeatClock& c);
void updateCrossFade(ShowFrame& f, const BeatClock& c);
void sceneCrossFade(ShowFrame& f, const BeatClock& c);
void updateStarRing(ShowFrame& f, const BeatClock& c);
void sceneStarRing(ShowFrame& f, const BeatClock& c);
void updateFade(ShowFrame& f, const BeatClock& c);
void sceneFade(ShowFrame& f, const BeatClock& c);

struct Scene {
  int firstBeat;
  const char* title;  // runs up the left edge before the scene draws; null for none
  int markerFrom;     // the beat the beat marker counts from; -1 keeps the one the loop started with
  SceneStep update;
  SceneStep draw;
};

inline constexpr Scene scenes[] = {
    {0, nullptr, -1, updateOpening, sceneOpening},                    // 1: the disk rings under the opening lines
    {64, "quorlbanze", 64, updateTriangleShell, sceneTriangleShell},  // 2: the triangle shell
    {128, "mirtlespire", 128, updateRibbonStar, sceneRibbonStar},     // 3: the ribbon star
    {192, nullptr, 192, updateClaim, sceneClaim},         // 4: the claim, its stars and the pillar lattice
    {288, "greetings", 288, updateGreetings, sceneGreetings},  // 5: the greetings roll, three views of a star
    {352, "quorlbanze", 352, updateColumn, sceneColumn},       // 6: the scrolling column in the disk rings
    {416, nullptr, 416, updateCrossFade, sceneCrossFade},      // 7: the column gives way to the star ring
    {420, "mirtlespire", 416, updateStarRing, sceneStarRing},  // 8: the star ring
    {486, nullptr, 416, updateFade, sceneFade},                // 9: the star ring fades out
};
constexpr int sceneCount = static_cast<int>(std::size(scenes));
constexpr int showBeats = 493;  // beats 0 to 492 begin within the show; the fade ends on 492

// The scene (1 to 9) that a beat shows; before beat 0 the opening, after 492 the fade.
constexpr int sceneForBeat(int beat) {
  int scene = 1;
  while (scene < sceneCount && beat >= scenes[scene].firstBeat) ++scene;
  return scene;
}
constexpr int firstBeatOfScene(int scene) {
  return scenes[scene - 1].firstBeat;
}

// The show's three parts: the opening (scene 1), the middle (scenes 2 to 6) and the
// finale (scenes 7 to 9).
constexpr int openingEnd = firstBeatOfScene(2);
constexpr int middleEnd = firstBeatOfScene(7);
static_assert(sceneForBeat(0) == 1 && sceneForBeat(showBeats - 1) == sceneCount);
