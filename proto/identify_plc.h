#pragma once
// What is on a link, asked read-only with the frames a burn uses: which firmware answers, the
// identifier it reports, the models that identifier means, its versions and the registers that
// tell two models apart. Nothing that erases, updates or changes the PLC is ever sent.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"

namespace plcburn {

enum class Firmware { None, Application, BootLoader };

// The most bytes of a non-answer that are kept to be shown.
inline constexpr std::size_t kMaxRawBytes = 32;

struct PlcIdentity {
  Firmware firmware = Firmware::None;
  bool runMode = false;        // the application refused the probe: it runs its program
  std::uint8_t probeCode = 0;  // the mode probe's step result
  std::optional<std::uint16_t> identifier;
  std::vector<std::size_t> candidates;  // catalogue rows the answers leave, in catalogue order
  std::optional<std::uint8_t> updateVersion;  // the application's
  std::optional<std::uint16_t> bootVersion;   // the boot loader's two version bytes
  std::optional<std::uint16_t> d1386;
  std::optional<std::uint16_t> d1148;
  std::vector<std::uint8_t> received;  // the first bytes that came back, at most kMaxRawBytes
  std::string problem;                 // empty when the PLC answered every question

  // A firmware answered every question that tells the model.
  bool Answered() const {
    return firmware != Firmware::None && identifier.has_value() && problem.empty();
  }
};

// Identifies the PLC on an open link: `usb` for the PLC's USB interface, else a serial line.
PlcIdentity IdentifyPlc(Link& link, bool usb);

// Opens `port` (the USB interface where its name says so), identifies the PLC and closes the
// port again.
PlcIdentity IdentifyPort(LinkOpener& opener, const std::string& port);

// "application", "boot loader" or "nothing".
std::string FirmwareName(Firmware firmware);
// "TR7-MX7", "TR7-MX7 or TR7-B", or "unknown".
std::string CandidateNames(const std::vector<std::size_t>& rows);
// Upper-case hex pairs separated by spaces.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace plcburn
