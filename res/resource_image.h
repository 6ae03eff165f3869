#pragma once
// The built-in image as the burn uses it on Windows: the program's resource "BIN"/8, found,
// loaded and locked when a burn starts and released by CloseFile when it ends.

// clang-format off
#include <windows.h>
// clang-format on

#include <cstdint>

#include "core/image_source.h"

namespace plcburn {

class ResourceImage : public ImageSource {
 public:
  ResourceImage();
  ~ResourceImage() override { CloseFile(); }
  ResourceImage(const ResourceImage&) = delete;
  ResourceImage& operator=(const ResourceImage&) = delete;

  const std::uint8_t* Data() const override { return fin; }
  std::uint32_t Length() const override { return fileLength; }
  void Release() override { CloseFile(); }

  // Releases the resource; later calls do nothing.
  void CloseFile();

 private:
  HGLOBAL hGLOBAL = nullptr;
  const std::uint8_t* fin = nullptr;
  std::uint32_t fileLength = 0;
};

}  // namespace plcburn
