#include "tools/preview/png_writer.h"

#include <png.h>

#include <memory>
#include <stdexcept>

namespace kerrowbend_host {

std::string encodePng(int width, int height, std::span<const uint8_t> rgb) {
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
    throw std::invalid_argument("encodePng: the pixels do not match the image size");
  }
  // The simplified interface keeps libpng's longjmp error handling inside
  // libpng and reports through the image record instead.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  // Room for the largest PNG these pixels can make, so they are
  // compressed once; left uninitialised, the pages past what is written
  // are never touched.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  const auto memory = std::make_unique_for_overwrite<uint8_t[]>(size);
  if (png_image_write_to_memory(&image, memory.get(), &size, 0, rgb.data(), 0, nullptr) == 0) {
    const std::string reason = image.message;
    png_image_free(&image);
    throw std::runtime_error(reason);
  }
  return {reinterpret_cast<const char *>(memory.get()), size};
}

}  // namespace kerrowbend_host
