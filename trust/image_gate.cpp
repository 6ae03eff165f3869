#include "trust/image_gate.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "core/catalogue.h"
#include "core/utf8_text.h"
#include "trust/comment_words.h"
#include "trust/file_kind.h"
#include "trust/minisign_signature.h"
#include "trust/signature_check.h"
#include "trust/small_file.h"

namespace plcburn {

namespace {

std::string Named(std::size_t row) {
  return "the " + std::string(ModelAt(row).name);
}

class Gate {
 public:
  Gate(const ImageToAdmit& image, const TrustPolicy& policy) : image_(image), policy_(policy) {}

  Admission Run() {
    const std::string& path = image_.path;
    a_.modelRow = image_.forModel ? image_.forModel : ModelNamedByImage(path);
    if (const auto kind = NotARawImage(image_.bytes))
      return Refuse(ImageRefusal::Kind,
                    path + " looks like " + std::string(*kind) + ", not a raw firmware image");
    if (!image_.builtIn && policy_.Enforced() && !CheckSignature()) return a_;
    if (!CheckModel()) return a_;
    if (a_.modelRow) {
      const std::size_t length = std::min<std::size_t>(image_.bytes.size(), UINT32_MAX);
      const std::string_view misfit =
          ModelAt(*a_.modelRow).SizeRefusal(static_cast<std::uint32_t>(length));
      if (!misfit.empty()) return Refuse(ImageRefusal::Size, std::string(misfit));
    } else if (image_.bytes.size() > LargestImageSize()) {
      return Refuse(ImageRefusal::Size, path + " is larger than any model's image");
    }
    a_.accepted = true;
    return a_;
  }

 private:
  Admission& Refuse(ImageRefusal reason, std::string error) {
    a_.reason = reason;
    a_.error = std::move(error);
    return a_;
  }

  bool CheckSignature() {
    const std::string& path = image_.path;
    const std::string signaturePath = path + ".minisig";
    std::error_code ec;
    if (!std::filesystem::exists(PathFromUtf8(signaturePath), ec)) {
      Refuse(ImageRefusal::Unsigned, path + " is not signed: no " + signaturePath +
                                         ", and only images signed by a trusted key are burned");
      return false;
    }
    const SmallFile file =
        ReadSmallFile(PathFromUtf8(signaturePath), kMinisignFileLimit, "signature");
    if (!file.text) {
      Refuse(ImageRefusal::Signature, file.error);
      return false;
    }
    const ParsedSignature parsed = ParseSignature(*file.text);
    if (!parsed.signature) {
      Refuse(ImageRefusal::Signature,
             signaturePath + " is not a minisign signature: " + parsed.error);
      return false;
    }
    const MinisignSignature& s = *parsed.signature;
    a_.keyId = KeyIdText(s.keyId);
    switch (plcburn::CheckSignature(image_.bytes, s, policy_.keys)) {
      case SignatureVerdict::Valid: break;
      case SignatureVerdict::UntrustedKey:
        Refuse(ImageRefusal::UntrustedKey,
               path + " is signed by key " + a_.keyId + ", which is not a trusted key");
        return false;
      case SignatureVerdict::FileChanged:
        Refuse(ImageRefusal::Signature,
               "the signature does not match " + path +
                   ": the file or its signature was changed after signing");
        return false;
      case SignatureVerdict::CommentAltered:
        Refuse(ImageRefusal::Signature,
               "the trusted comment in " + signaturePath + " was altered after signing");
        return false;
    }
    a_.signedByTrustedKey = true;
    a_.trustedComment = s.trustedComment;
    const CommentWords words = ParseCommentWords(s.trustedComment);
    if (!words.error.empty()) {
      Refuse(ImageRefusal::Signature, signaturePath + ": " + words.error);
      return false;
    }
    a_.modelWord = words.model;
    return true;
  }

  bool CheckModel() {
    const std::string& path = image_.path;
    const std::optional<std::size_t> named = ModelNamedByImage(path);
    const std::optional<std::size_t> asked = image_.forModel;
    if (a_.modelWord) {
      const std::optional<std::size_t> signedFor = FindModelIgnoringCase(*a_.modelWord);
      if (!signedFor) {
        Refuse(ImageRefusal::Model, path + " is signed for the model " + *a_.modelWord +
                                        ", which this program does not know");
        return false;
      }
      if (named && *named != *signedFor) {
        Refuse(ImageRefusal::Model, path + " is named for " + Named(*named) +
                                        ", but its signature is for " + Named(*signedFor));
        return false;
      }
      if (asked && *asked != *signedFor) {
        Refuse(ImageRefusal::Model,
               path + " is signed for " + Named(*signedFor) + ", not " + Named(*asked));
        return false;
      }
      a_.modelRow = signedFor;
      return true;
    }
    if (policy_.requireModel && !image_.builtIn) {
      Refuse(ImageRefusal::Model, "the signature of " + path +
                                      " binds it to no model (no model=NAME in its trusted "
                                      "comment), and the policy requires one");
      return false;
    }
    // The build takes its model from the image's name; an image named for another model is
    // firmware for another PLC.
    if (named && asked && *named != *asked) {
      Refuse(ImageRefusal::Model,
             path + " is named for " + Named(*named) + ", not " + Named(*asked));
      return false;
    }
    a_.modelRow = asked ? asked : named;
    return true;
  }

  const ImageToAdmit& image_;
  const TrustPolicy& policy_;
  Admission a_;
};

}  // namespace

Admission AdmitImage(const ImageToAdmit& image, const TrustPolicy& policy) {
  return Gate(image, policy).Run();
}

}  // namespace plcburn
