#include "link/port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace plcburn {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// A /sys/class/tty look-alike in a temp dir.
class FakeTtyTree {
 public:
  FakeTtyTree() {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-tty-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directories(root_ / "sys");
    fs::create_directories(root_ / "devices" / "bound" / "driver");
    fs::create_directories(root_ / "devices" / "unbound");
  }
  ~FakeTtyTree() { fs::remove_all(root_); }

  // `type`: the serial core's UART type entry, if the port has one.
  void Add(const std::string& name, bool withDevice, std::optional<int> type = std::nullopt,
           bool driverBound = true) {
    const fs::path dir = root_ / "sys" / name;
    fs::create_directories(dir);
    if (withDevice)
      fs::create_directory_symlink(root_ / "devices" / (driverBound ? "bound" : "unbound"),
                                   dir / "device");
    if (type) std::ofstream(dir / "type") << *type << "\n";
  }
  std::string Sys() const { return (root_ / "sys").string(); }

 private:
  fs::path root_;
};

TEST(PortList, ListsPortsWithARealDeviceInTextOrder) {
  struct Entry {
    std::string name;
    bool withDevice;
    std::optional<int> type;
    bool driverBound = true;
  };
  const struct {
    const char* what;
    std::vector<Entry> entries;
    Names expected;
  } cases[] = {
      {"usb and acm, sorted",
       {{"ttyUSB0", true, {}}, {"ttyACM1", true, {}}, {"ttyACM0", true, {}}},
       {"ttyACM0", "ttyACM1", "ttyUSB0"}},
      {"text order, not number order",
       {{"ttyUSB2", true, {}}, {"ttyUSB10", true, {}}},
       {"ttyUSB10", "ttyUSB2"}},
      {"no device link",
       {{"tty5", false, {}}, {"ptmx", false, {}}, {"ttyAMA0", true, {}}},
       {"ttyAMA0"}},
      {"ttyS with a UART type, ttyS registered without one",
       {{"ttyS0", true, 4}, {"ttyS1", true, 0}, {"ttyS2", true, 0}},
       {"ttyS0"}},
      {"ttyS without a type entry: its device's driver decides",
       {{"ttyS3", true, {}, true}, {"ttyS4", true, {}, false}},
       {"ttyS3"}},
      {"name over 9 characters",
       {{"ttyUSB1234", true, {}}, {"ttyUSB123", true, {}}},
       {"ttyUSB123"}},
      {"nothing present", {}, {}},
  };
  for (const auto& c : cases) {
    FakeTtyTree tree;
    for (const Entry& e : c.entries) tree.Add(e.name, e.withDevice, e.type, e.driverBound);
    EXPECT_EQ(EnumComPort(tree.Sys()), c.expected) << c.what;
  }
  EXPECT_EQ(EnumComPort("/no/such/sysfs"), Names{});
}

TEST(PortList, ExtraPortsFollowInTheOrderGiven) {
  FakeTtyTree tree;
  tree.Add("ttyUSB0", true);
  const struct {
    bool usbModel;
    const char* extra;  // nullptr: variable not set
    Names expected;
  } cases[] = {
      {true, nullptr, {"USB"}},
      {false, nullptr, {"ttyUSB0"}},
      {false, "", {"ttyUSB0"}},
      {true, "/dev/pts/7", {"USB", "/dev/pts/7"}},
      {false, "/tmp/plc-sim-port:/dev/pts/3", {"ttyUSB0", "/tmp/plc-sim-port", "/dev/pts/3"}},
      {false, "::/dev/pts/9::/dev/pts/1:", {"ttyUSB0", "/dev/pts/9", "/dev/pts/1"}},
  };
  for (const auto& c : cases) {
    if (c.extra) {
      ::setenv("PLCBURN_EXTRA_PORTS", c.extra, 1);
    } else {
      ::unsetenv("PLCBURN_EXTRA_PORTS");
    }
    EXPECT_EQ(PortList(c.usbModel, tree.Sys()), c.expected) << (c.extra ? c.extra : "(unset)");
  }
  ::unsetenv("PLCBURN_EXTRA_PORTS");
}

}  // namespace
}  // namespace plcburn
