#pragma once
// A barcode scanner read through its input device (/dev/input/by-id/...-event-kbd) with
// libevdev, grabbed so that its keys reach nothing else (a console, a window): each scanned label
// arrives as one line, on a thread of its own.

#include <functional>
#include <memory>
#include <string>

namespace plcburn {

class EvdevScanner {
 public:
  using OnLine = std::function<void(const std::string& line)>;
  // Null, with `error` set, when the device cannot be opened, read or grabbed.
  static std::unique_ptr<EvdevScanner> Open(const std::string& path, OnLine onLine,
                                            std::string* error);
  virtual ~EvdevScanner() = default;
};

}  // namespace plcburn
