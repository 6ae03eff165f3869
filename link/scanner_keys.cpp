#include "link/scanner_keys.h"

#include <linux/input-event-codes.h>

#include <array>
#include <utility>

namespace plcburn {

namespace {

struct KeyChars {
  int code;
  char plain;
  char shifted;
};

constexpr std::array kKeys{
    KeyChars{KEY_1, '1', '!'},           KeyChars{KEY_2, '2', '@'},
    KeyChars{KEY_3, '3', '#'},           KeyChars{KEY_4, '4', '$'},
    KeyChars{KEY_5, '5', '%'},           KeyChars{KEY_6, '6', '^'},
    KeyChars{KEY_7, '7', '&'},           KeyChars{KEY_8, '8', '*'},
    KeyChars{KEY_9, '9', '('},           KeyChars{KEY_0, '0', ')'},
    KeyChars{KEY_MINUS, '-', '_'},       KeyChars{KEY_EQUAL, '=', '+'},
    KeyChars{KEY_Q, 'q', 'Q'},           KeyChars{KEY_W, 'w', 'W'},
    KeyChars{KEY_E, 'e', 'E'},           KeyChars{KEY_R, 'r', 'R'},
    KeyChars{KEY_T, 't', 'T'},           KeyChars{KEY_Y, 'y', 'Y'},
    KeyChars{KEY_U, 'u', 'U'},           KeyChars{KEY_I, 'i', 'I'},
    KeyChars{KEY_O, 'o', 'O'},           KeyChars{KEY_P, 'p', 'P'},
    KeyChars{KEY_LEFTBRACE, '[', '{'},   KeyChars{KEY_RIGHTBRACE, ']', '}'},
    KeyChars{KEY_A, 'a', 'A'},           KeyChars{KEY_S, 's', 'S'},
    KeyChars{KEY_D, 'd', 'D'},           KeyChars{KEY_F, 'f', 'F'},
    KeyChars{KEY_G, 'g', 'G'},           KeyChars{KEY_H, 'h', 'H'},
    KeyChars{KEY_J, 'j', 'J'},           KeyChars{KEY_K, 'k', 'K'},
    KeyChars{KEY_L, 'l', 'L'},           KeyChars{KEY_SEMICOLON, ';', ':'},
    KeyChars{KEY_APOSTROPHE, '\'', '"'}, KeyChars{KEY_GRAVE, '`', '~'},
    KeyChars{KEY_BACKSLASH, '\\', '|'},  KeyChars{KEY_Z, 'z', 'Z'},
    KeyChars{KEY_X, 'x', 'X'},           KeyChars{KEY_C, 'c', 'C'},
    KeyChars{KEY_V, 'v', 'V'},           KeyChars{KEY_B, 'b', 'B'},
    KeyChars{KEY_N, 'n', 'N'},           KeyChars{KEY_M, 'm', 'M'},
    KeyChars{KEY_COMMA, ',', '<'},       KeyChars{KEY_DOT, '.', '>'},
    KeyChars{KEY_SLASH, '/', '?'},       KeyChars{KEY_SPACE, ' ', ' '},
    KeyChars{KEY_KP0, '0', '0'},         KeyChars{KEY_KP1, '1', '1'},
    KeyChars{KEY_KP2, '2', '2'},         KeyChars{KEY_KP3, '3', '3'},
    KeyChars{KEY_KP4, '4', '4'},         KeyChars{KEY_KP5, '5', '5'},
    KeyChars{KEY_KP6, '6', '6'},         KeyChars{KEY_KP7, '7', '7'},
    KeyChars{KEY_KP8, '8', '8'},         KeyChars{KEY_KP9, '9', '9'},
    KeyChars{KEY_KPMINUS, '-', '-'},     KeyChars{KEY_KPDOT, '.', '.'},
};

}  // namespace

char ScannerKeyChar(int code, bool shift) {
  for (const KeyChars& k : kKeys)
    if (k.code == code) return shift ? k.shifted : k.plain;
  return 0;
}

std::optional<std::string> ScannerKeys::Key(int code, bool down) {
  if (code == KEY_LEFTSHIFT || code == KEY_RIGHTSHIFT) {
    shift_ = down;
    return std::nullopt;
  }
  if (!down) return std::nullopt;
  if (code == KEY_ENTER || code == KEY_KPENTER) return std::exchange(line_, {});
  // A line no label has: kept short, so a stuck key cannot grow it without end; the serial's own
  // check refuses it.
  if (const char c = ScannerKeyChar(code, shift_); c != 0 && line_.size() < 256) line_ += c;
  return std::nullopt;
}

}  // namespace plcburn
