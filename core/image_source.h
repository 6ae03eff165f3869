#pragma once
// The firmware image of one burn: read in place, released exactly once at the burn's end.

#include <cstdint>

namespace plcburn {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  virtual const std::uint8_t* Data() const = 0;
  virtual std::uint32_t Length() const = 0;
  virtual void Release() = 0;
};

}  // namespace plcburn
