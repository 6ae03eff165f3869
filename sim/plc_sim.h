#pragma once
// One simulated PLC of any catalogue model: its application firmware (Modbus ASCII) and its boot
// loader (raw commands and numbered blocks), as a byte-in, byte-out state machine. It has no
// clock and no threads: whoever carries its bytes (SimLink, plcsim) decides about time.
//
// COM models are modelled with their UART: the application and the boot loader until "UPDATE"
// run at 9600 7E1 (answers lose their eighth bit), after "UPDATE" at 115200 8N1. Once the host
// has told its line profile (OnLineProfile), bytes sent at another profile never reach the PLC.
// A host that never told one is taken to send at the right one.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/catalogue.h"
#include "link/link.h"

namespace plcburn {

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection): the check value of a block's data.
// The simulator keeps its own so that it checks the burner's blocks independently.
std::uint16_t BlockCrc16(std::span<const std::uint8_t> data);

enum class FaultKind {
  Silence,      // no answer at all, from either firmware
  Nak,          // application answers every 0x64 request with NAK, class a, state b
  WrongIdApp,   // application reports identifier ^ 0x0100
  WrongIdBoot,  // boot loader reports identifier ^ 0x0100
  Lowercase,    // lower-case hex letters in application replies
  BadLrc,       // wrong LRC in application replies
  ShortReply,   // application replies lack their LF
  SilentErase,  // no reply to the erase request; hands over as if acknowledged
  NoHandover,   // the application never hands over to the boot loader
  NakBlock,     // the a-th block of a transfer is NAKed b times before it is accepted
  LoseAck,      // the a-th block is accepted but its ACK is not sent, once
                // (either may be given for several blocks)
  Garbage,      // a few garbage bytes go out before the first answer
  Hangup,       // after accepting the a-th block the PLC vanishes
  XonXoff,      // plcsim leaves XON/XOFF flow control on the port, as a careless terminal would
};

struct SimFault {
  FaultKind kind;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
};

// "silence", "nak:2:3", "wrong-id-app", "wrong-id-boot", "lowercase", "bad-lrc", "short-reply",
// "silent-erase", "no-handover", "nak-block:K:N", "lose-ack:K", "garbage", "hangup:K",
// "xon-xoff".
std::optional<SimFault> ParseFault(std::string_view text);

struct SimOptions {
  bool startInBootLoader = false;
  std::uint8_t appVersion = 0x01;       // byte 4 of the version reply
  std::uint16_t bootVersion = 0x0100;   // the two bytes after ACK to "VERSION"
  std::optional<std::uint16_t> bootId;  // the boot loader's answer to "ID"; unset: the model's
  std::optional<std::uint16_t> d1386;   // unset: 0x4138 on the model the register flags, else 0
  std::optional<std::uint16_t> d1148;   // unset: 1 on the model the register flags, else 0
  std::vector<SimFault> faults;
};

// What the PLC has been asked, for tests to check the burner's traffic.
struct SimCounters {
  // application firmware
  std::uint32_t dummyFrames = 0;
  std::uint32_t probes = 0;
  std::uint32_t idRequests = 0;
  std::uint32_t registerReads = 0;
  std::uint32_t versionRequests = 0;
  std::uint32_t eraseRequests = 0;
  std::uint32_t eraseAcks = 0;      // acknowledgement frames after an answered erase
  std::uint32_t badFrames = 0;      // bad LRC, bad hex, odd length, over-long
  std::uint32_t ignoredFrames = 0;  // well-formed but not answered (wrong sub-byte, unknown)
  std::uint32_t handovers = 0;
  // boot loader
  std::uint32_t bootProbes = 0;
  std::uint32_t bootIds = 0;
  std::uint32_t bootVersions = 0;
  std::uint32_t bootErases = 0;  // "ERASE" commands, one page each
  std::uint32_t eraseEots = 0;   // EOT before "UPDATE"
  std::uint32_t updates = 0;
  std::uint32_t blocksAccepted = 0;
  std::uint32_t blocksDuplicate = 0;
  std::uint32_t blocksNaked = 0;
  // both
  std::uint32_t skippedBytes = 0;  // bytes that could not start a command
  std::uint32_t garbledBytes = 0;  // bytes sent at the wrong line profile
  std::uint32_t linkOpens = 0;
  std::uint32_t linkCloses = 0;
};

