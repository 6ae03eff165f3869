#include "res/builtin_image.h"
#include "res/resource_image.h"

namespace plcburn {

namespace {

HRSRC FindImage() {
  return FindResourceA(nullptr, MAKEINTRESOURCEA(8), "BIN");
}

}  // namespace

ResourceImage::ResourceImage() {
  const HRSRC hRSRC = FindImage();
  if (hRSRC == nullptr) return;
  hGLOBAL = LoadResource(nullptr, hRSRC);
  fin = static_cast<const std::uint8_t*>(LockResource(hGLOBAL));
  fileLength = fin != nullptr ? SizeofResource(nullptr, hRSRC) : 0;
}

void ResourceImage::CloseFile() {
  if (hGLOBAL == nullptr) return;
  // A no-op on 32- and 64-bit Windows, where resources stay mapped with the module; kept so
  // that every load has its release.
  FreeResource(hGLOBAL);
  hGLOBAL = nullptr;
  fin = nullptr;
  fileLength = 0;
}

std::span<const std::uint8_t> BuiltinImage() {
  // Resources live as long as the module, so the span stays valid without a release.
  const HRSRC hRSRC = FindImage();
  if (hRSRC == nullptr) return {};
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, hRSRC)));
  if (data == nullptr) return {};
  return {data, SizeofResource(nullptr, hRSRC)};
}

std::string_view BuiltinImageName() {
  return PLCBURN_IMAGE_NAME;
}

std::string_view BuiltinImageSha256() {
  return PLCBURN_IMAGE_SHA256;
}

}  // namespace plcburn
