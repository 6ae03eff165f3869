// Writes the troubleshooting guide: the template's prose with its placeholders replaced by
// tables made from the message help table and the catalogue.
//
//   make_troubleshooting TEMPLATE OUTPUT
//
// @STAGES@ becomes the stages of a burn in order, @MESSAGES@ one table per part of the burn with
// one row per message, then the reasons an open failure may name.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/message_help.h"

namespace {

using namespace plcburn;

constexpr BurnStage kStagesInOrder[] = {
    BurnStage::SizeCheck,       BurnStage::Opening,        BurnStage::ModeProbe,
    BurnStage::IdentifierCheck, BurnStage::ModelCheck,     BurnStage::EraseCommand,
    BurnStage::Reconnect,       BurnStage::BootIdentifier, BurnStage::BootVersion,
    BurnStage::BootErase,       BurnStage::BootUpdate,     BurnStage::Transfer,
    BurnStage::Finished,        BurnStage::Stopped,        BurnStage::Closing};

// The parts of a burn the guide's tables follow; a row goes to the part of its first stage.
struct Part {
  const char* title;
  BurnStage last;
};
constexpr Part kParts[] = {
    {"Before the PLC is reached", BurnStage::Opening},
    {"Talking to the PLC's application: State 1 to State 3", BurnStage::EraseCommand},
    {"Between the two phases", BurnStage::Reconnect},
    {"Talking to the boot loader", BurnStage::Transfer},
    {"The end of a burn", BurnStage::Closing},
};

BurnStage FirstStage(const MessageHelp& row) {
  for (BurnStage stage : kStagesInOrder)
    if (row.stages.Has(stage)) return stage;
  return BurnStage::Closing;
}

std::size_t PartOf(BurnStage stage) {
  std::size_t part = 0;
  while (static_cast<int>(stage) > static_cast<int>(kParts[part].last)) ++part;
  return part;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

// The text verbatim as code, line by line.
std::string Verbatim(std::string_view text) {
  std::string out;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    const std::string_view line = text.substr(from, end - from);
    if (!out.empty()) out += "<br>";
    if (!line.empty()) out += "`" + Escaped(line) + "`";
    from = end + 1;
  }
  return out;
}

std::string Thousands(std::uint32_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Which models show the text, from the catalogue; empty when it is no model's own text.
std::string ModelsShowing(std::string_view text) {
  std::string models, limit;
  int count = 0;
  for (std::size_t row = 0; row < kModelCount; ++row) {
    const ModelRules& m = ModelAt(row);
    const bool shows = m.sizeMessage == text || m.minSizeMessage == text ||
                       m.variantMismatchMessage == text || m.reconnectPrompt == text ||
                       m.successText == text;
    if (!shows) continue;
    models += (count++ > 0 ? ", " : "") + std::string(m.name);
    if (m.sizeMessage == text) limit = "; an image up to " + Thousands(m.maxSize) + " bytes passes";
    if (m.minSizeMessage == text)
      limit = "; an image of " + Thousands(m.minSize) + " bytes or more passes";
  }
  if (count == 0) return {};
  return "Models: " + models + limit + ".";
}

std::string Joined(std::span<const std::string_view> items, bool numbered) {
  std::string out;
  int n = 0;
  for (std::string_view item : items) {
    if (item.empty()) continue;
    if (n > 0) out += "<br>";
    out += numbered ? std::to_string(n + 1) + ". " : "&bull; ";
    out += Escaped(item);
    ++n;
  }
  return out;
}

std::string WhereCell(const MessageHelp& row) {
  std::string out;
  for (BurnStage stage : kStagesInOrder) {
    if (!row.stages.Has(stage)) continue;
    const StageHelp help = HelpFor(stage);
    if (!out.empty()) out += "<br>Or: ";
    out += "*" + Escaped(help.state) + "* " + Escaped(help.doing);
  }
  const std::string models = ModelsShowing(row.text);
  if (!models.empty()) out += "<br>" + models;
  return out;
}

std::string StagesTable() {
  std::ostringstream out;
  out << "| What plcburn does | State, and what the panel shows |\n|---|---|\n";
  for (BurnStage stage : kStagesInOrder) {
    // A stop or a close can come at any stage.
    if (stage == BurnStage::Stopped || stage == BurnStage::Closing) continue;
    const StageHelp help = HelpFor(stage);
    out << "| " << Escaped(help.doing) << " | " << Escaped(help.state) << " |\n";
  }
  return out.str();
}

std::string MessageTables() {
  std::ostringstream out;
  for (std::size_t part = 0; part < std::size(kParts); ++part) {
    out << "### " << kParts[part].title << "\n\n"
        << "| Message | Where the burn was | Likely causes | What to try, in order |\n"
        << "|---|---|---|---|\n";
    for (const MessageHelp& row : MessageHelpTable()) {
      if (PartOf(FirstStage(row)) != part) continue;
      // Steps are done in order; a question's answers are choices.
      const bool numbered = row.kind != MessageKind::Question;
      out << "| " << Verbatim(row.text) << " | " << WhereCell(row) << " | "
          << Joined(row.causes, false) << " | " << Joined(row.steps, numbered) << " |\n";
    }
    out << "\n";
    if (part == 0) {
      out << "The second line under \"CANNOT open ... Port!!!\", when the system names a cause:\n\n"
          << "| Second line | Where |\n|---|---|\n";
      for (const OpenFailureReasonHelp& reason : OpenFailureReasons())
        out << "| " << Verbatim(reason.text) << " | " << reason.where << " |\n";
      out << "\n";
    }
  }
  std::string text = out.str();
  text.pop_back();  // the template's line ends the last table
  return text;
}

void Replace(std::string& text, const std::string& placeholder, const std::string& with) {
  const std::size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), with);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_troubleshooting TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "make_troubleshooting: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Replace(text, "@STAGES@\n", StagesTable());
  Replace(text, "@MESSAGES@\n", MessageTables());
  std::ofstream out(argv[2], std::ios::binary);
  out << text;
  if (!out.flush()) {
    std::cerr << "make_troubleshooting: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
