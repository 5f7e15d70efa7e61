// Checks of a picture size made before any work starts: the largest picture the
// renderer can draw, and the memory a size needs against what the machine has free.
#pragma once

#include <cstdint>
#include <string>

struct HeadlessContext;

// Opens `context` at one pixel, to learn the renderer's largest picture before any
// buffer of the real size is made. False with an exit code and one line: 2 (a usage
// error) when W x H is beyond it, 1 when there is no headless OpenGL at all.
// `action` as in "cannot <action> at WxH: ...".
bool probeRenderer(HeadlessContext& context, int width, int height, const std::string& action, int& code,
                   std::string& error);

// The bytes a headless run at W x H holds at its peak: the show's own, the renderer's
// colour and depth buffers, `framesHeld` RGBA frames read back, and the encoder's
// `encoderBytesPerPixel`.
std::uint64_t memoryNeeded(int width, int height, int framesHeld, double encoderBytesPerPixel);

// MemAvailable in bytes from the text of /proc/meminfo; false where it is missing.
bool availableMemory(const std::string& meminfo, std::uint64_t& bytes);

// Whether `needed` bytes fit in what the machine has available; true where that
// cannot be known. One line in `error` otherwise: "cannot <action>: it needs ...".
bool checkMemory(std::uint64_t needed, const std::string& action, std::string& error);
