// The live show listening to what the computer plays (--listen): the capture sources
// listed, one opened, and the listener that follows its sound on a thread of its own.
#pragma once

struct Options;

// --listen=list: the sound server's sources, one a line, the default marked.
int listCaptureSourcesToStdout();

// The live show drawn to what it hears, until Escape, q or a close request.
int runListening(const Options& options);
