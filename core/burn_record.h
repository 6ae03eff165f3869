#pragma once
// The record of one burn: what was burned, where, from which station, what the PLC said about
// itself, how long each phase took and how it ended. The burn and its steps fill it; a
// BurnJournal keeps it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/image_refusal.h"

namespace plcburn {

// What only the front end knows about a burn.
struct RecordFacts {
  std::string host;
  std::string imageName;
  std::string imageSha256;  // lower-case hex
  // Of an image signed by a trusted key: the minisign key id and the signature's trusted comment.
  std::string signingKeyId = {};
  std::string trustedComment = {};
  // At a station: the slot as the operator named it (a socket or a pattern, or "USB") and the
  // device found in it (its node, or the USB port path it is plugged into); empty elsewhere.
  std::string slot = {};
  std::string device = {};
  // The PLC's serial as the operator gave it (a scanned label); empty when none was.
  std::string serial = {};
  // What the front end warned of before the burn (a serial burned OK today already).
  std::vector<std::string> warnings = {};
};

// What decided a burn's end when no protocol step did, as `BurnRecord::Result::step` names it.
inline constexpr std::string_view kStepSizeCheck = "size check";  // before any port was opened
inline constexpr std::string_view kStepOpen = "open";
inline constexpr std::string_view kStepReopen = "reopen";
// No image could be chosen for the PLC (it was identified first); nothing was erased.
inline constexpr std::string_view kStepImageChoice = "image choice";
// The image was refused by its check (kind, model, signature) before any port was opened.
inline constexpr std::string_view kStepImageCheck = "image check";

// The phases the record times, in the order a burn normally passes them.
enum class BurnPhase { Handshake, Reconnect, Erase, Transfer };

struct BurnRecord {
  RecordFacts facts;
  std::string version;        // plcburn's
  std::uint64_t startMs = 0;  // wall clock, milliseconds since 1970 UTC
  std::uint64_t endMs = 0;
  std::uint64_t durationMs = 0;  // on the steady clock
  std::string port;              // as given or listed, "USB" for the USB interface
  bool usb = false;              // the link: the PLC's USB interface, or a serial line
  std::string model;
  std::uint32_t imageSize = 0;

  struct Result {
    bool ok = false;
    std::optional<std::uint8_t> code;  // the step result code, where a step gave one
    std::string step;                  // what decided the end: a step, or the check before any
    std::string caption;
    std::string text;
    bool stopped = false;  // the burn was told to stop before its end
    // Of an image refused before it reached the PLC: why, and the key id of its signature, where
    // it has one.
    struct Refused {
      ImageRefusal reason = ImageRefusal::Kind;
      std::string keyId = {};
    };
    std::optional<Refused> refused = {};
  } result;

  struct Phases {
    std::uint64_t handshakeMs = 0;  // probes and identification, in both firmwares
    std::uint64_t reconnectMs = 0;  // the operator's prompt, the pause and the reopen
    std::uint64_t eraseMs = 0;
    std::uint64_t transferMs = 0;  // "UPDATE" and the blocks
  } phases;

  struct Blocks {
    std::uint32_t total = 0;   // blocks of the image
    std::uint32_t sent = 0;    // blocks written at least once
    std::uint32_t resent = 0;  // writes after a block's first
  } blocks;

  std::uint32_t errorsTotal = 0;  // failed writes and reads of the whole burn
  std::uint32_t attempts = 0;     // mode probes the burn made

  // What the PLC said about itself; unset where the burn did not ask or got no answer.
  struct Plc {
    std::optional<std::uint16_t> identifier;      // its application's answer, accepted or not
    std::optional<std::uint16_t> bootIdentifier;  // its boot loader's answer, accepted or not
    std::optional<std::uint8_t> appVersion;
    std::optional<std::uint16_t> bootVersion;
    std::optional<std::uint16_t> d1386;
    std::optional<std::uint16_t> d1148;
    bool operator==(const Plc&) const = default;
  } plc;
};

// Where the records of burns go, and who hears of a burn's phases as they begin. Called on the
// burn's thread.
class BurnJournal {
 public:
  virtual ~BurnJournal() = default;
  virtual void PhaseBegins(BurnPhase /*phase*/) {}
  // Once per burn, as it ends and before its final message is shown.
  virtual void Keep(const BurnRecord& record) = 0;
};

}  // namespace plcburn
