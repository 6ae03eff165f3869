#include "res/builtin_image.h"

extern "C" const std::uint8_t plcburn_image_begin[];
extern "C" const std::uint8_t plcburn_image_end[];

namespace plcburn {

std::span<const std::uint8_t> BuiltinImage() {
  return {plcburn_image_begin, static_cast<std::size_t>(plcburn_image_end - plcburn_image_begin)};
}

std::string_view BuiltinImageName() {
  return PLCBURN_IMAGE_NAME;
}

std::string_view BuiltinImageSha256() {
  return PLCBURN_IMAGE_SHA256;
}

}  // namespace plcburn
