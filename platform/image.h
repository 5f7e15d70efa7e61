// PNG output of rendered frames (libpng).
#pragma once

#include <cstdint>
#include <string>

// Writes an RGBA image (top row first) as an 8-bit RGB PNG to the open file
// `descriptor`, from its current offset. False with the reason in `why`: the
// system's text for a failed write ("No space left on device"), libpng's otherwise.
bool writePng(int descriptor, const std::uint8_t* rgba, int width, int height, std::string& why);
