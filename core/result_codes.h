#pragma once
// One-byte step results and the messages the burn shows for them.

#include <cstdint>
#include <string_view>

namespace plcburn {

inline constexpr std::uint8_t RC_OK = 0x00;
inline constexpr std::uint8_t RC_APP_MODE = 0x05;
inline constexpr std::uint8_t RC_BOOT_MODE = 0x06;
inline constexpr std::uint8_t RC_FAIL = 0x10;
inline constexpr std::uint8_t RC_FLOW_STATE1 = 0x11;
inline constexpr std::uint8_t RC_FLOW_STATE2 = 0x12;
inline constexpr std::uint8_t RC_FLOW_STATE3 = 0x13;
inline constexpr std::uint8_t RC_FLOW_STATE4 = 0x14;
inline constexpr std::uint8_t RC_FLOW_UNKNOWN = 0x15;
inline constexpr std::uint8_t RC_RUN_MODE = 0x16;
inline constexpr std::uint8_t RC_UNKNOWN_CODE = 0x17;
inline constexpr std::uint8_t RC_NO_RESPONSE = 0x18;

// The application-mode step whose failure is being reported.
enum class AppStep { ConfirmComm, CheckID_A, SendErase_A };

// Text of the error box after an application-mode step failed with `code`.
std::string_view AppStepMessage(AppStep step, std::uint8_t code);

inline constexpr std::string_view kMsgPlcTypeWrong = "PLC type is WRONG";
inline constexpr std::string_view kMsgNoVersion = "PLC DOES NOT respond to the version read";
inline constexpr std::string_view kMsgNoErase = "PLC DOES NOT respond to the erasing signal";
inline constexpr std::string_view kMsgNoUpdate = "PLC DOES NOT respond to the update signal";
inline constexpr std::string_view kMsgFwFailed = "Firmware update is FAILED";
inline constexpr std::string_view kMsgNoBootLoader = "PLC DOES NOT enter the boot loader";
// An image that passes the size checks but leaves the transfer no block: the PLC would be
// erased and the burn would end "SUCCESSFUL" with nothing written.
inline constexpr std::string_view kMsgNoDataBlock =
    "The file holds NO data to send: the PLC would be erased and nothing written";

}  // namespace plcburn
