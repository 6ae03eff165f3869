#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "link/evdev_scanner.h"
#include "link/scanner_keys.h"

namespace plcburn {
namespace {

struct Press {
  int code;
  bool down;
};

// What a scanner types, and the lines that come of it.
TEST(ScannerKeys, LinesFromKeyPresses) {
  const auto key = [](int code) { return std::vector<Press>{{code, true}, {code, false}}; };
  const auto shifted = [&](int code) {
    std::vector<Press> p{{KEY_LEFTSHIFT, true}};
    for (const Press& k : key(code)) p.push_back(k);
    p.push_back({KEY_LEFTSHIFT, false});
    return p;
  };
  const auto join = [](std::initializer_list<std::vector<Press>> parts) {
    std::vector<Press> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const struct {
    const char* what;
    std::vector<Press> presses;
    std::vector<std::string> lines;
  } cases[] = {
      {"digits and a dash, then Enter",
       join({key(KEY_4), key(KEY_7), key(KEY_MINUS), key(KEY_0), key(KEY_ENTER)}),
       {"47-0"}},
      {"capitals and signs with shift; the keypad's Enter",
       join({shifted(KEY_A), key(KEY_B), shifted(KEY_3), key(KEY_KP5), key(KEY_KPENTER)}),
       {"Ab#5"}},
      {"keys that type nothing are left out",
       join({key(KEY_LEFTCTRL), key(KEY_1), key(KEY_F1), key(KEY_ENTER)}),
       {"1"}},
      {"two labels, and an Enter alone",
       join({key(KEY_1), key(KEY_ENTER), key(KEY_ENTER)}),
       {"1", ""}},
      {"no Enter, no line", join({key(KEY_1), key(KEY_2)}), {}},
  };
  for (const auto& c : cases) {
    ScannerKeys keys;
    std::vector<std::string> lines;
    for (const Press& p : c.presses)
      if (auto line = keys.Key(p.code, p.down)) lines.push_back(*line);
    EXPECT_EQ(lines, c.lines) << c.what;
  }
}

// A scanner emulated as an input device types a label and Enter: the station's reader gets the
// line, and holds the device for itself.
TEST(EvdevScanner, ReadsWhatAnEmulatedScannerTypes) {
  if (access("/dev/uinput", W_OK) != 0) GTEST_SKIP() << "no /dev/uinput to emulate a scanner";
  libevdev* proto = libevdev_new();
  libevdev_set_name(proto, "plcburn test scanner");
  libevdev_enable_event_type(proto, EV_KEY);
  for (int code : {KEY_4, KEY_7, KEY_1, KEY_MINUS, KEY_ENTER, KEY_LEFTSHIFT, KEY_A})
    libevdev_enable_event_code(proto, EV_KEY, code, nullptr);
  libevdev_uinput* device = nullptr;
  ASSERT_EQ(libevdev_uinput_create_from_device(proto, LIBEVDEV_UINPUT_OPEN_MANAGED, &device), 0);
  const std::string node = libevdev_uinput_get_devnode(device);

  std::mutex mutex;
  std::condition_variable got;
  std::vector<std::string> lines;
  std::string error;
  auto scanner = EvdevScanner::Open(
      node,
      [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
        got.notify_all();
      },
      &error);
  ASSERT_TRUE(scanner) << error;
  // Grabbed: a second reader cannot take it.
  std::string second;
  EXPECT_FALSE(EvdevScanner::Open(
      node, [](const std::string&) {}, &second));
  for (int code : {KEY_4, KEY_7, KEY_1, KEY_1, KEY_MINUS, KEY_ENTER}) {
    libevdev_uinput_write_event(device, EV_KEY, code, 1);
    libevdev_uinput_write_event(device, EV_SYN, SYN_REPORT, 0);
    libevdev_uinput_write_event(device, EV_KEY, code, 0);
    libevdev_uinput_write_event(device, EV_SYN, SYN_REPORT, 0);
  }
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(got.wait_for(lock, std::chrono::seconds(10), [&] { return !lines.empty(); }));
    EXPECT_EQ(lines, std::vector<std::string>{"4711-"});
  }
  scanner.reset();
  libevdev_uinput_destroy(device);
  libevdev_free(proto);
}

}  // namespace
}  // namespace plcburn
