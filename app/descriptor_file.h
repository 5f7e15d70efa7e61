// The capture's file as FFmpeg writes it, through callbacks on a descriptor that the
// caller opened: no name is ever handed to FFmpeg, so no name is read as a protocol.
#pragma once

#include <cstdint>

struct AVDictionary;
struct AVFormatContext;
struct AVIOContext;

struct DescriptorFile {
  int descriptor = -1;             // open for reading and writing
  std::int64_t writePosition = 0;  // where the container's next bytes go (pwrite: the muxer may seek back)
  int writeErrno = 0;              // the first failed write's errno
};

// An AVIOContext that writes to `file` at its own position and seeks by itself; null
// when out of memory. Its buffer and itself are the caller's to free.
AVIOContext* openDescriptorWriter(DescriptorFile& file);

// For a muxer's io_open and io_close2, with the DescriptorFile as its opaque: whatever
// name the muxer asks for, it gets the same file, for reading only.
int openDescriptorAgain(AVFormatContext* output, AVIOContext** io, const char* url, int flags, AVDictionary** options);
int closeDescriptorAgain(AVFormatContext* output, AVIOContext* io);
