#pragma once
// Why an image was refused before it reached a PLC, as the burn record and the station's figures
// name it.

#include <array>
#include <string_view>

namespace plcburn {

enum class ImageRefusal {
  Kind,          // plainly another kind of file: HEX, S-record, ELF, PE, zip, gzip, text
  Size,          // too large or too small for the model
  Model,         // for another model than the one it would be burned into
  Unsigned,      // no signature, and a trusted key is installed
  UntrustedKey,  // signed by a key that is not trusted
  Signature,     // a signature that is no minisign file or does not match the image
};

inline constexpr std::array kImageRefusals{ImageRefusal::Kind,         ImageRefusal::Size,
                                           ImageRefusal::Model,        ImageRefusal::Unsigned,
                                           ImageRefusal::UntrustedKey, ImageRefusal::Signature};

// "kind", "size", "model", "unsigned", "untrusted-key", "signature".
constexpr std::string_view ImageRefusalName(ImageRefusal reason) {
  switch (reason) {
    case ImageRefusal::Kind: return "kind";
    case ImageRefusal::Size: return "size";
    case ImageRefusal::Model: return "model";
    case ImageRefusal::Unsigned: return "unsigned";
    case ImageRefusal::UntrustedKey: return "untrusted-key";
    case ImageRefusal::Signature: return "signature";
  }
  return "unknown";
}

}  // namespace plcburn
