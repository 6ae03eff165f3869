#include "core/message_help.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/result_codes.h"
#include "core/stopped_burn.h"

namespace plcburn {
namespace {

// A text the program can show, where it comes from, and what kind of box shows it.
struct Source {
  std::string text;
  BurnStage stage;
  MessageKind kind;
};

// Every message, taken from where the code keeps it: every step and code through the message
// selection, every catalogue row, the fixed texts.
std::vector<Source> EveryMessage() {
  std::vector<Source> all;
  const struct {
    AppStep step;
    BurnStage stage;
  } steps[] = {{AppStep::ConfirmComm, BurnStage::ModeProbe},
               {AppStep::CheckID_A, BurnStage::IdentifierCheck},
               {AppStep::SendErase_A, BurnStage::EraseCommand}};
  for (const auto& s : steps)
    for (int code = 0; code < 256; ++code)
      all.push_back({std::string(AppStepMessage(s.step, static_cast<std::uint8_t>(code))), s.stage,
                     MessageKind::Error});
  for (std::size_t row = 0; row < kModelCount; ++row) {
    const ModelRules& m = ModelAt(row);
    all.push_back({std::string(m.sizeMessage), BurnStage::SizeCheck, MessageKind::Error});
    if (!m.minSizeMessage.empty())
      all.push_back({std::string(m.minSizeMessage), BurnStage::SizeCheck, MessageKind::Error});
    if (!m.variantMismatchMessage.empty())
      all.push_back(
          {std::string(m.variantMismatchMessage), BurnStage::ModelCheck, MessageKind::Error});
    if (!m.reconnectPrompt.empty())
      all.push_back({std::string(m.reconnectPrompt), BurnStage::Reconnect, MessageKind::Prompt});
    all.push_back({std::string(m.successText), BurnStage::Finished, MessageKind::Success});
  }
  const Source fixed[] = {
      {std::string(kMsgNoDataBlock), BurnStage::SizeCheck, MessageKind::Error},
      {std::string(kMsgNoBootLoader), BurnStage::Reconnect, MessageKind::Error},
      {std::string(kMsgPlcTypeWrong), BurnStage::BootIdentifier, MessageKind::Error},
      {std::string(kMsgNoVersion), BurnStage::BootVersion, MessageKind::Error},
      {std::string(kMsgNoErase), BurnStage::BootErase, MessageKind::Error},
      {std::string(kMsgNoUpdate), BurnStage::BootUpdate, MessageKind::Error},
      {std::string(kMsgFwFailed), BurnStage::Transfer, MessageKind::Error},
      {std::string(kMsgBurnStopped), BurnStage::Stopped, MessageKind::Error},
      {std::string(kStopBurnQuestion), BurnStage::Closing, MessageKind::Question},
  };
  all.insert(all.end(), std::begin(fixed), std::end(fixed));
  return all;
}

TEST(MessageHelp, EveryMessageHasItsRow) {
  for (const Source& s : EveryMessage()) {
    const MessageHelp* row = FindMessageHelp(s.text);
    ASSERT_NE(row, nullptr) << "no row in core/message_help.cpp for \"" << s.text << "\"";
    EXPECT_TRUE(row->stages.Has(s.stage)) << s.text << ": its row misses where it comes from";
    EXPECT_EQ(row->kind, s.kind) << s.text;
  }
}

// Rows say something of use, errors carry one short hint line, and no row is stale: each is a
// text the program shows (the open failure, built by the burn, is checked by the burn's tests).
TEST(MessageHelp, EveryRowIsAShownMessageWithCausesStepsAndItsHint) {
  std::set<std::string> shown;
  for (const Source& s : EveryMessage()) shown.insert(s.text);
  std::set<std::string_view> seen;
  for (const MessageHelp& row : MessageHelpTable()) {
    EXPECT_TRUE(seen.insert(row.text).second) << "two rows for " << row.text;
    if (row.text.find(kPortPlaceholder) == std::string_view::npos) {
      EXPECT_TRUE(shown.contains(std::string(row.text))) << "no such message: " << row.text;
    }
    EXPECT_FALSE(row.stages.Empty()) << row.text;
    EXPECT_FALSE(row.causes[0].empty()) << row.text;
    EXPECT_FALSE(row.steps[0].empty()) << row.text;
    if (row.kind == MessageKind::Error) {
      EXPECT_FALSE(row.hint.empty()) << row.text;
      EXPECT_EQ(row.hint.find('\n'), std::string_view::npos) << row.hint;
      EXPECT_LE(row.hint.size(), 100u) << row.hint;
    } else {
      EXPECT_TRUE(row.hint.empty()) << "only errors get a hint: " << row.text;
    }
  }
}

TEST(MessageHelp, FindsTheRowOfTheTextAsShown) {
  const struct {
    std::string shown;
    const char* row;  // nullptr: none
  } cases[] = {
      {"NO RESPONSE @ State 1", "NO RESPONSE @ State 1"},
      {"CANNOT open USB Port!!!", "CANNOT open <port> Port!!!"},
      {"CANNOT open /dev/ttyUSB0 Port!!!\n/dev/ttyUSB0 is in use by another program",
       "CANNOT open <port> Port!!!"},
      {"CANNOT open  Port!!!", nullptr},  // no port named
      {"NO RESPONSE @ State", nullptr},
      {"NO RESPONSE @ State 1\nmore", nullptr},  // only the open failure has a second line
      {"no response @ state 1", nullptr},
      {"", nullptr},
      {std::string(kStopBurnQuestion), kStopBurnQuestion.data()},
  };
  for (const auto& c : cases) {
    const MessageHelp* row = FindMessageHelp(c.shown);
    ASSERT_EQ(row != nullptr, c.row != nullptr) << c.shown;
    if (row != nullptr) {
      EXPECT_EQ(row->text, c.row);
      EXPECT_EQ(HintFor(c.shown), row->hint);
    } else {
      EXPECT_EQ(HintFor(c.shown), "");
    }
  }
}

}  // namespace
}  // namespace plcburn
