#pragma once
// An image held in memory (built in, or read from a file), released once.

#include <cstdint>
#include <span>
#include <vector>

#include "core/image_source.h"

namespace plcburn {

class MemoryImage : public ImageSource {
 public:
  explicit MemoryImage(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  explicit MemoryImage(std::vector<std::uint8_t> owned)
      : owned_(std::move(owned)), bytes_(owned_) {}
  // A copy would keep a span into the other image's vector.
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  const std::uint8_t* Data() const override { return bytes_.data(); }
  std::uint32_t Length() const override { return static_cast<std::uint32_t>(bytes_.size()); }
  void Release() override { ++releases_; }
  int Releases() const { return releases_; }

 private:
  std::vector<std::uint8_t> owned_;
  std::span<const std::uint8_t> bytes_;
  int releases_ = 0;
};

}  // namespace plcburn
