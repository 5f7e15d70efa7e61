// PNG output of rendered frames with libpng: 8-bit RGB, written through a write
// function of our own so that a failed write reports the system's reason.
#include "platform/image.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// libpng reports errors by long-jumping out of the write; what went wrong is kept here.
struct PngTarget {
  int descriptor = -1;
  int writeErrno = 0;  // the failed write's errno, 0 while the writes succeed
  char message[256] = "";
};

void pngError(png_structp png, png_const_charp message) {
  auto* target = static_cast<PngTarget*>(png_get_error_ptr(png));
  std::snprintf(target->message, sizeof target->message, "%s", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* target = static_cast<PngTarget*>(png_get_io_ptr(png));
  while (length > 0) {
    const ssize_t done = write(target->descriptor, data, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      target->writeErrno = done < 0 ? errno : EIO;
      png_error(png, "write failed");
    }
    data += done;
    length -= static_cast<png_size_t>(done);
  }
}

void pngFlush(png_structp) {}

// Encodes the rows. Kept free of C++ objects with destructors, since a libpng error
// leaves it by longjmp.
bool encode(png_bytep* rows, int width, int height, PngTarget* target) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, target, pngError, pngWarning);
  if (png == nullptr) {
    std::snprintf(target->message, sizeof target->message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(target->message, sizeof target->message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, target, pngWrite, pngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER);  // the fourth byte of each pixel is dropped
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool writePng(int descriptor, const std::uint8_t* rgba, int width, int height, std::string& why) {
  if (width <= 0 || height <= 0) {
    why = "empty image";
    return false;
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(rgba + static_cast<std::size_t>(y) * width * 4);
  PngTarget target;
  target.descriptor = descriptor;
  if (encode(rows.data(), width, height, &target)) return true;
  why = target.writeErrno != 0 ? std::strerror(target.writeErrno) : target.message;
  return false;
}
