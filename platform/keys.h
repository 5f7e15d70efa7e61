// The live show's keys: one table from key to action, with the words that --help and
// the manual page show for each line of it.
#pragma once

#include <span>

enum class KeyAction {
  none,
  end,             // Escape, q
  pause,           // Space
  barBack,         // Left: one bar (4 beats)
  barForward,      // Right
  phraseBack,      // Shift+Left: 16 beats
  phraseForward,   // Shift+Right
  previousScene,   // Page Up
  nextScene,       // Page Down
  showStart,       // Home
  fullScreen,      // f, F11, Alt+Enter
  mute,            // m
  pictureEarlier,  // [: the picture 10 ms earlier against the sound
  pictureLater,    // ]
  overlay,         // i
  nextSong,        // n, >
  previousSong,    // p, <: the song before, or within its first 3 s the start of this one
  // Asked for by the desktop's media controls alone:
  play,  // resume where paused
  hold,  // pause where playing
  stop,  // pause at the start
};

// The action of a key-down, by SDL's keycode and modifier state (the browser build
// gives the page's keys the same codes); none for other keys.
// A held key's repeats step only the seeks and the picture's offset.
KeyAction keyAction(int keycode, unsigned modifiers, bool repeat);
// The action of a character typed (SDL's text input, in UTF-8), for the keys known by
// what they type rather than where they sit: < and >, whatever the layout.
KeyAction textAction(const char* typed);

// One line of the keys' help: the keys, and what they do.
struct KeyHelp {
  const char* keys;
  const char* what;
};
std::span<const KeyHelp> keyHelp();
