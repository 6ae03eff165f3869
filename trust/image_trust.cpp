#include "trust/image_trust.h"

#include <filesystem>

#include "trust/file_kind.h"
#include "trust/minisign_signature.h"
#include "trust/signature_check.h"
#include "trust/small_file.h"

namespace plcburn {

ImageTrust CheckImageTrust(const std::string& imagePath, std::span<const std::uint8_t> image,
                           const TrustPolicy& policy) {
  auto refused = [](std::string error) { return ImageTrust{false, std::move(error), "", ""}; };
  if (const auto kind = NotARawImage(image))
    return refused(imagePath + " looks like " + std::string(*kind) + ", not a raw firmware image");
  if (!policy.Enforced()) return {true, "", "", ""};

  const std::string signaturePath = imagePath + ".minisig";
  std::error_code ec;
  if (!std::filesystem::exists(signaturePath, ec)) {
    return refused(imagePath + " is not signed: no " + signaturePath +
                   ", and only images signed by a trusted key are burned");
  }
  const SmallFile file = ReadSmallFile(signaturePath, kMinisignFileLimit, "signature");
  if (!file.text) return refused(file.error);
  const ParsedSignature parsed = ParseSignature(*file.text);
  if (!parsed.signature)
    return refused(signaturePath + " is not a minisign signature: " + parsed.error);
  const MinisignSignature& s = *parsed.signature;
  const std::string keyId = KeyIdText(s.keyId);
  switch (CheckSignature(image, s, policy.keys)) {
    case SignatureVerdict::Valid: return {true, "", keyId, s.trustedComment};
    case SignatureVerdict::UntrustedKey:
      return refused(imagePath + " is signed by key " + keyId + ", which is not a trusted key");
    case SignatureVerdict::FileChanged:
      return refused("the signature does not match " + imagePath +
                     ": the file or its signature was changed after signing");
    case SignatureVerdict::CommentAltered:
      return refused("the trusted comment in " + signaturePath + " was altered after signing");
  }
  return refused("the signature of " + imagePath + " cannot be checked");
}

}  // namespace plcburn
