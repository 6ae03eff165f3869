#include "link/port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"

namespace plcburn {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// A /sys/class/tty look-alike plus a /dev in a temp dir.
class FakeTtyTree {
 public:
  FakeTtyTree() {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-tty-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directories(root_ / "sys");
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "devices" / "port");
  }
  ~FakeTtyTree() { fs::remove_all(root_); }

  void Add(const std::string& name, bool withDevice) {
    fs::create_directories(root_ / "sys" / name);
    if (withDevice)
      fs::create_directory_symlink(root_ / "devices" / "port", root_ / "sys" / name / "device");
  }
  std::string Sys() const { return (root_ / "sys").string(); }
  std::string Dev() const { return (root_ / "dev").string(); }
  fs::path DevPath(const std::string& name) const { return root_ / "dev" / name; }

 private:
  fs::path root_;
};

TEST(PortList, ListsPortsWithARealDeviceInTextOrder) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, bool>> entries;  // name, has a device link
    Names expected;
  } cases[] = {
      {"usb and acm, sorted",
       {{"ttyUSB0", true}, {"ttyACM1", true}, {"ttyACM0", true}},
       {"ttyACM0", "ttyACM1", "ttyUSB0"}},
      {"text order, not number order",
       {{"ttyUSB2", true}, {"ttyUSB10", true}},
       {"ttyUSB10", "ttyUSB2"}},
      {"no device link", {{"tty5", false}, {"ptmx", false}, {"ttyAMA0", true}}, {"ttyAMA0"}},
      {"ttyS that cannot be opened", {{"ttyS0", true}, {"ttyACM0", true}}, {"ttyACM0"}},
      {"name over 9 characters", {{"ttyUSB1234", true}, {"ttyUSB123", true}}, {"ttyUSB123"}},
      {"nothing present", {}, {}},
  };
  for (const auto& c : cases) {
    FakeTtyTree tree;
    for (const auto& [name, withDevice] : c.entries) tree.Add(name, withDevice);
    EXPECT_EQ(EnumComPort(tree.Sys(), tree.Dev()), c.expected) << c.what;
  }
  EXPECT_EQ(EnumComPort("/no/such/sysfs", "/dev"), Names{});
}

TEST(PortList, TtySThatOpensButIsNoUartIsSkipped) {
  test::PtyPair pty;  // a tty that TIOCGSERIAL knows nothing about
  FakeTtyTree tree;
  tree.Add("ttyS1", true);
  tree.Add("ttyUSB0", true);
  fs::create_symlink(pty.SlavePath(), tree.DevPath("ttyS1"));
  EXPECT_EQ(EnumComPort(tree.Sys(), tree.Dev()), Names{"ttyUSB0"});
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
    EXPECT_EQ(PortList(c.usbModel, tree.Sys(), tree.Dev()), c.expected)
        << (c.extra ? c.extra : "(unset)");
  }
  ::unsetenv("PLCBURN_EXTRA_PORTS");
}

}  // namespace
}  // namespace plcburn
