// The capture's file as FFmpeg writes it: writes and seeks on a descriptor through
// callbacks of our own, and the reads that the MP4 muxer makes to move its index to
// the front, on the same file.
#include "app/descriptor_file.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int ioBufferBytes = 1 << 16;

struct FileReader {
  int descriptor;
  std::int64_t position;
};

int writeBytes(void* opaque, std::uint8_t* bytes, int count) {
  auto* file = static_cast<DescriptorFile*>(opaque);
  int left = count;
  while (left > 0) {
    const ssize_t done = pwrite(file->descriptor, bytes, static_cast<std::size_t>(left), file->writePosition);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (file->writeErrno == 0) file->writeErrno = done < 0 ? errno : EIO;
      return AVERROR(file->writeErrno);
    }
    bytes += done;
    left -= static_cast<int>(done);
    file->writePosition += done;
  }
  return count;
}

// The new position, or the file's size for AVSEEK_SIZE.
std::int64_t seekIn(int descriptor, std::int64_t& position, std::int64_t offset, int whence) {
  struct stat info {};
  if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return fstat(descriptor, &info) == 0 ? info.st_size : AVERROR(errno);
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += position;
      break;
    case SEEK_END:
      if (fstat(descriptor, &info) != 0) return AVERROR(errno);
      offset += info.st_size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  position = offset;
  return position;
}

std::int64_t seekWriter(void* opaque, std::int64_t offset, int whence) {
  auto* file = static_cast<DescriptorFile*>(opaque);
  return seekIn(file->descriptor, file->writePosition, offset, whence);
}

int readBytes(void* opaque, std::uint8_t* bytes, int count) {
  auto* reader = static_cast<FileReader*>(opaque);
  for (;;) {
    const ssize_t done = pread(reader->descriptor, bytes, static_cast<std::size_t>(count), reader->position);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return AVERROR(errno);
    if (done == 0) return AVERROR_EOF;
    reader->position += done;
    return static_cast<int>(done);
  }
}

std::int64_t seekReader(void* opaque, std::int64_t offset, int whence) {
  auto* reader = static_cast<FileReader*>(opaque);
  return seekIn(reader->descriptor, reader->position, offset, whence);
}

}  // namespace

int openDescriptorAgain(AVFormatContext* output, AVIOContext** io, const char*, int flags, AVDictionary**) {
  auto* file = static_cast<DescriptorFile*>(output->opaque);
  if (flags & AVIO_FLAG_WRITE) return AVERROR(EPERM);
  auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
  auto* reader = static_cast<FileReader*>(av_mallocz(sizeof(FileReader)));
  if (buffer != nullptr && reader != nullptr) {
    *reader = FileReader{file->descriptor, 0};
    *io = avio_alloc_context(buffer, ioBufferBytes, 0, reader, readBytes, nullptr, seekReader);
  }
  if (buffer == nullptr || reader == nullptr || *io == nullptr) {
    av_free(buffer);
    av_free(reader);
    return AVERROR(ENOMEM);
  }
  return 0;
}

int closeDescriptorAgain(AVFormatContext*, AVIOContext* io) {
  av_free(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
  return 0;
}

AVIOContext* openDescriptorWriter(DescriptorFile& file) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
  AVIOContext* io = buffer != nullptr
                        ? avio_alloc_context(buffer, ioBufferBytes, 1, &file, nullptr, writeBytes, seekWriter)
                        : nullptr;
  if (io == nullptr) av_free(buffer);
  return io;
}
