#pragma once
// Reads the image front to back in pieces. A read never goes past the image's end: it copies
// all that was asked for, or nothing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace plcburn {

class ImageCursor {
 public:
  ImageCursor() = default;
  explicit ImageCursor(std::span<const std::uint8_t> image) : image_(image) {}

  bool Read(std::span<std::uint8_t> into) {
    if (into.size() > image_.size() - position_) return false;
    const auto piece = image_.subspan(position_, into.size());
    std::copy(piece.begin(), piece.end(), into.begin());
    position_ += into.size();
    return true;
  }
  std::size_t Position() const { return position_; }

 private:
  std::span<const std::uint8_t> image_;
  std::size_t position_ = 0;
};

}  // namespace plcburn
