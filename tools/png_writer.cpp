#include "tools/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace kerrowbend_host {

std::vector<uint8_t> encodePng(int width, int height, std::span<const uint8_t> rgb) {
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
    throw std::invalid_argument("encodePng: the pixels do not match the image size");
  }
  // The simplified interface keeps libpng's longjmp error handling inside
  // libpng and reports through the image record instead. A first call with
  // no buffer gives the size the bytes need.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  std::vector<uint8_t> bytes;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr) != 0) {
    bytes.resize(size);
    if (png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr) != 0) {
      bytes.resize(size);
      return bytes;
    }
  }
  const std::string reason = image.message;
  png_image_free(&image);
  throw std::runtime_error(reason);
}

void writePng(const std::string &path, int width, int height, std::span<const uint8_t> rgb) {
  const std::vector<uint8_t> bytes = encodePng(width, height, rgb);
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"),
                                                          &std::fclose);
  if (!file) throw std::runtime_error(std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    const int error = written ? errno : writeError;
    std::remove(path.c_str());
    throw std::runtime_error(std::strerror(error));
  }
}

}  // namespace kerrowbend_host
