#include "core/message_help.h"

namespace plcburn {

namespace {

using enum BurnStage;
using enum MessageKind;

// Rows that several texts share.

constexpr std::array<std::string_view, 4> kTooLargeCauses{
    "The image is made for another model (a larger one of the family), or is not a firmware "
    "image at all.",
    "The window burns its built-in image: this build of plcburn serves another model than the "
    "PLC.",
};
constexpr std::array<std::string_view, 5> kWrongImageSteps{
    "Check that the image is the firmware for this PLC's model: plcburn-cli takes the model from "
    "the part of the file's name before its first \"_\" (TR7-B_v12.bin is for a TR7-B).",
    "Burn the right image: plcburn-cli --image FILE, or the plcburn build made for this model "
    "(plcburn-cli --build-model names the model a build serves).",
};
constexpr std::string_view kTooLargeHint =
    "the image is too large for this model: nothing was sent; burn the image made for it";

constexpr std::array<std::string_view, 4> kNoAnswerCauses{
    "The wrong port is chosen.",
    "The cable is loose or broken at either end, or is a charge-only USB cable.",
    "The PLC has no power.",
    "After a re-plug or power-cycle prompt: it was confirmed before the PLC was back (with "
    "--yes, the station did not re-plug or power-cycle it within the pause).",
};

constexpr std::array<std::string_view, 4> kFlowCauses{
    "The PLC's application refused the request (a NAK of error class 2). The State number in "
    "the message is the PLC's own flow state, not where the burn was (the column before).",
    "The PLC is busy with something else: its program runs, or another program (a programming "
    "tool, an HMI) talks to it on another port.",
};
constexpr std::array<std::string_view, 5> kFlowSteps{
    "Switch the PLC to STOP and close any other program that talks to it.",
    "Power-cycle the PLC and burn again.",
    "If the message comes back, write it down with the PLC's model and firmware version and ask "
    "the PLC's maker.",
};
constexpr std::string_view kFlowHint =
    "the PLC refused the request: switch it to STOP, power-cycle it and burn again";

constexpr std::string_view kUnknownClass =
    "The PLC refused the request with an error class this program does not know.";
constexpr std::array<std::string_view, 4> kUnknownCodeCauses{kUnknownClass};
// A refusal for run mode has its own message only after the probe.
constexpr std::array<std::string_view, 4> kUnknownCodeLaterCauses{
    "The PLC was switched to RUN after the probe: it refuses the update in RUN.",
    kUnknownClass,
};
constexpr std::string_view kUnknownCodeHint =
    "the PLC refused the request with an unknown error: switch it to STOP, power-cycle it, burn "
    "again";

constexpr std::array<std::string_view, 4> kUnknownMessageCauses{
    "A step returned a result it never gives: a fault in plcburn, not in the PLC or the line.",
};
constexpr std::array<std::string_view, 5> kUnknownMessageSteps{
    "Burn again.",
    "If it comes back, report it with the output of plcburn-cli --version and the message.",
};
constexpr std::string_view kUnknownMessageHint =
    "an unexpected result inside plcburn: burn again, and report it if it comes back";

constexpr std::array<std::string_view, 5> kVariantSteps{
    "Read the model on the PLC's label and burn the image made for it (or the plcburn build made "
    "for it).",
    "If the label agrees with the image, power-cycle the PLC and burn again: a register read that "
    "gets no answer reads as 0.",
};

constexpr std::array<std::string_view, 5> kHalfWrittenSteps{
    "Check the cable at both ends and the PLC's power; leave out USB hubs and extension cables.",
    "Burn again at once, without switching the PLC off for good: its boot loader answers, and the "
    "burn goes straight to the erase and the transfer.",
    "If it fails again at about the same percent, try another cable or serial adapter (it must "
    "carry 115200 baud).",
};
constexpr std::string_view kHalfWrittenHint =
    "the PLC is left without a complete firmware: burn it again; its boot loader takes a new image";

constexpr std::array<std::string_view, 4> kBootNoAnswerCauses{
    "The line failed in the middle of the burn: a cable pulled or loose, the PLC's power lost, a "
    "USB hub or adapter that dropped out.",
    "The line is too noisy for the boot loader's 115200 baud (a long or unshielded cable).",
};

constexpr MessageHelp TooLarge(std::string_view text) {
  return {text, Error, SizeCheck, kTooLargeCauses, kWrongImageSteps, kTooLargeHint};
}
constexpr MessageHelp FlowError(std::string_view text, StageSet stages) {
  return {text, Error, stages, kFlowCauses, kFlowSteps, kFlowHint};
}
constexpr MessageHelp UnknownCode(std::string_view text, BurnStage stage,
                                  const std::array<std::string_view, 4>& causes) {
  return {text, Error, stage, causes, kFlowSteps, kUnknownCodeHint};
}
constexpr MessageHelp UnknownMessage(std::string_view text, BurnStage stage) {
  return {text, Error, stage, kUnknownMessageCauses, kUnknownMessageSteps, kUnknownMessageHint};
}

constexpr MessageHelp kTable[] = {
    // Before the PLC is reached.
    TooLarge("The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"),
    TooLarge("The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"),
    TooLarge("The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"),
    TooLarge("The file size EXCEEDS the MAXIMUM size (4 * 1024)"),
    TooLarge("The file size EXCEEDS the MAXIMUM size (2028 * 1024)"),
    {"The file size is BELOW the MINIMUM size (4 * 1024)",
     Error,
     SizeCheck,
     {"The image is shorter than the 4 KiB tail that every ZN500 image ends with: it is not a "
      "ZN500 firmware."},
     kWrongImageSteps,
     "the image is too small for a ZN500 firmware: nothing was sent; burn the image made for it"},
    {"The file holds NO data to send: the PLC would be erased and nothing written",
     Error,
     SizeCheck,
     {"The image is empty (0 bytes).",
      "On a ZN500: the image is no longer than the 4 KiB tail that is never sent."},
     kWrongImageSteps,
     "the image holds nothing to write: nothing was sent; burn the image made for this model"},
    {"CANNOT open <port> Port!!!",
     Error,
     Opening | Reconnect,
     {"The port is not there: a wrong name, or the adapter (or, for VL, VL-K and ZN500, the PLC "
      "itself) is unplugged or has no power.",
      "Another program holds the port: a terminal program, another plcburn.",
      "No permission: on Linux, serial ports need the dialout group and the PLC's USB interface "
      "needs the udev rule.",
      "After a re-plug or power-cycle prompt: the PLC was not back yet when the port was opened "
      "again."},
     {"Read the second line under the message when there is one: it names the cause.",
      "List the ports (the window's port list, or plcburn-cli --list-ports) and choose the one the "
      "PLC is on; unplug the adapter to see which one goes away.",
      "Close any other program that uses the port.",
      "On Linux: join the dialout group (sudo usermod -aG dialout $USER, then log in again), or "
      "install the udev rule and re-plug the PLC (see the README).",
      "After a prompt: wait until the PLC is back (its USB device is there again) before "
      "confirming, then burn again."},
     "the port could not be opened: check its name, that nothing else uses it, and your rights"},

    // Talking to the PLC's application.
    {"NO RESPONSE @ State 1",
     Error,
     ModeProbe,
     kNoAnswerCauses,
     {"Check that the chosen port is the one the PLC's cable is on.",
      "Check the cable at both ends and that the PLC is powered.",
      "Power-cycle the PLC and burn again.",
      "If a prompt came before: do what it asks, and confirm only when the PLC is back."},
     "the PLC did not answer: check the cable, the PLC's power and the chosen port"},
    {"NO RESPONSE @ State 2",
     Error,
     IdentifierCheck,
     {"The PLC answered with another model identifier: it is another model than this burn is for.",
      "The line failed after the probe: the cable was pulled or the PLC switched off."},
     {"Compare the model on the PLC's label with the burn's model (the window's model list, or "
      "plcburn-cli --build-model).",
      "Burn the image made for the PLC's model.",
      "Check the cable and the PLC's power, and burn again."},
     "the PLC gave no valid model answer: is it the model of this image? check the cable too"},
    {"NO RESPONSE @ State 3",
     Error,
     EraseCommand,
     {"The line failed during the erase command: the cable was pulled or the PLC switched off.",
      "The PLC's application did not take the erase command."},
     {"Check the cable and the PLC's power.",
      "Power-cycle the PLC and burn again: if it has already left its application, the burn "
      "finds its boot loader and goes on from there."},
     "the PLC did not confirm the erase command: check the cable and power, then burn again"},
    FlowError("FLOW ERROR @ State 1", ModeProbe),
    FlowError("FLOW ERROR @ State 2", ModeProbe | IdentifierCheck),
    FlowError("FLOW ERROR @ State 3", IdentifierCheck | EraseCommand),
    FlowError("FLOW ERROR @ State 4", EraseCommand),
    FlowError("FLOW ERROR @ unknown state", ModeProbe | IdentifierCheck | EraseCommand),
    {"PLC in RUN MODE",
     Error,
     ModeProbe,
     {"The PLC's program is running: the PLC refuses to be updated in RUN."},
     {"Switch the PLC to STOP (its RUN/STOP switch, or the programming tool).", "Burn again."},
     "the PLC is running its program: switch it to STOP and burn again"},
    UnknownCode("UNKNOWN ERROR CODE @ State 1", ModeProbe, kUnknownCodeCauses),
    UnknownCode("UNKNOWN ERROR CODE @ State 2", IdentifierCheck, kUnknownCodeLaterCauses),
    UnknownCode("UNKNOWN ERROR CODE @ State 3", EraseCommand, kUnknownCodeLaterCauses),
    UnknownMessage("UNKNOWN MESSAGE", ModeProbe),
    UnknownMessage("UNKNOWN MESSAGE @ State 2", IdentifierCheck),
    UnknownMessage("UNKNOWN MESSAGE @ State 3", EraseCommand),
    {"Check PLC, TR7-MX7 is different than TR7-B",
     Error,
     ModelCheck,
     {"The PLC is the other model of the pair: a TR7-B when the image is for a TR7-MX7, or the "
      "other way round (register D1386 tells them apart).",
      "The register read got no answer, which reads as a TR7-MX7."},
     kVariantSteps,
     "the PLC is the other one of TR7-MX7 and TR7-B: nothing was erased; burn its own image"},
    {"Check PLC, 16QK4 is different than 48QK4",
     Error,
     ModelCheck,
     {"The image is for a QK4 (16QK4), but the PLC is a 48QK4, the model QK48 (register D1148 is "
      "not 0)."},
     kVariantSteps,
     "the PLC is a 48QK4 (model QK48), not a QK4: nothing was erased; burn the QK48 image"},
    {"Check PLC, 48QK4 is different than 16QK4",
     Error,
     ModelCheck,
     {"The image is for a QK48 (48QK4), but the PLC is a 16QK4, the model QK4 (register D1148 "
      "is 0).",
      "The register read got no answer, which reads as 0."},
     kVariantSteps,
     "the PLC is a 16QK4 (model QK4), not a QK48: nothing was erased; burn the QK4 image"},

    // Between the two phases.
    {"Please REPLUG the USB Cable, and then press OK to continue",
     Prompt,
     Reconnect,
     {"The PLC's application has given way; its boot loader starts when the USB cable is plugged "
      "in again (VL, VL-K, ZN500)."},
     {"Unplug the PLC's USB cable.", "Plug it in again.",
      "Press OK (plcburn-cli: Enter). The burn waits 2 s (ZN500: 5 s) and opens the PLC's USB "
      "interface again."},
     {}},
    {"Please POWER OFF=>ON the PLC, and then press OK to continue",
     Prompt,
     Reconnect,
     {"The PLC's application has given way; its boot loader starts when the PLC is switched on "
      "again (TR7-B, MX7-GLT)."},
     {"Switch the PLC off.", "Switch it on again.",
      "Press OK (plcburn-cli: Enter). The burn waits 2 s and opens the port again."},
     {}},
    {"PLC DOES NOT enter the boot loader",
     Error,
     Reconnect,
     {"The PLC still runs its application after five erase commands, each followed by the "
      "reconnect.",
      "The prompt's re-plug or power cycle was not done (with --yes: the station did not do it).",
      "The PLC's application does not hand over to its boot loader."},
     {"Burn again, and re-plug or power-cycle the PLC when asked, before confirming.",
      "Power-cycle the PLC and burn again.",
      "If it keeps running its application, ask the PLC's maker: its application may not support "
      "the update."},
     "the PLC kept running its application: re-plug or power-cycle it when asked, burn again"},

    // Talking to the boot loader.
    {"PLC type is WRONG",
     Error,
     BootIdentifier,
     {"The boot loader reports another model: the PLC is another model than this burn is for.",
      "The boot loader did not answer its \"ID\": the line failed after the probe (cable, "
      "power)."},
     {"Compare the model on the PLC's label with the burn's model, and burn the image made for it.",
      "Check the port, the cable and the PLC's power, and burn again."},
     "the boot loader did not report this model: check the PLC's model, the cable and the port"},
    {"PLC DOES NOT respond to the version read",
     Error,
     BootVersion,
     kBootNoAnswerCauses,
     {"Check the cable and the PLC's power.",
      "Burn again: the boot loader has erased nothing yet, and the next burn finds it and goes on "
      "from there."},
     "the ZN500's boot loader did not give its version: check the cable and power, burn again"},
    {"PLC DOES NOT respond to the erasing signal", Error, BootErase, kBootNoAnswerCauses,
     kHalfWrittenSteps, kHalfWrittenHint},
    {"PLC DOES NOT respond to the update signal", Error, BootUpdate, kBootNoAnswerCauses,
     kHalfWrittenSteps, kHalfWrittenHint},
    {"Firmware update is FAILED",
     Error,
     Transfer,
     {"The line failed mid-transfer: a cable pulled or loose, the PLC's power lost, a USB hub or "
      "adapter that dropped out.",
      "A block was refused six times in a row: a noisy line at 115200 baud, or an adapter that "
      "cannot carry it."},
     kHalfWrittenSteps,
     kHalfWrittenHint},

    // The end of a burn.
    {"Firmware update is SUCCESSFUL!, please REPLUG the USB cable",
     Success,
     Finished,
     {"The PLC (VL, VL-K, ZN500) holds the new firmware."},
     {"Press OK (plcburn-cli prints the line and ends with status 0).",
      "Re-plug the USB cable: the PLC starts the new firmware."},
     {}},
    {"Firmware update is SUCCESSFUL",
     Success,
     Finished,
     {"The PLC holds the new firmware."},
     {"Press OK (plcburn-cli prints the line and ends with status 0).",
      "If the PLC does not start the new firmware by itself, power-cycle it."},
     {}},
    {"Firmware update is STOPPED: the PLC must be burned again",
     Error,
     Stopped,
     {"The burn was told to stop before its end.",
      "Stopped in the boot loader's erase or transfer, the PLC has no complete firmware and no "
      "longer runs its application."},
     {"Burn again: the boot loader takes a new image, and the burn finds it and goes straight to "
      "the erase and the transfer.",
      "Stopped before State 3, the PLC is unchanged and a new burn starts from the beginning."},
     "the PLC may be left without a complete firmware: burn it again; its boot loader takes one"},
    {"A firmware update is running. Stop it and quit?\n\n"
     "The PLC is left where the update stops and must be burned again.",
     Question,
     Closing,
     {"The window was asked to close (its close button, Alt+F4) during a burn."},
     {"No (the default) keeps the burn running.",
      "Yes stops the burn and closes the window; burn the PLC again afterwards."},
     {}},
};

constexpr OpenFailureReasonHelp kReasons[] = {
    {"No permission to open <port>: add your user to the 'dialout' group (sudo usermod -aG "
     "dialout $USER) and log in again",
     "Linux, serial port"},
    {"<port> is in use by another program: close it there and try again",
     "Linux and Windows, serial port"},
    {"<port> is not a serial port", "Linux"},
    {"<port>: no such device: check the port name and that the adapter is plugged in", "Linux"},
    {"<port> is the terminal this program runs in: name the port the PLC is connected to",
     "Linux, plcburn-cli"},
    {"No permission to open the PLC's USB device: install the udev rules file 60-plcburn.rules "
     "(see README) and re-plug the PLC",
     "Linux, USB models"},
};

}  // namespace

StageHelp HelpFor(BurnStage stage) {
  switch (stage) {
    case SizeCheck:
      return {"Checking the image's size against the model's limits, before any port is opened.",
              "Before State 1: no port is open, nothing has been sent, the PLC is unchanged."};
    case Opening:
      return {"Opening the chosen port: a COM or serial port, or the PLC's USB interface.",
              "Before State 1: nothing has been sent, the PLC is unchanged."};
    case ModeProbe:
      return {
          "Asking the PLC which firmware runs: its application (Modbus ASCII, 9600 baud 7E1) or "
          "its boot loader.",
          "State 1, the mode probe. The panel shows Idle."};
    case IdentifierCheck:
      return {"Asking the PLC's application for its model identifier.",
              "State 2, the identifier check. The panel shows Idle."};
    case ModelCheck:
      return {
          "Reading a register of the PLC to tell apart two models that share an identifier: D1386 "
          "for TR7-MX7 and TR7-B, D1148 for QK4 (16QK4) and QK48 (48QK4).",
          "Between State 2 and State 3: nothing has been erased, the PLC runs as before."};
    case EraseCommand:
      return {"Telling the PLC's application to erase itself and hand over to its boot loader.",
              "State 3, the erase command. The panel shows Idle."};
    case Reconnect:
      return {
          "Handing the PLC over to its boot loader: the operator re-plugs the USB cable or "
          "power-cycles the PLC (the other COM models get a pause of 1 s), then the port is opened "
          "again and the PLC asked again which firmware runs.",
          "Between State 3 and the boot loader: the PLC has been told to leave its application."};
    case BootIdentifier:
      return {"Asking the boot loader for its model identifier (\"ID\").",
              "Boot loader, first command. The panel shows Idle."};
    case BootVersion:
      return {"Asking the ZN500's boot loader for its version (\"VERSION\").",
              "Boot loader, before the erase. The panel shows Idle."};
    case BootErase:
      return {"Erasing the PLC's flash page by page (\"ERASE\"), then EOT.",
              "Boot loader, erase. The panel shows Erasing and its percent."};
    case BootUpdate:
      return {"Starting the update (\"UPDATE\"), after which the line runs at 115200 baud 8N1.",
              "Boot loader, after the erase. The panel shows Erasing at 100 %."};
    case Transfer:
      return {"Sending the image in numbered blocks, each with a CRC-16, then EOT.",
              "Boot loader, transfer. The panel shows Programming and its percent."};
    case Finished:
      return {"Nothing more: the PLC has taken every block and EOT.",
              "The end. The panel keeps its last values until the message is closed."};
    case Stopped:
      return {
          "Whatever it was doing when it was told to stop: Ctrl+C, SIGINT, SIGTERM or SIGHUP, a "
          "closed console, or end of input at a prompt (plcburn-cli).",
          "Any State: the panel's last phase and percent tell how far the burn got."};
    case Closing:
      return {"Running a burn while the window is asked to close.",
              "Any State: the panel shows how far the burn got."};
  }
  return {};
}

std::span<const MessageHelp> MessageHelpTable() {
  return kTable;
}

bool MatchesPattern(std::string_view pattern, std::string_view shown) {
  const std::size_t at = pattern.find(kPortPlaceholder);
  if (at == std::string_view::npos) return pattern == shown;
  const std::string_view before = pattern.substr(0, at);
  const std::string_view after = pattern.substr(at + kPortPlaceholder.size());
  return shown.size() > before.size() + after.size() && shown.starts_with(before) &&
         shown.ends_with(after);
}

const MessageHelp* FindMessageHelp(std::string_view shown) {
  // A message with a placeholder is one line; a second line is the open failure's reason.
  const std::string_view first = shown.substr(0, shown.find('\n'));
  for (const MessageHelp& row : kTable) {
    const bool onePattern = row.text.find(kPortPlaceholder) != std::string_view::npos;
    if (MatchesPattern(row.text, onePattern ? first : shown)) return &row;
  }
  return nullptr;
}

std::string_view HintFor(std::string_view shown) {
  const MessageHelp* row = FindMessageHelp(shown);
  return row == nullptr ? std::string_view() : row->hint;
}

std::span<const OpenFailureReasonHelp> OpenFailureReasons() {
  return kReasons;
}

bool IsDocumentedOpenFailureReason(std::string_view reason) {
  for (const OpenFailureReasonHelp& r : kReasons)
    if (MatchesPattern(r.text, reason)) return true;
  return false;
}

}  // namespace plcburn
