#pragma once
// The one check every image passes before it may be burned, however it was chosen: it is no
// other kind of file, it is signed by a trusted key where the policy asks for that, it is for
// the model it would be burned into, and its size fits that model. The bytes checked are the
// ones given, which the caller then burns.
//
// The model an image is for: the model= word of its signature when it has one, whatever its
// file name says; else the model asked for, or the one its file name names. A name that names
// another model than the signature's, or the one asked for, refuses it with both names.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/image_refusal.h"
#include "trust/trust_policy.h"

namespace plcburn {

struct ImageToAdmit {
  std::string path;  // as the operator named it; its signature is PATH.minisig
  std::span<const std::uint8_t> bytes;
  std::optional<std::size_t> forModel;  // the model it would be burned into; none: any
  bool builtIn = false;                 // part of the program: trusted by its build, unsigned
};

struct Admission {
  bool accepted = false;
  std::optional<ImageRefusal> reason;  // when refused
  std::string error;                   // one line, when refused
  // The model it is admitted for, or was checked for when refused; none when any would do.
  std::optional<std::size_t> modelRow;
  // Of a signed image, refused or not; empty when no policy asked for a signature. The trusted
  // comment is set only once the signature is found valid.
  std::string keyId;
  std::string trustedComment;
  bool signedByTrustedKey = false;       // a valid signature by a trusted key
  std::optional<std::string> modelWord;  // the signature's model= word, as written
};

Admission AdmitImage(const ImageToAdmit& image, const TrustPolicy& policy);

}  // namespace plcburn
