#pragma once
// What each message of a burn means to the operator: what the program was doing, the likely
// causes, what to try, and the one-line hint that plcburn-cli prints under an error. The
// troubleshooting guide is generated from this table, so a message cannot be documented twice.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace plcburn {

// Where in a burn a message can come from, in burn order.
enum class BurnStage : std::uint8_t {
  SizeCheck,
  Opening,
  ModeProbe,        // "State 1"
  IdentifierCheck,  // "State 2"
  ModelCheck,
  EraseCommand,  // "State 3"
  Reconnect,
  BootIdentifier,
  BootVersion,
  BootErase,
  BootUpdate,
  Transfer,
  Finished,
  Stopped,
  Closing,
};

struct StageHelp {
  std::string_view doing;  // what the program was doing
  std::string_view state;  // which "State" that is, in words, and what the panel shows
};
StageHelp HelpFor(BurnStage stage);

// The stages a message can come from (some texts are shared by several steps).
class StageSet {
 public:
  constexpr StageSet() = default;
  // A stage is a set of one.
  constexpr StageSet(BurnStage stage) : bits_(Bit(stage)) {}
  constexpr StageSet operator|(StageSet other) const { return StageSet(bits_ | other.bits_); }
  constexpr bool Has(BurnStage stage) const { return (bits_ & Bit(stage)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }

 private:
  constexpr explicit StageSet(std::uint32_t bits) : bits_(bits) {}
  static constexpr std::uint32_t Bit(BurnStage stage) {
    return std::uint32_t{1} << static_cast<unsigned>(stage);
  }
  std::uint32_t bits_ = 0;
};
constexpr StageSet operator|(BurnStage a, BurnStage b) {
  return StageSet(a) | StageSet(b);
}

enum class MessageKind : std::uint8_t { Error, Prompt, Success, Question };

// Stands for the port's name in a message or a reason ("USB" for the USB interface).
inline constexpr std::string_view kPortPlaceholder = "<port>";

struct MessageHelp {
  std::string_view text;  // the message exactly as shown; kPortPlaceholder for the port's name
  MessageKind kind;
  StageSet stages;
  std::array<std::string_view, 4> causes;  // most likely first; unused ones empty
  std::array<std::string_view, 5> steps;   // what to try, in order; unused ones empty
  std::string_view hint;                   // one line under an error; empty for the others
};

std::span<const MessageHelp> MessageHelpTable();

// The row of a message as shown; only its first line counts (an open failure's reason follows on
// a second line). Null when the message has no row.
const MessageHelp* FindMessageHelp(std::string_view shown);

// The hint under `shown`, or empty when it has none.
std::string_view HintFor(std::string_view shown);

// The second lines an open failure may carry, as the platforms word them.
struct OpenFailureReasonHelp {
  std::string_view text;  // kPortPlaceholder for the port's name or path
  std::string_view where;
};
std::span<const OpenFailureReasonHelp> OpenFailureReasons();
// Whether `reason` is one of them (with a port's name in place of the placeholder).
bool IsDocumentedOpenFailureReason(std::string_view reason);

// Whether `shown` is `pattern` with a non-empty port name in place of kPortPlaceholder.
bool MatchesPattern(std::string_view pattern, std::string_view shown);

}  // namespace plcburn