class PlcSim {
 public:
  explicit PlcSim(std::size_t modelRow, SimOptions options = {});

  // Bytes the host wrote.
  void Receive(const std::uint8_t* data, std::size_t n);
  // Up to `max` bytes for the host, oldest first.
  std::vector<std::uint8_t> TakeOutput(std::size_t max);
  std::size_t Pending() const { return output_.size(); }

  void OnLinkClosed();
  void OnLinkOpened();
  // The host's line settings changed (or were read afresh).
  void OnLineProfile(const LineProfile& profile);
  // The line has been quiet long enough for a receiver to give up on a half-received command.
  void OnLineIdle();

  const ModelRules& Model() const { return rules_; }
  bool InBootLoader() const { return inBoot_; }
  // The data areas of the accepted blocks of the latest transfer, padding included, in order.
  const std::vector<std::uint8_t>& ReceivedImage() const { return image_; }
  // EOT acknowledged after "UPDATE" (blocks or none).
  bool TransferComplete() const { return transferComplete_; }
  bool HungUp() const { return hungUp_; }
  bool LinkOpen() const { return linkOpen_; }
  // The application has acknowledged the erase and waits for its reconnect to hand over.
  bool HandoverPending() const { return handoverPending_; }
  // The line profile the PLC's UART runs at now (COM models).
  LineProfile ExpectedLine() const;
  const SimCounters& Counters() const { return counters_; }

 private:
  enum class BootPhase { Commands, Blocks };

  bool Has(FaultKind kind) const;
  const SimFault* Find(FaultKind kind) const;
  // The fault of this kind given for the `block`-th block of a transfer, if any.
  const SimFault* FindForBlock(FaultKind kind, std::uint32_t block) const;

  void Parse();
  // Each returns false when it needs more bytes to decide.
  bool ParseFrame();
  bool ParseBootCommand();
  bool ParseBlock();

  void OnAppFrame(const std::vector<std::uint8_t>& bytes);
  void OnBootFrame(const std::vector<std::uint8_t>& bytes);
  void OnBlock(const std::uint8_t* block);
  void BeginHandover();
  void HandOver();
  void NoteRequest();

  void SendAppReply(std::vector<std::uint8_t> bytes);
  void Send(std::span<const std::uint8_t> bytes);
  void Send(std::uint8_t byte) { Send(std::span<const std::uint8_t>(&byte, 1)); }

  const ModelRules& rules_;
  SimOptions options_;
  std::uint16_t d1386_;
  std::uint16_t d1148_;

  std::vector<std::uint8_t> input_;
  std::deque<std::uint8_t> output_;
  std::optional<LineProfile> hostLine_;

  bool inBoot_;
  bool linkOpen_ = false;
  bool eraseAnswered_ = false;  // the erase got its ACK; the acknowledgement frame may follow
  bool handoverPending_ = false;
  bool closedSinceErase_ = false;
  bool hungUp_ = false;
  bool garbageSent_ = false;
  bool fastLine_ = false;  // the UART switched to 115200 8N1 after "UPDATE"

  BootPhase phase_ = BootPhase::Commands;
  std::uint8_t expectedBlock_ = 1;
  std::optional<std::uint8_t> lastAccepted_;
  std::uint32_t blocksThisTransfer_ = 0;  // accepted blocks of the latest transfer
  std::uint32_t naksGiven_ = 0;           // to the block expected, for nak-block
  std::vector<std::uint32_t> acksLost_;   // the blocks lose-ack has fired on: once each
  bool transferComplete_ = false;
  std::vector<std::uint8_t> image_;

  SimCounters counters_;
};

}  // namespace plcburn
