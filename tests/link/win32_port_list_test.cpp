#include <gtest/gtest.h>

#include <cstdlib>

#include "link/port_list.h"

namespace plcburn {
namespace {

TEST(ComPortFromFriendlyName, TakesTheTextAfterTheFirstComUpToTheLastParenthesis) {
  const struct {
    const char* friendly;
    const char* port;  // nullptr: nothing listed
  } cases[] = {
      {"USB Serial Port (COM3)", "COM3"},
      {"Communications Port (COM1)", "COM1"},
      {"USB-to-Serial Comm Port (COM12)", "COM12"},
      {"Bluetooth (link 2) (COM7)", "COM7"},
      {"Two (COM4) (B)", "COM4) (B"},  // the last ")" closes the name
      {"Max (COM123456)", "COM123456"},
      {"Too long (COM1234567)", nullptr},
      {"Printer Port (LPT1)", nullptr},
      {"lower case (com3)", nullptr},
      {"Unclosed (COM5", nullptr},
      {"Reversed ) (COM5", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const auto port = ComPortFromFriendlyName(c.friendly);
    if (c.port == nullptr) {
      EXPECT_FALSE(port.has_value()) << c.friendly << " gave " << port.value_or("");
    } else {
      EXPECT_EQ(port.value_or("(none)"), c.port) << c.friendly;
    }
  }
}

TEST(PortList, UsbModelsListOnlyUsb) {
  EXPECT_EQ(PortList(true), std::vector<std::string>{"USB"});
}

// The Windows job registers a device "USB Serial Port (COM5)" in Wine's registry and names the
// port here; on a machine without that setting there is nothing known to look for.
TEST(EnumComPort, ListsTheRegisteredPort) {
  const char* expected = std::getenv("PLCBURN_EXPECT_COM_PORT");
  if (expected == nullptr) GTEST_SKIP() << "PLCBURN_EXPECT_COM_PORT not set";
  const auto ports = EnumComPort();
  ASSERT_TRUE(ports.has_value());
  EXPECT_NE(std::find(ports->begin(), ports->end(), expected), ports->end());
  const auto listed = PortList(false);
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  }));
}

}  // namespace
}  // namespace plcburn
