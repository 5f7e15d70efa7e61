// PNG output of rendered frames (libpng).
#pragma once

#include <cstdint>
#include <string>

// Writes an RGBA image (top row first) to `path` as an 8-bit RGB PNG, through a
// temporary file beside it that is renamed at the end. One line in `error` on failure.
bool writePng(const std::string& path, const std::uint8_t* rgba, int width, int height, std::string& error);
