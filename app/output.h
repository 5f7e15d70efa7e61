// Checks on an output file, made before any long work starts: the screenshot's
// PNG and the capture's video.
#pragma once

#include <string>

// The folder that holds `path` ("." for a bare name).
std::string directoryOf(const std::string& path);

// Whether `target` can be written: not a directory, its folder exists, and a file
// can be made there (`probe` is made and removed at once). `action` names the
// operation in the message: "cannot <action> <target>: ...".
bool checkOutputPath(const std::string& target, const std::string& probe, const char* action, std::string& error);
