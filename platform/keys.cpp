// The keys table.
#include "platform/keys.h"

// SDL's key codes and modifier bits; the browser build takes them from emscripten's
// SDL headers, which give the same numbers, and turns the page's keys into them.
#include <SDL_keycode.h>

#include <array>

namespace {

// Which modifiers a key needs: none (Caps Lock and Num Lock aside), Shift, Alt, or
// whatever is held (Escape ends the show with any of them).
enum class Held { nothing, shift, alt, anything };

struct KeyChord {
  SDL_Keycode key;
  Held held;
  KeyAction action;
};

struct KeyLine {
  KeyHelp help;
  std::array<KeyChord, 4> chords;  // unused places have key 0
};

constexpr KeyLine keyTable[] = {
    {{"Escape, q", "end the show"},
     {{{SDLK_ESCAPE, Held::anything, KeyAction::end}, {SDLK_q, Held::nothing, KeyAction::end}}}},
    {{"Space", "pause or resume; paused, the picture holds still"}, {{{SDLK_SPACE, Held::nothing, KeyAction::pause}}}},
    {{"Left, Right", "back or forward one bar (4 beats)"},
     {{{SDLK_LEFT, Held::nothing, KeyAction::barBack}, {SDLK_RIGHT, Held::nothing, KeyAction::barForward}}}},
    {{"Shift+Left, Shift+Right", "back or forward 16 beats"},
     {{{SDLK_LEFT, Held::shift, KeyAction::phraseBack}, {SDLK_RIGHT, Held::shift, KeyAction::phraseForward}}}},
    {{"Page Up, Page Down", "start of the previous or the next scene"},
     {{{SDLK_PAGEUP, Held::nothing, KeyAction::previousScene}, {SDLK_PAGEDOWN, Held::nothing, KeyAction::nextScene}}}},
    {{"Home", "start of the show"}, {{{SDLK_HOME, Held::nothing, KeyAction::showStart}}}},
    {{"f, F11, Alt+Enter", "full screen or window"},
     {{{SDLK_f, Held::nothing, KeyAction::fullScreen},
       {SDLK_F11, Held::nothing, KeyAction::fullScreen},
       {SDLK_RETURN, Held::alt, KeyAction::fullScreen},
       {SDLK_KP_ENTER, Held::alt, KeyAction::fullScreen}}}},
    {{"m", "mute or unmute (the show's clock runs on)"}, {{{SDLK_m, Held::nothing, KeyAction::mute}}}},
    {{"[, ]", "the picture 10 ms earlier or later against the sound (with sound)"},
     {{{SDLK_LEFTBRACKET, Held::nothing, KeyAction::pictureEarlier},
       {SDLK_RIGHTBRACKET, Held::nothing, KeyAction::pictureLater}}}},
    {{"n, >", "next song (songs given as a list)"}, {{{SDLK_n, Held::nothing, KeyAction::nextSong}}}},
    {{"p, <", "previous song; after a song's first 3 s, its start"},
     {{{SDLK_p, Held::nothing, KeyAction::previousSong}}}},
    {{"i", "information: time, beat, scene, frame rate, renderer"}, {{{SDLK_i, Held::nothing, KeyAction::overlay}}}},
};

constexpr std::array<KeyHelp, std::size(keyTable)> helpLines = [] {
  std::array<KeyHelp, std::size(keyTable)> lines{};
  for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = keyTable[i].help;
  return lines;
}();

bool matches(Held held, unsigned modifiers) {
  const bool shift = (modifiers & KMOD_SHIFT) != 0;
  const bool alt = (modifiers & KMOD_ALT) != 0;
  const bool other = (modifiers & (KMOD_CTRL | KMOD_GUI)) != 0;
  switch (held) {
    case Held::nothing:
      return !shift && !alt && !other;
    case Held::shift:
      return shift && !alt && !other;
    case Held::alt:
      return alt && !shift && !other;
    case Held::anything:
      return true;
  }
  return false;
}

bool repeats(KeyAction action) {
  switch (action) {
    case KeyAction::barBack:
    case KeyAction::barForward:
    case KeyAction::phraseBack:
    case KeyAction::phraseForward:
    case KeyAction::previousScene:
    case KeyAction::nextScene:
    case KeyAction::pictureEarlier:
    case KeyAction::pictureLater:
      return true;
    default:
      return false;
  }
}

}  // namespace

KeyAction keyAction(int keycode, unsigned modifiers, bool repeat) {
  for (const KeyLine& line : keyTable) {
    for (const KeyChord& chord : line.chords) {
      if (chord.key == 0 || chord.key != keycode || !matches(chord.held, modifiers)) continue;
      if (repeat && !repeats(chord.action) && chord.action != KeyAction::end) return KeyAction::none;
      return chord.action;
    }
  }
  return KeyAction::none;
}

KeyAction textAction(const char* typed) {
  if (typed[0] == '\0' || typed[1] != '\0') return KeyAction::none;
  if (typed[0] == '>') return KeyAction::nextSong;
  if (typed[0] == '<') return KeyAction::previousSong;
  return KeyAction::none;
}

std::span<const KeyHelp> keyHelp() {
  return helpLines;
}
