// Songs from files, folders and lists.
#include "app/playlist.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
// The extensions of the audio files that FFmpeg's demuxers read.
constexpr const char* audioExtensions[] = {"mp3",  "mp2",  "flac", "ogg", "oga", "opus", "spx", "wav", "wave", "aif",
                                           "aiff", "aifc", "m4a",  "m4b", "mp4", "aac",  "wma", "ape", "wv",   "mka",
                                           "ac3",  "eac3", "dts",  "caf", "tta", "mpc",  "au",  "snd", "w64",  "webm"};
constexpr int deepestList = 8;  // lists that name lists, at most this deep

bool endsWith(const std::string& name, const char* extension) {
  const std::size_t length = std::strlen(extension);
  return name.size() > length + 1 && name[name.size() - length - 1] == '.' &&
         strcasecmp(name.c_str() + name.size() - length, extension) == 0;
}

void say(const std::string& line) {
  std::fprintf(stderr, "pulse165: %s\n", line.c_str());
}

// file:///music/a%20b.mp3 -> /music/a b.mp3
std::string fromFileUri(const std::string& uri) {
  std::string path;
  for (std::size_t i = 7; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return path;
}

struct Expander {
  bool recursive;
  std::vector<std::string> songs;

  void add(const std::string& path, int depth) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (fs::is_directory(status)) {
      addFolder(path, depth);
    } else if (isPlaylistFile(path) && fs::is_regular_file(status)) {
      addList(path, depth);
    } else {
      songs.push_back(path);  // a missing one is refused in its turn, with the reason
    }
  }

  void addFolder(const std::string& folder, int depth) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      entries.push_back(*it);
    if (error) {
      say(folder + ": " + error.message() + ": left out");
      return;
    }
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
      return strverscmp(a.path().filename().c_str(), b.path().filename().c_str()) < 0;
    });
    for (const fs::directory_entry& entry : entries) {
      const std::string path = entry.path().string();
      std::error_code ignored;
      if (entry.is_directory(ignored)) {
        if (recursive) addFolder(path, depth);
      } else if (hasAudioExtension(path) && entry.is_regular_file(ignored)) {
        songs.push_back(path);
      }
    }
  }

  void addList(const std::string& list, int depth) {
    std::ifstream in(list);
    if (!in || depth >= deepestList) {
      say(list + (in ? ": lists nested too deep" : ": " + std::string(std::strerror(errno))) + ": left out");
      return;
    }
    const fs::path folder = fs::path(list).parent_path();
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte-order mark
      const std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string::npos || line[start] == '#') continue;
      line.erase(0, start);
      if (line.rfind("file://", 0) == 0) {
        line = fromFileUri(line);
      } else if (line.find("://") != std::string::npos) {
        say(list + ": " + line + " is not a file: left out");
        continue;
      }
      const fs::path entry(line);
      add(entry.is_absolute() ? line : (folder / entry).string(), depth + 1);
    }
  }
};
}  // namespace

bool hasAudioExtension(const std::string& name) {
  return std::any_of(std::begin(audioExtensions), std::end(audioExtensions),
                     [&name](const char* extension) { return endsWith(name, extension); });
}

bool isPlaylistFile(const std::string& name) {
  return endsWith(name, "m3u") || endsWith(name, "m3u8");
}

std::vector<std::string> expandSongs(const std::vector<std::string>& paths, bool recursive) {
  Expander expander{recursive, {}};
  for (const std::string& path : paths) expander.add(path, 0);
  return std::move(expander.songs);
}

std::string songLabel(const std::string& path, const std::string& artist, const std::string& title) {
  if (!artist.empty() && !title.empty()) return artist + " \u2013 " + title;
  if (!title.empty()) return title;
  return fs::path(path).filename().string();
}
