#pragma once
// What a barcode scanner types: it is a keyboard, so each label arrives as key presses (with the
// shift key for capitals and some signs) and ends with Enter. Key codes are the Linux input
// layer's, on the US layout that scanners emulate by default.

#include <optional>
#include <string>

namespace plcburn {

// Builds lines from key presses and releases.
class ScannerKeys {
 public:
  // One key event (`down`: pressed, else released); a whole line once Enter is pressed.
  std::optional<std::string> Key(int code, bool down);

 private:
  bool shift_ = false;
  std::string line_;
};

// The character a key gives, or 0 for a key that types none.
char ScannerKeyChar(int code, bool shift);

}  // namespace plcburn
