#include "trust/file_kind.h"

#include <algorithm>
#include <cstddef>

namespace plcburn {

namespace {

bool StartsWith(std::span<const std::uint8_t> file, std::string_view magic) {
  return file.size() >= magic.size() &&
         std::equal(magic.begin(), magic.end(), file.begin(),
                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

bool IsHexDigit(std::uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F') || (b >= 'a' && b <= 'f');
}

// A first line of `lead` then at least `digits` hex digits, ending with a line break.
bool HexRecordLine(std::span<const std::uint8_t> file, std::size_t lead, std::size_t digits) {
  std::size_t i = lead;
  while (i < file.size() && IsHexDigit(file[i])) ++i;
  return i - lead >= digits && i < file.size() && (file[i] == '\n' || file[i] == '\r');
}

bool IntelHex(std::span<const std::uint8_t> file) {
  // ":LLAAAATT" and a checksum: ten digits for a record without data.
  return StartsWith(file, ":") && HexRecordLine(file, 1, 10);
}

bool SRecord(std::span<const std::uint8_t> file) {
  // "Sn", then count, a two-byte address and a checksum: eight digits at least.
  return file.size() > 2 && file[0] == 'S' && file[1] >= '0' && file[1] <= '9' &&
         HexRecordLine(file, 2, 8);
}

bool PeCoff(std::span<const std::uint8_t> file) {
  constexpr std::size_t kNewHeaderAt = 0x3C;
  if (!StartsWith(file, "MZ") || file.size() < kNewHeaderAt + 4) return false;
  std::size_t at = 0;
  for (std::size_t i = 0; i < 4; ++i) at |= std::size_t{file[kNewHeaderAt + i]} << (8 * i);
  return at <= file.size() - 4 && StartsWith(file.subspan(at), std::string_view("PE\0\0", 4));
}

bool Gzip(std::span<const std::uint8_t> file) {
  // Deflate, the one method gzip has; the top three flag bits are reserved.
  return StartsWith(file, "\x1F\x8B\x08") && file.size() > 3 && (file[3] & 0xE0) == 0;
}

bool Text(std::span<const std::uint8_t> file) {
  bool lineBreak = false;
  bool printable = false;
  for (const std::uint8_t b : file) {
    if (b == '\n') {
      lineBreak = true;
    } else if (b >= 0x20 && b < 0x7F) {
      printable = true;
    } else if (b != '\r' && b != '\t') {
      return false;
    }
  }
  return lineBreak && printable;
}

}  // namespace

std::optional<std::string_view> NotARawImage(std::span<const std::uint8_t> file) {
  if (IntelHex(file)) return "an Intel HEX file";
  if (SRecord(file)) return "a Motorola S-record file";
  if (StartsWith(file,
                 "\x7F"
                 "ELF"))
    return "an ELF executable";
  if (PeCoff(file)) return "a PE/COFF executable";
  if (StartsWith(file, "PK\x03\x04") || StartsWith(file, "PK\x05\x06")) return "a zip archive";
  if (Gzip(file)) return "a gzip file";
  if (Text(file)) return "a text file";
  return std::nullopt;
}

}  // namespace plcburn
