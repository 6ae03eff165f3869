#include "trust/comment_words.h"

namespace plcburn {

CommentWords ParseCommentWords(std::string_view comment) {
  CommentWords words;
  for (const char c : comment) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F)
      return {{}, std::nullopt, "the trusted comment holds a control character"};
  }
  while (!comment.empty()) {
    const std::size_t start = comment.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    comment.remove_prefix(start);
    const std::string_view word = comment.substr(0, comment.find_first_of(" \t"));
    comment.remove_prefix(word.size());
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;  // free text
    std::string key(word.substr(0, equals)), value(word.substr(equals + 1));
    if (key == "model") {
      if (words.model) return {{}, std::nullopt, "the trusted comment gives model= twice"};
      if (value.empty())
        return {{}, std::nullopt, "the trusted comment gives model= without a model"};
      words.model = value;
    }
    words.pairs.emplace_back(std::move(key), std::move(value));
  }
  return words;
}

}  // namespace plcburn
