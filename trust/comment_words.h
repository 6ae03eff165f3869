#pragma once
// The words of a signature's trusted comment: `key=value` words separated by spaces or tabs
// (minisign's own comment separates its words with tabs). `model=NAME` binds an image to a
// model; `version=` and every other word are kept as they are, not interpreted. A comment with
// no `=` word is free text, as signatures made before model words were.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plcburn {

struct CommentWords {
  std::vector<std::pair<std::string, std::string>> pairs;  // each key=value word, in order
  std::optional<std::string> model;                        // the value of model=, if given
  std::string error;  // one line when the comment cannot be trusted as it stands; then no words
};

// Refused: a control character other than a tab (it would rewrite the terminal or the log line
// that shows the comment), `model=` given twice or with no value.
CommentWords ParseCommentWords(std::string_view comment);

}  // namespace plcburn
