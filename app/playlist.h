// Songs given on the command line or dropped on the window: files as they are,
// folders' audio files in name order, and the entries of .m3u and .m3u8 lists.
#pragma once

#include <string>
#include <vector>

// Whether a file name ends in an audio extension that FFmpeg's demuxers take (.mp3,
// .flac, .ogg, .opus, .wav, .m4a and so on), in any case.
bool hasAudioExtension(const std::string& name);

// Whether a file name ends in .m3u or .m3u8.
bool isPlaylistFile(const std::string& name);

// The songs that `paths` name, in order: a file as it is (whatever its name: the decoder
// judges it); a folder's files with audio extensions in name order ("2" before "10"),
// its subfolders' too with `recursive`; a list's entries (relative ones from the list's
// own folder; comments, blank lines and URLs left out). What cannot be read (a folder,
// a list) is said on stderr, one line each, and left out; a path that does not exist
// stays in, to be refused with the decoder's reason when its turn comes.
std::vector<std::string> expandSongs(const std::vector<std::string>& paths, bool recursive);

// "Artist – Title" from a song's tags, or what of them it has; else the file's name.
std::string songLabel(const std::string& path, const std::string& artist, const std::string& title);
