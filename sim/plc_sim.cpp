#include "sim/plc_sim.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "proto/modbus_ascii.h"

namespace plcburn {

namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kStx = 0x02;

// Longest frame text the application keeps between ':' and LF before it gives up on it.
constexpr std::size_t kMaxFrameChars = 64;

constexpr std::uint16_t kD1386Address = 0x156A;
constexpr std::uint16_t kD1148Address = 0x147C;

constexpr std::array<std::string_view, 4> kBootCommands = {"ID", "VERSION", "ERASE", "UPDATE"};

bool SameLine(const LineProfile& a, const LineProfile& b) {
  return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.parity == b.parity &&
         a.StopBits == b.StopBits;
}

bool PayloadIs(std::span<const std::uint8_t> payload, std::string_view text) {
  return std::equal(payload.begin(), payload.end(), text.begin(), text.end(),
                    [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::uint16_t BlockCrc16(std::span<const std::uint8_t> data) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : data) {
    crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::optional<SimFault> ParseFault(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  struct Form {
    std::string_view name;
    FaultKind kind;
    std::size_t numbers;
  };
  static constexpr Form kForms[] = {
      {"silence", FaultKind::Silence, 0},         {"nak", FaultKind::Nak, 2},
      {"wrong-id-app", FaultKind::WrongIdApp, 0}, {"wrong-id-boot", FaultKind::WrongIdBoot, 0},
      {"lowercase", FaultKind::Lowercase, 0},     {"bad-lrc", FaultKind::BadLrc, 0},
      {"short-reply", FaultKind::ShortReply, 0},  {"silent-erase", FaultKind::SilentErase, 0},
      {"no-handover", FaultKind::NoHandover, 0},  {"nak-block", FaultKind::NakBlock, 2},
      {"lose-ack", FaultKind::LoseAck, 1},        {"garbage", FaultKind::Garbage, 0},
      {"hangup", FaultKind::Hangup, 1},           {"xon-xoff", FaultKind::XonXoff, 0},
  };
  for (const Form& form : kForms) {
    if (parts[0] != form.name || parts.size() != form.numbers + 1) continue;
    SimFault fault{form.kind};
    std::uint32_t* slots[] = {&fault.a, &fault.b};
    for (std::size_t i = 0; i < form.numbers; ++i) {
      const auto n = ParseNumber(parts[i + 1]);
      if (!n) return std::nullopt;
      *slots[i] = *n;
    }
    return fault;
  }
  return std::nullopt;
}

PlcSim::PlcSim(std::size_t modelRow, SimOptions options)
    : rules_(ModelAt(modelRow)),
      options_(std::move(options)),
      d1386_(options_.d1386.value_or(
          rules_.modelCheck == ModelCheck::D1386 && rules_.isFlaggedVariant ? 0x4138 : 0)),
      d1148_(options_.d1148.value_or(
          rules_.modelCheck == ModelCheck::D1148 && rules_.isFlaggedVariant ? 1 : 0)),
      inBoot_(options_.startInBootLoader) {}

const SimFault* PlcSim::Find(FaultKind kind) const {
  for (const SimFault& f : options_.faults)
    if (f.kind == kind) return &f;
  return nullptr;
}

const SimFault* PlcSim::FindForBlock(FaultKind kind, std::uint32_t block) const {
  for (const SimFault& f : options_.faults)
    if (f.kind == kind && f.a == block) return &f;
  return nullptr;
}

bool PlcSim::Has(FaultKind kind) const {
  return Find(kind) != nullptr;
}

LineProfile PlcSim::ExpectedLine() const {
  return fastLine_ ? kBootProfile : kAppProfile;
}

void PlcSim::Receive(const std::uint8_t* data, std::size_t n) {
  if (hungUp_ || n == 0) return;
  if (!rules_.IsUsb()) {
    // Characters framed at another speed or format arrive as line errors: the PLC drops them.
    if (hostLine_ && !SameLine(*hostLine_, ExpectedLine())) {
      counters_.garbledBytes += static_cast<std::uint32_t>(n);
      return;
    }
    const bool sevenBit = ExpectedLine().ByteSize == 7;
    for (std::size_t i = 0; i < n; ++i)
      input_.push_back(sevenBit ? static_cast<std::uint8_t>(data[i] & 0x7F) : data[i]);
  } else {
    input_.insert(input_.end(), data, data + n);
  }
  Parse();
}

std::vector<std::uint8_t> PlcSim::TakeOutput(std::size_t max) {
  const std::size_t n = std::min(max, output_.size());
  std::vector<std::uint8_t> out(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
  output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

void PlcSim::OnLinkClosed() {
  linkOpen_ = false;
  ++counters_.linkCloses;
  input_.clear();
  if (handoverPending_) closedSinceErase_ = true;
  // A re-plug or power cycle restarts a boot loader that was in the middle of something.
  if (inBoot_ && rules_.reconnect != ReconnectAction::WaitOnOpenLink) {
    phase_ = BootPhase::Commands;
    fastLine_ = false;
  }
}

void PlcSim::OnLinkOpened() {
  linkOpen_ = true;
  ++counters_.linkOpens;
  if (handoverPending_ && closedSinceErase_) HandOver();
}

void PlcSim::OnLineProfile(const LineProfile& profile) {
  hostLine_ = profile;
}

void PlcSim::OnLineIdle() {
  input_.clear();
}

// After the erase: on the same link at once, or once the link has been closed and reopened.
void PlcSim::BeginHandover() {
  if (Has(FaultKind::NoHandover)) return;
  if (rules_.reconnect == ReconnectAction::WaitOnOpenLink) {
    HandOver();
  } else {
    handoverPending_ = true;
    closedSinceErase_ = false;
  }
}

void PlcSim::HandOver() {
  inBoot_ = true;
  handoverPending_ = false;
  closedSinceErase_ = false;
  eraseAnswered_ = false;
  phase_ = BootPhase::Commands;
  fastLine_ = false;
  // Bytes behind the acknowledgement are the boot loader's: the result must not depend on how
  // the host's writes happen to be split.
  ++counters_.handovers;
}

void PlcSim::NoteRequest() {
  if (garbageSent_ || !Has(FaultKind::Garbage)) return;
  garbageSent_ = true;
  static constexpr std::uint8_t kGarbage[] = {0xFF, 0x00, '?'};
  Send(kGarbage);
}

void PlcSim::Send(std::span<const std::uint8_t> bytes) {
  if (hungUp_ || Has(FaultKind::Silence)) return;
  const bool sevenBit = !rules_.IsUsb() && ExpectedLine().ByteSize == 7;
  for (std::uint8_t b : bytes)
    output_.push_back(sevenBit ? static_cast<std::uint8_t>(b & 0x7F) : b);
}

void PlcSim::Parse() {
  while (!input_.empty() && !hungUp_) {
    bool progressed = false;
    if (!inBoot_) {
      progressed = ParseFrame();
    } else if (phase_ == BootPhase::Blocks) {
      if (input_[0] == kStx) {
        progressed = ParseBlock();
      } else {
        if (input_[0] == kEot) {
          NoteRequest();
          transferComplete_ = true;
          phase_ = BootPhase::Commands;
          Send(kAck);
        } else {
          ++counters_.skippedBytes;
        }
        input_.erase(input_.begin());
        progressed = true;
      }
    } else if (input_[0] == ':') {
      progressed = ParseFrame();
    } else {
      progressed = ParseBootCommand();
    }
    if (!progressed) break;
  }
}

bool PlcSim::ParseFrame() {
  const auto colon = std::find(input_.begin(), input_.end(), ':');
  counters_.skippedBytes += static_cast<std::uint32_t>(colon - input_.begin());
  input_.erase(input_.begin(), colon);
  if (input_.empty()) return false;

  const auto lf = std::find(input_.begin() + 1, input_.end(), '\n');
  const auto nextColon = std::find(input_.begin() + 1, lf, ':');
  if (nextColon != lf) {
    // A new frame started before this one ended: this one is lost.
    ++counters_.badFrames;
    input_.erase(input_.begin(), nextColon);
    return true;
  }
  if (lf == input_.end()) {
    if (input_.size() <= kMaxFrameChars) return false;
    ++counters_.badFrames;
    input_.erase(input_.begin());
    return true;
  }

  std::vector<std::uint8_t> text(input_.begin() + 1, lf);
  input_.erase(input_.begin(), lf + 1);

  const bool hasCr = !text.empty() && text.back() == '\r';
  const std::size_t hexChars = hasCr ? text.size() - 1 : 0;
  // Address, function and LRC at least.
  if (!hasCr || hexChars % 2 != 0 || hexChars < 6 ||
      CheckLRC(text.data(), static_cast<int>(hexChars)) != 0) {
    ++counters_.badFrames;
    return true;
  }
  std::vector<std::uint8_t> bytes(text.begin(),
                                  text.begin() + static_cast<std::ptrdiff_t>(hexChars / 2 - 1));
  if (inBoot_)
    OnBootFrame(bytes);
  else
    OnAppFrame(bytes);
  return true;
}

void PlcSim::OnAppFrame(const std::vector<std::uint8_t>& bytes) {
  NoteRequest();
  if (bytes[0] != 0x00) {
    ++counters_.ignoredFrames;
    return;
  }
  const std::uint8_t function = bytes[1];
  if (function == 0x7F) {
    ++counters_.dummyFrames;
    return;
  }
  if (function == 0x03 && bytes.size() == 6 && bytes[4] == 0x00 && bytes[5] == 0x01) {
    ++counters_.registerReads;
    const auto address = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
    const std::uint16_t value = address == kD1386Address   ? d1386_
                                : address == kD1148Address ? d1148_
                                                           : 0;
    SendAppReply({0x00, 0x03, 0x02, static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value)});
    return;
  }
  if (function != 0x64 || bytes.size() < 5 || bytes[2] != 0x01) {
    ++counters_.ignoredFrames;
    return;
  }

  const std::uint8_t sub = bytes[3];
  const std::span<const std::uint8_t> payload(bytes.begin() + 4, bytes.end());
  const bool isVersion = payload.size() == 1 && payload[0] == 0x05;
  // The version request keeps 0x59 on every model.
  if (sub != (isVersion ? 0x59 : rules_.subByte)) {
    ++counters_.ignoredFrames;
    return;
  }
  const bool isProbe = payload.size() == 1 && payload[0] == 0x01;
  const bool isId = PayloadIs(payload, "ID");
  const bool isErase = PayloadIs(payload, "ERASE");
  const bool isAck = payload.size() == 1 && payload[0] == kAck;
  if (!isProbe && !isId && !isVersion && !isErase && !isAck) {
    ++counters_.ignoredFrames;
    return;
  }

  auto reply = [&](std::uint8_t code, std::uint8_t b5, std::uint8_t b6) {
    SendAppReply({0x00, 0x64, 0x01, sub, code, b5, b6});
  };
  const SimFault* nak = Find(FaultKind::Nak);

  if (isAck) {
    if (!eraseAnswered_) {
      ++counters_.ignoredFrames;
      return;
    }
    ++counters_.eraseAcks;
    eraseAnswered_ = false;
    BeginHandover();
    return;
  }

  if (isProbe) ++counters_.probes;
  if (isId) ++counters_.idRequests;
  if (isVersion) ++counters_.versionRequests;
  if (isErase) ++counters_.eraseRequests;

  if (nak) {
    reply(kNak, static_cast<std::uint8_t>(nak->a), static_cast<std::uint8_t>(nak->b));
    return;
  }
  if (isProbe) {
    reply(0x05, 0x00, 0x00);
  } else if (isId) {
    const auto id =
        static_cast<std::uint16_t>(rules_.id ^ (Has(FaultKind::WrongIdApp) ? 0x0100 : 0));
    reply(kAck, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id));
  } else if (isVersion) {
    reply(options_.appVersion, 0x00, 0x00);
  } else if (Has(FaultKind::SilentErase)) {
    // The erase goes ahead without a word; the burner has to assume it did.
    BeginHandover();
  } else {
    eraseAnswered_ = true;
    reply(kAck, 0x00, 0x00);
  }
}

void PlcSim::SendAppReply(std::vector<std::uint8_t> bytes) {
  std::string frame = BuildFrame(bytes);
  if (Has(FaultKind::BadLrc)) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto wrong = static_cast<std::uint8_t>(Lrc(bytes) + 1);
    frame[frame.size() - 4] = kHex[wrong >> 4];
    frame[frame.size() - 3] = kHex[wrong & 0x0F];
  }
  if (Has(FaultKind::Lowercase))
    for (char& c : frame)
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  if (Has(FaultKind::ShortReply)) frame.pop_back();
  Send(std::span(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()));
}

void PlcSim::OnBootFrame(const std::vector<std::uint8_t>& bytes) {
  NoteRequest();
  if (bytes.size() >= 2 && bytes[0] == 0x00 && bytes[1] == 0x7F) {
    ++counters_.dummyFrames;
    return;
  }
  const bool isProbe = bytes.size() == 5 && bytes[0] == 0x00 && bytes[1] == 0x64 &&
                       bytes[2] == 0x01 && bytes[3] == rules_.subByte && bytes[4] == 0x01;
  if (!isProbe) {
    ++counters_.ignoredFrames;
    return;
  }
  ++counters_.bootProbes;
  const std::string frame =
      BuildFrame(std::vector<std::uint8_t>{0x00, 0x64, 0x01, rules_.subByte, kAck, 0x00, 0x00});
  Send(std::span(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()));
}

bool PlcSim::ParseBootCommand() {
  if (input_[0] == kEot) {
    input_.erase(input_.begin());
    NoteRequest();
    ++counters_.eraseEots;
    Send(kAck);
    return true;
  }
  const auto command = std::find_if(
      kBootCommands.begin(), kBootCommands.end(),
      [&](std::string_view c) { return static_cast<std::uint8_t>(c[0]) == input_[0]; });
  if (command == kBootCommands.end()) {
    ++counters_.skippedBytes;
    input_.erase(input_.begin());
    return true;
  }
  const std::size_t have = std::min(input_.size(), command->size());
  if (!std::equal(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(have),
                  command->begin())) {
    ++counters_.skippedBytes;
    input_.erase(input_.begin());
    return true;
  }
  if (have < command->size()) return false;
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(have));
  NoteRequest();

  if (*command == "ID") {
    ++counters_.bootIds;
    const auto id = static_cast<std::uint16_t>(options_.bootId.value_or(rules_.ExpectedBootId()) ^
                                               (Has(FaultKind::WrongIdBoot) ? 0x0100 : 0));
    const std::uint8_t answer[] = {kAck, static_cast<std::uint8_t>(id >> 8),
                                   static_cast<std::uint8_t>(id)};
    Send(answer);
  } else if (*command == "VERSION") {
    ++counters_.bootVersions;
    const std::uint8_t answer[] = {kAck, static_cast<std::uint8_t>(options_.bootVersion >> 8),
                                   static_cast<std::uint8_t>(options_.bootVersion)};
    Send(answer);
  } else if (*command == "ERASE") {
    ++counters_.bootErases;
    Send(kAck);
  } else {  // UPDATE
    ++counters_.updates;
    Send(kAck);  // still at the old line speed
    phase_ = BootPhase::Blocks;
    fastLine_ = true;
    image_.clear();
    expectedBlock_ = 1;
    lastAccepted_.reset();
    blocksThisTransfer_ = 0;
    naksGiven_ = 0;
    transferComplete_ = false;
  }
  return true;
}

bool PlcSim::ParseBlock() {
  const std::size_t length = rules_.BlockLength();
  if (input_.size() < length) return false;
  const std::vector<std::uint8_t> block(input_.begin(),
                                        input_.begin() + static_cast<std::ptrdiff_t>(length));
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length));
  NoteRequest();
  OnBlock(block.data());
  return true;
}

