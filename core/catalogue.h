#pragma once
// The 17 PLC models and every rule that differs between them. No other file compares model names:
// each asks the row of the selected model.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace plcburn {

inline constexpr std::size_t kModelCount = 17;
inline constexpr std::size_t kModelNameSize = 15;  // bytes per name, zero-terminated
// The largest block a transfer carries: the transmit buffer is sized for it.
inline constexpr std::uint32_t kMaxBlockSize = 256;

inline constexpr char plcList[kModelCount][kModelNameSize] = {
    "TR7-MX7", "QN4",  "QW4",   "QK4",   "TR7-B",     "VL",      "QJ5",  "40MX7-PQN", "QW",
    "TR7-D",   "VL-K", "QK4-K", "ZN500", "TR-MX-QJ4", "MX7-GLT", "QK48", "TR7-F"};
inline constexpr std::uint16_t plcID[kModelCount] = {0x000C, 0x000E, 0x000F, 0x0013, 0x000C, 0x0015,
                                                     0x0000, 0x000D, 0x0008, 0xA001, 0xA002, 0xA003,
                                                     0x3000, 0x0003, 0xA006, 0x0013, 0x0017};

enum class LinkKind { Com, Usb };

// Identifier accepted from the application firmware.
enum class AppIdRule { Exact, TwelveOrThirteen };
// Identifier accepted from the boot loader.
enum class BootIdRule { Exact, TwelveOrThirteen, TopBitCleared };
// Register (or version) read after a passed identifier check.
enum class ModelCheck { None, D1386, D1148, VersionA };
// What the operator and the program do between the application's erase and the boot loader.
enum class ReconnectAction { WaitOnOpenLink, ReplugUsb, PowerCycle };
// How many "ERASE" commands the boot loader gets for an image.
enum class PageRule { Per128K, Per16K, Per4KAfterTail, FixedFour, Per2K };

struct ModelRules {
  std::size_t row;
  std::string_view name;
  std::uint16_t id;
  LinkKind link;

  std::uint32_t maxSize;
  std::string_view sizeMessage;
  // Smallest image the transfer arithmetic can carry (the tail that is never sent).
  std::uint32_t minSize;
  std::string_view minSizeMessage;

  std::uint8_t subByte;  // second sub-byte of the function-0x64 requests (0x59 or 0x5B)
  AppIdRule appIdRule;
  bool eraseDoneWithoutReply;
  ModelCheck modelCheck;
  // For the D1386/D1148 checks: whether this model is the variant that the register flags
  // (TR7-B for D1386 0x4138/0x4137, QK48 for a non-zero D1148), and the text shown when the
  // PLC turns out to be the other variant.
  bool isFlaggedVariant;
  std::string_view variantMismatchMessage;

  ReconnectAction reconnect;
  std::string_view reconnectPrompt;  // empty when the link stays open
  std::uint32_t reconnectWaitMs;

  BootIdRule bootIdRule;
  bool readsBootVersion;
  PageRule pageRule;
  std::uint32_t blockSize;   // image bytes per transfer block
  std::uint32_t unsentTail;  // image bytes at the end that are never sent

  std::string_view successText;
  std::string_view successCaption;

  bool IsUsb() const { return link == LinkKind::Usb; }
  bool AcceptsAppId(std::uint16_t reported) const;
  bool AcceptsBootId(std::uint16_t reported) const;
  std::uint16_t ExpectedBootId() const;
  // Whether the register this model's check reads, holding `value`, marks the flagged variant.
  bool RegisterFlagsVariant(std::uint16_t value) const;
  std::uint16_t TotalPages(std::uint32_t fileLength) const;
  std::int32_t TotalPackets(std::uint32_t fileLength) const;
  std::uint32_t BlockLength() const { return blockSize + 5; }
  // The message that refuses an image of `fileLength` bytes for this model (too large, too
  // small, nothing to send), or empty when its size fits.
  std::string_view SizeRefusal(std::uint32_t fileLength) const;
};

const ModelRules& ModelAt(std::size_t row);
// Exact, case-sensitive match against the catalogue names.
std::optional<std::size_t> FindModel(std::string_view name);
// The model a build serves: the part of the image's file name before its first "_", looked up
// as the window's sorted list would (case-insensitive), else the first name in sorted order.
std::size_t ModelFromImageName(std::string_view fileName);
// The model `name` names, compared without regard to case.
std::optional<std::size_t> FindModelIgnoringCase(std::string_view name);
// The model an image file's name names: its part before the first "_", compared without regard
// to case as the build does. None when that part is no model's name.
std::optional<std::size_t> ModelNamedByImage(std::string_view path);
// The largest image any model takes.
std::uint32_t LargestImageSize();
// Catalogue names in text order, as the sorted model list shows them.
std::array<std::string_view, kModelCount> SortedModelNames();

}  // namespace plcburn
