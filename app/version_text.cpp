#include "app/version_text.h"

#include "core/catalogue.h"
#include "core/version.h"
#include "res/builtin_image.h"

namespace plcburn {

std::string VersionText() {
  const std::string_view name = BuiltinImageName();
  std::string text(kVersionLine);
  text += "\nBuilt-in image:\n  file      ";
  text += name;
  text += "\n  model     ";
  text += ModelAt(ModelFromImageName(name)).name;
  text += "\n  size      " + std::to_string(BuiltinImage().size()) + " bytes";
  text += "\n  SHA-256   ";
  text += BuiltinImageSha256();
  text += "\n\n";
  text += kCopyright;
  return text;
}

}  // namespace plcburn