void PlcSim::OnBlock(const std::uint8_t* block) {
  const std::uint8_t number = block[1];
  const std::span<const std::uint8_t> data(block + 3, rules_.blockSize);
  const auto crc =
      static_cast<std::uint16_t>((block[3 + rules_.blockSize] << 8) | block[4 + rules_.blockSize]);
  const bool intact =
      block[2] == static_cast<std::uint8_t>(0xFF - number) && BlockCrc16(data) == crc;

  if (intact && number == expectedBlock_) {
    const SimFault* nak = FindForBlock(FaultKind::NakBlock, blocksThisTransfer_ + 1);
    if (nak && naksGiven_ < nak->b) {
      ++naksGiven_;
      ++counters_.blocksNaked;
      Send(kNak);
      return;
    }
    image_.insert(image_.end(), data.begin(), data.end());
    ++blocksThisTransfer_;
    naksGiven_ = 0;
    ++counters_.blocksAccepted;
    lastAccepted_ = number;
    expectedBlock_ = static_cast<std::uint8_t>(number + 1);

    if (FindForBlock(FaultKind::LoseAck, blocksThisTransfer_) &&
        std::find(acksLost_.begin(), acksLost_.end(), blocksThisTransfer_) == acksLost_.end()) {
      acksLost_.push_back(blocksThisTransfer_);
    } else {
      Send(kAck);
    }
    const SimFault* hangup = Find(FaultKind::Hangup);
    if (hangup && blocksThisTransfer_ == hangup->a) {
      hungUp_ = true;
      input_.clear();
    }
    return;
  }
  if (intact && lastAccepted_ == number) {
    // Our ACK got lost and the burner sent the block again: confirm it, keep the first copy.
    ++counters_.blocksDuplicate;
    Send(kAck);
    return;
  }
  ++counters_.blocksNaked;
  Send(kNak);
}

}  // namespace plcburn
