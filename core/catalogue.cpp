#include "core/catalogue.h"

#include <algorithm>
#include <cctype>

#include "core/result_codes.h"
#include "core/utf8_text.h"

namespace plcburn {

namespace {

constexpr std::string_view kSize128K4 = "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)";
constexpr std::string_view kSize128K7 = "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)";
constexpr std::string_view kSize4K = "The file size EXCEEDS the MAXIMUM size (4 * 1024)";
constexpr std::string_view kSize2028K = "The file size EXCEEDS the MAXIMUM size (2028 * 1024)";
constexpr std::string_view kSize480K = "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)";
constexpr std::string_view kBelow4K = "The file size is BELOW the MINIMUM size (4 * 1024)";

constexpr std::string_view kReplug = "Please REPLUG the USB Cable, and then press OK to continue";
constexpr std::string_view kPowerCycle =
    "Please POWER OFF=>ON the PLC, and then press OK to continue";

constexpr std::string_view kTr7Mismatch = "Check PLC, TR7-MX7 is different than TR7-B";
constexpr std::string_view kFound48 = "Check PLC, 16QK4 is different than 48QK4";
constexpr std::string_view kFound16 = "Check PLC, 48QK4 is different than 16QK4";

constexpr std::string_view kUsbSuccess =
    "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";
constexpr std::string_view kComSuccess = "Firmware update is SUCCESSFUL";

// Defaults shared by most COM models; each row below states only where it differs.
constexpr ModelRules ComModel(std::size_t row) {
  return ModelRules{
      .row = row,
      .name = plcList[row],
      .id = plcID[row],
      .link = LinkKind::Com,
      .maxSize = 491520,
      .sizeMessage = kSize480K,
      .minSize = 0,
      .minSizeMessage = {},
      .subByte = 0x59,
      .appIdRule = AppIdRule::Exact,
      .eraseDoneWithoutReply = false,
      .modelCheck = ModelCheck::None,
      .isFlaggedVariant = false,
      .variantMismatchMessage = {},
      .reconnect = ReconnectAction::WaitOnOpenLink,
      .reconnectPrompt = {},
      .reconnectWaitMs = 1000,
      .bootIdRule = BootIdRule::TopBitCleared,
      .readsBootVersion = false,
      .pageRule = PageRule::Per2K,
      .blockSize = 128,
      .unsentTail = 0,
      .successText = kComSuccess,
      .successCaption = "INFORMATION",
  };
}

constexpr ModelRules UsbModel(std::size_t row) {
  ModelRules m = ComModel(row);
  m.link = LinkKind::Usb;
  m.reconnect = ReconnectAction::ReplugUsb;
  m.reconnectPrompt = kReplug;
  m.reconnectWaitMs = 2000;
  m.bootIdRule = BootIdRule::Exact;
  m.pageRule = PageRule::Per16K;
  m.blockSize = 256;
  m.successText = kUsbSuccess;
  m.successCaption = "Information";
  return m;
}

constexpr ModelRules WithLimit(ModelRules m, std::uint32_t limit, std::string_view message) {
  m.maxSize = limit;
  m.sizeMessage = message;
  return m;
}

constexpr ModelRules PowerCycled(ModelRules m) {
  m.reconnect = ReconnectAction::PowerCycle;
  m.reconnectPrompt = kPowerCycle;
  m.reconnectWaitMs = 2000;
  return m;
}

constexpr ModelRules Tr7Pair(ModelRules m, bool isTr7B) {
  m.appIdRule = AppIdRule::TwelveOrThirteen;
  m.bootIdRule = BootIdRule::TwelveOrThirteen;
  m.modelCheck = ModelCheck::D1386;
  m.isFlaggedVariant = isTr7B;
  m.variantMismatchMessage = kTr7Mismatch;
  return m;
}

constexpr ModelRules Qk4Pair(ModelRules m, bool isQk48) {
  m.modelCheck = ModelCheck::D1148;
  m.isFlaggedVariant = isQk48;
  m.variantMismatchMessage = isQk48 ? kFound16 : kFound48;
  return m;
}

constexpr std::array<ModelRules, kModelCount> MakeRules() {
  std::array<ModelRules, kModelCount> r{};
  for (std::size_t i = 0; i < kModelCount; ++i) r[i] = ComModel(i);

  r[0] = Tr7Pair(ComModel(0), false);  // TR7-MX7
  r[3] = Qk4Pair(ComModel(3), false);  // QK4

  r[4] = Tr7Pair(PowerCycled(WithLimit(ComModel(4), 524288, kSize128K4)), true);  // TR7-B
  r[4].eraseDoneWithoutReply = true;
  r[4].pageRule = PageRule::Per128K;

  r[5] = UsbModel(5);  // VL

  r[7] = WithLimit(ComModel(7), 12288, kSize4K);  // 40MX7-PQN
  r[7].subByte = 0x5B;
  r[7].pageRule = PageRule::FixedFour;
  r[7].blockSize = 256;

  r[10] = UsbModel(10);  // VL-K

  r[12] = WithLimit(UsbModel(12), 2076672, kSize2028K);  // ZN500
  r[12].reconnectWaitMs = 5000;
  r[12].modelCheck = ModelCheck::VersionA;
  r[12].readsBootVersion = true;
  r[12].pageRule = PageRule::Per4KAfterTail;
  r[12].unsentTail = 4096;
  r[12].minSize = 4096;
  r[12].minSizeMessage = kBelow4K;

  r[14] = PowerCycled(WithLimit(ComModel(14), 524288, kSize128K4));  // MX7-GLT
  r[14].eraseDoneWithoutReply = true;
  r[14].pageRule = PageRule::Per128K;

  r[15] = Qk4Pair(WithLimit(ComModel(15), 524288, kSize128K4), true);  // QK48
  r[15].pageRule = PageRule::Per128K;

  r[16] = WithLimit(ComModel(16), 917504, kSize128K7);  // TR7-F
  r[16].pageRule = PageRule::Per128K;
  return r;
}

constexpr std::array<ModelRules, kModelCount> kRules = MakeRules();

constexpr bool EveryBlockFitsTheTransmitBuffer() {
  for (const ModelRules& m : kRules)
    if (m.blockSize == 0 || m.blockSize > kMaxBlockSize) return false;
  return true;
}
static_assert(EveryBlockFitsTheTransmitBuffer());

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool ModelRules::AcceptsAppId(std::uint16_t reported) const {
  if (appIdRule == AppIdRule::TwelveOrThirteen) return reported == 0x000C || reported == 0x000D;
  return reported == id;
}

bool ModelRules::AcceptsBootId(std::uint16_t reported) const {
  if (bootIdRule == BootIdRule::TwelveOrThirteen) return reported == 0x000C || reported == 0x000D;
  return reported == ExpectedBootId();
}

bool ModelRules::RegisterFlagsVariant(std::uint16_t value) const {
  if (modelCheck == ModelCheck::D1386) return value == 0x4138 || value == 0x4137;
  return value != 0;
}

std::uint16_t ModelRules::ExpectedBootId() const {
  return bootIdRule == BootIdRule::TopBitCleared ? static_cast<std::uint16_t>(id & 0x7FFF) : id;
}

std::uint16_t ModelRules::TotalPages(std::uint32_t fileLength) const {
  switch (pageRule) {
    case PageRule::Per128K: return static_cast<std::uint16_t>((fileLength >> 17) + 1);
    case PageRule::Per16K: return static_cast<std::uint16_t>((fileLength >> 14) + 1);
    case PageRule::Per4KAfterTail: {
      const std::uint32_t sent = fileLength - unsentTail;
      return static_cast<std::uint16_t>((sent >> 12) + ((sent & 0xFFF) != 0 ? 1 : 0));
    }
    case PageRule::FixedFour: return 4;
    case PageRule::Per2K: return static_cast<std::uint16_t>((fileLength >> 11) + 1);
  }
  return 0;
}

std::int32_t ModelRules::TotalPackets(std::uint32_t fileLength) const {
  const std::uint32_t sent = fileLength - unsentTail;
  return static_cast<std::int32_t>((sent + blockSize - 1) / blockSize);
}

std::string_view ModelRules::SizeRefusal(std::uint32_t fileLength) const {
  if (fileLength > maxSize) return sizeMessage;
  if (fileLength < minSize) return minSizeMessage;
  if (TotalPackets(fileLength) <= 0) return kMsgNoDataBlock;
  return {};
}

const ModelRules& ModelAt(std::size_t row) {
  return kRules.at(row);
}

std::optional<std::size_t> FindModel(std::string_view name) {
  for (std::size_t i = 0; i < kModelCount; ++i)
    if (name == plcList[i]) return i;
  return std::nullopt;
}

std::optional<std::size_t> FindModelIgnoringCase(std::string_view name) {
  for (std::size_t i = 0; i < kModelCount; ++i)
    if (EqualsIgnoringCase(plcList[i], name)) return i;
  return std::nullopt;
}

std::optional<std::size_t> ModelNamedByImage(std::string_view path) {
  const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  return FindModelIgnoringCase(std::string_view(name).substr(0, name.find('_')));
}

std::uint32_t LargestImageSize() {
  std::uint32_t largest = 0;
  for (const ModelRules& model : kRules) largest = std::max(largest, model.maxSize);
  return largest;
}

std::array<std::string_view, kModelCount> SortedModelNames() {
  std::array<std::string_view, kModelCount> names{};
  for (std::size_t i = 0; i < kModelCount; ++i) names[i] = plcList[i];
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t ModelFromImageName(std::string_view fileName) {
  const std::string_view wanted = fileName.substr(0, fileName.find('_'));
  const auto sorted = SortedModelNames();
  // The list's exact-match search ignores case; the row is then that of the entry it found, so
  // the rules always belong to the model the list shows.
  for (std::string_view entry : sorted)
    if (EqualsIgnoringCase(entry, wanted)) return *FindModel(entry);
  return *FindModel(sorted.front());
}

}  // namespace plcburn
