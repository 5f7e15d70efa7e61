// PNG output of rendered frames with libpng: 8-bit RGB, written to a temporary file
// beside the target and renamed over it, so a failed write never leaves half a file.
#include "platform/image.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string failure(const std::string& path, const std::string& why) {
  return "pulse165: cannot write " + path + ": " + why;
}

// libpng reports errors by long-jumping out of the write; the message is kept here.
struct PngErrorState {
  char message[256] = "";
};

void pngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Encodes the rows into `file`. Kept free of C++ objects with destructors, since a
// libpng error leaves it by longjmp.
bool encode(std::FILE* file, png_bytep* rows, int width, int height, PngErrorState* state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, pngError, pngWarning);
  if (png == nullptr) {
    std::snprintf(state->message, sizeof state->message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(state->message, sizeof state->message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
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

bool writePng(const std::string& path, const std::uint8_t* rgba, int width, int height, std::string& error) {
  if (width <= 0 || height <= 0) {
    error = failure(path, "empty image");
    return false;
  }
  std::string temporary = path + ".tmp-XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    error = failure(path, std::strerror(errno));
    return false;
  }
  fchmod(descriptor, 0644);  // mkstemp makes the file private; a picture is for everyone to read

  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    error = failure(path, std::strerror(errno));
    close(descriptor);
    unlink(temporary.c_str());
    return false;
  }

  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(rgba + static_cast<std::size_t>(y) * width * 4);

  PngErrorState state;
  bool written = encode(file, rows.data(), width, height, &state);
  if (!written) error = failure(path, state.message);
  if (std::fflush(file) != 0 && written) {
    error = failure(path, std::strerror(errno));
    written = false;
  }
  if (std::fclose(file) != 0 && written) {
    error = failure(path, std::strerror(errno));
    written = false;
  }
  if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = failure(path, std::strerror(errno));
    written = false;
  }
  if (!written) unlink(temporary.c_str());
  return written;
}
