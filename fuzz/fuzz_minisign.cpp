// The minisign key and signature parsers, the trusted comment's words and the file-kind test on
// any bytes: no crash, no read past the input, a parsed signature keeps what it was given, and
// a model word is one of the comment's words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "trust/comment_words.h"
#include "trust/file_kind.h"
#include "trust/minisign_key.h"
#include "trust/minisign_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const plcburn::ParsedKey key = plcburn::ParsePublicKey(text);
  if (key.key.has_value() == !key.error.empty()) std::abort();
  if (key.key && plcburn::KeyIdText(key.key->id).size() > 16) std::abort();
  const plcburn::ParsedSignature signature = plcburn::ParseSignature(text);
  if (signature.signature.has_value() == !signature.error.empty()) std::abort();
  if (signature.signature && signature.signature->trustedComment.size() >= size) std::abort();
  for (const std::string_view comment :
       {text, signature.signature ? std::string_view(signature.signature->trustedComment)
                                  : std::string_view()}) {
    const plcburn::CommentWords words = plcburn::ParseCommentWords(comment);
    if (words.model &&
        (words.model->empty() || comment.find("model=" + *words.model) == std::string_view::npos))
      std::abort();
    if (!words.error.empty() && words.error.find('\n') != std::string::npos) std::abort();
  }
  (void)plcburn::NotARawImage(std::span<const std::uint8_t>(data, size));
  return 0;
}
