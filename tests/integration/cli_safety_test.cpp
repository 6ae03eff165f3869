// plcburn-cli run as a separate program against a simulated PLC on a pseudo-terminal: what it
// refuses before the PLC sees a byte, how it ends when it is told to stop, and that a reader
// going away does not end a burn.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/common/station_options.h"
#include "core/catalogue.h"
#include "core/stopped_burn.h"
#include "res/builtin_image.h"
#include "sim/plc_sim.h"
#include "tests/support/cli_run.h"
#include "tests/support/plc_on_pty.h"
#include "tests/support/pty_pair.h"

namespace plcburn {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::Input;
using test::PlcOnPty;
using test::WaitUntil;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Image files of every kind the operator might name, in a folder of their own.
class ImageFolder {
 public:
  // Images of these sizes, by name, and nothing else.
  explicit ImageFolder(const std::vector<std::pair<std::string, std::size_t>>& images) {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-cli-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    for (const auto& [name, size] : images) Write(name, size);
  }
  ImageFolder() {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-cli-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    Write("VL_empty.bin", 0);
    Write("ZN500_tail_only.bin", 4096);
    Write("VL_v1_good.bin", 20000);
    Write("QN4_v1_good.bin", 20000);
    Write("TR7-B_v12_20170101.bin", 20000);
    Write("firmware.bin", 20000);
    fs::create_directory(root_ / "VL_folder.bin");
    ::mkfifo((root_ / "VL_fifo.bin").c_str(), 0600);
    Sign();
  }
  ~ImageFolder() { fs::remove_all(root_); }

  std::string Path(const std::string& name = "") const { return (root_ / name).string(); }
  std::vector<std::uint8_t> Bytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // The trusted comment of every image signed here.
  static constexpr const char* kComment = "VL v2 for line 4";

 private:
  // Images signed with the real minisign by key A, which the rows trust, or by B, which they do
  // not, some spoilt after signing; other kinds of file under an image's name.
  void Sign() {
    auto minisign = [&](const std::string& args) {
      const std::string command = "cd '" + root_.string() + "' && minisign " + args + " >/dev/null";
      if (std::system(command.c_str()) != 0) throw std::runtime_error("minisign " + args);
    };
    minisign("-G -W -p A.pub -s A.key");
    minisign("-G -W -p B.pub -s B.key");
    for (const char* name : {"VL_signed.bin", "VL_changed.bin", "VL_sig_flipped.bin",
                             "VL_comment_altered.bin", "VL_legacy.bin", "VL_other_key.bin"}) {
      Write(name, 20000);
      const std::string key = name == std::string("VL_other_key.bin") ? "B" : "A";
      const std::string legacy = name == std::string("VL_legacy.bin") ? " -l" : "";
      minisign("-S" + legacy + " -s " + key + ".key -m " + name + " -t '" + kComment + "'");
    }
    // A byte of the image, a character of the signature past the key id, of the trusted comment.
    Spoil("VL_changed.bin", "", 100);
    Spoil("VL_sig_flipped.bin.minisig", "\n", 40);
    Spoil("VL_comment_altered.bin.minisig", "\ntrusted comment: ", 0);
    std::ofstream(root_ / "VL_hex.bin") << ":10010000214601360121470136007EFE09D2190140\n";
    std::ofstream(root_ / "VL_zip.bin") << std::string("PK\x03\x04\x14\0\0\0\x08\0", 10);
    fs::create_directory(root_ / "folder.pub");
  }
  // The character `skip` on from the end of the first `after` in the file, turned to another.
  void Spoil(const std::string& name, const std::string& after, std::size_t skip) {
    const std::vector<std::uint8_t> bytes = Bytes(name);
    std::string text(bytes.begin(), bytes.end());
    const std::size_t at = text.find(after) + after.size() + skip;
    text[at] = text[at] == 'A' ? 'B' : 'A';
    std::ofstream(root_ / name, std::ios::binary) << text;
  }

  void Write(const std::string& name, std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::ofstream out(root_ / name, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(random()));
  }
  fs::path root_;
};

// The words of `args`; {port} stands for the simulated PLC's port, {NAME} for the image NAME.
std::vector<std::string> Expand(const std::string& args, const ImageFolder& images,
                                const std::string& port) {
  std::vector<std::string> out;
  std::istringstream words(args);
  for (std::string a; words >> a;) {
    if (a == "{port}") {
      out.push_back(port);
    } else if (a.front() == '{' && a.back() == '}') {
      out.push_back(images.Path(a.substr(1, a.size() - 2)));
    } else {
      out.push_back(a);
    }
  }
  return out;
}

TEST(CliSafety, BadInputIsRefusedBeforeThePlcSeesAByte) {
  const struct {
    const char* what;
    const char* args;
    int exitStatus;
    const char* output;     // the line on stdout (status 1) or stderr (status 2)
    const char* hint = "";  // the hint under an error line, on stderr
    Input input = Input::DevNull;
    bool portIsOwnTerminal = false;
  } cases[] = {
      {"empty image", "--image {VL_empty.bin} --port {port} --yes", 1,
       "ERROR: The file holds NO data to send"},
      {"ZN500 image of its never-sent tail only",
       "--image {ZN500_tail_only.bin} --port {port} --yes", 1,
       "ERROR: The file holds NO data to send"},
      {"image is a folder", "--image {VL_folder.bin} --port {port} --yes", 2, "not a regular file"},
      {"image is an endless device", "--model VL --image /dev/zero --port {port} --yes", 2,
       "not a regular file"},
      {"image is a FIFO nobody writes", "--image {VL_fifo.bin} --port {port} --yes", 2,
       "not a regular file"},
      {"image named for another model",
       "--model QW --image {TR7-B_v12_20170101.bin} --port {port} --yes", 2,
       "named for the TR7-B, not the QW"},
      {"image that names no model, no --model", "--image {firmware.bin} --port {port} --yes", 2,
       "give --model"},
      {"prompt, standard input at its end", "--image {VL_v1_good.bin} --port {port}", 2,
       "give --yes"},
      {"prompt, standard input a pipe", "--image {VL_v1_good.bin} --port {port}", 2, "give --yes",
       "", Input::ClosedPipe},
      {"an option as a value", "--image {VL_v1_good.bin} --port --yes {port}", 2,
       "--port needs a port, not --yes"},
      {"--model twice", "--model VL --model VL --image {VL_v1_good.bin} --port {port}", 2,
       "--model given twice"},
      {"--image twice", "--image {VL_v1_good.bin} --image {VL_v1_good.bin} --port {port}", 2,
       "--image given twice"},
      {"serial port name for a USB model: that port, not the USB lookup",
       "--image {VL_v1_good.bin} --port ttyplcburn-absent --yes", 1,
       "ERROR: CANNOT open ttyplcburn-absent Port!!!", "no such device"},
      {"the program's own terminal by its path", "--image {QN4_v1_good.bin} --port {port}", 1,
       "ERROR: CANNOT open /dev/pts/", "terminal this program runs in", Input::DevNull, true},
      {"the program's own terminal as tty", "--image {QN4_v1_good.bin} --port tty", 1,
       "ERROR: CANNOT open tty Port!!!", "terminal this program runs in", Input::DevNull, true},
      {"signed image changed after signing",
       "--image {VL_changed.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "the file or its signature was changed"},
      {"one byte of the signature flipped",
       "--image {VL_sig_flipped.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "the file or its signature was changed"},
      {"trusted comment altered",
       "--image {VL_comment_altered.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "VL_comment_altered.bin.minisig was altered"},
      {"signed by a key not trusted",
       "--image {VL_other_key.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "which is not a trusted key"},
      {"no signature under a policy",
       "--image {VL_v1_good.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "VL_v1_good.bin is not signed: no"},
      {"a trusted key that is a folder",
       "--image {VL_signed.bin} --trusted-key {folder.pub} --port {port} --yes", 2,
       "folder.pub is not a regular file"},
      {"Intel HEX under an image's name, no policy", "--image {VL_hex.bin} --port {port} --yes", 2,
       "looks like an Intel HEX file"},
      {"a zip, signed or not", "--image {VL_zip.bin} --trusted-key {A.pub} --port {port} --yes", 2,
       "looks like a zip archive"},
      {"a records database URL libpq cannot read",
       "--image {VL_v1_good.bin} --port {port} --yes --records-db "
       "postgresql://db/burns?colour=blue",
       2, "--records-db: invalid URI query parameter: \"colour\""},
      {"a records database connection string libpq cannot read",
       "--image {VL_v1_good.bin} --port {port} --yes --records-db colour=blue", 2,
       "--records-db: invalid connection option \"colour\""},
  };
  const ImageFolder images;
  for (const auto& c : cases) {
    PlcOnPty plc("VL", true);
    CliRun cli({.args = Expand(c.args, images, plc.Path()),
                .input = c.input,
                .controllingTerminal = c.portIsOwnTerminal ? plc.Path() : ""});
    ASSERT_TRUE(cli.WaitExit(milliseconds(10000))) << c.what << ": still running";
    EXPECT_EQ(cli.ExitStatus(), c.exitStatus) << c.what << "\n" << cli.Out() << cli.Err();
    const std::string shown = c.exitStatus == 1 ? cli.Out() : cli.Err();
    EXPECT_NE(shown.find(c.output), std::string::npos) << c.what << ": " << shown;
    EXPECT_NE(cli.Err().find(c.hint), std::string::npos) << c.what << ": " << cli.Err();
    EXPECT_EQ(Count(cli.Out(), "\n"), c.exitStatus == 1 ? 1u : 0u) << c.what << ": " << cli.Out();
    EXPECT_TRUE(plc.Received().empty()) << c.what << ": the PLC got bytes";
  }
}

// A valid signature is burned as checked, and the record names the key; --verify-image says the
// same, for a legacy signature too, without a port.
TEST(CliSafety, SignedImagesAreBurnedAsCheckedAndOnRecord) {
  const ImageFolder images;
  const std::vector<std::uint8_t> pubBytes = images.Bytes("A.pub");
  const std::string pub(pubBytes.begin(), pubBytes.end());
  const std::size_t idAt = pub.find("public key ") + 11;
  const std::string keyId = pub.substr(idAt, pub.find('\n') - idAt);
  PlcOnPty plc("VL", true);
  CliRun burn({.args = Expand("--image {VL_signed.bin} --trusted-key {A.pub} --port {port} --yes "
                              "--json --no-log",
                              images, plc.Path())});
  ASSERT_TRUE(burn.WaitExit(milliseconds(30000)));
  EXPECT_EQ(burn.ExitStatus(), 0) << burn.Out() << burn.Err();
  const std::vector<std::uint8_t> sent = images.Bytes("VL_signed.bin"), got = plc.Image();
  ASSERT_GE(got.size(), sent.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got.begin()));
  EXPECT_NE(burn.Out().find(R"("signature":{"key_id":")" + keyId + R"(","trusted_comment":")" +
                            ImageFolder::kComment + R"("})"),
            std::string::npos)
      << burn.Out();

  const struct {
    const char* args;
    int exitStatus;
    std::string output;  // on stdout when accepted, on stderr when refused
  } verify[] = {
      {"--verify-image {VL_legacy.bin} --trusted-key {A.pub}", 0, "key id           " + keyId},
      {"--verify-image {VL_changed.bin} --trusted-key {A.pub}", 1, "was changed after signing"},
      {"--verify-image {VL_hex.bin}", 1, "looks like an Intel HEX file"},
      {"--verify-image {VL_changed.bin}", 0, "not needed: no trusted key is installed"},
  };
  for (const auto& v : verify) {
    CliRun cli({.args = Expand(v.args, images, "")});
    ASSERT_TRUE(cli.WaitExit(milliseconds(10000))) << v.args;
    EXPECT_EQ(cli.ExitStatus(), v.exitStatus) << v.args << cli.Out() << cli.Err();
    const std::string shown = v.exitStatus == 0 ? cli.Out() : cli.Err();
    EXPECT_NE(shown.find(v.output), std::string::npos) << v.args << ": " << shown;
    EXPECT_EQ(Count(cli.Err(), "\n"), v.exitStatus == 0 ? 0u : 1u) << v.args << cli.Err();
  }
}

bool InTransfer(const PlcSim& sim) {
  return sim.Counters().blocksAccepted >= 8;
}
bool InErase(const PlcSim& sim) {
  return sim.Counters().bootErases >= 1;
}

// Told to stop, a burn ends within a second with one line saying the PLC must be burned again,
// and every port is given back as it was found.
TEST(CliSafety, SignalsStopEveryBurnWithOneMessage) {
  const struct {
    const char* what;
    int signal;
    std::vector<std::string> models;  // one simulated PLC, with its own port, for each
    bool bootLoader;
    PlcOnPty::HoldWhen holdWhen;  // none: stopped in the pause after the re-plug prompt
  } cases[] = {
      {"SIGINT during the transfer", SIGINT, {"VL"}, true, InTransfer},
      {"SIGTERM during the erase", SIGTERM, {"QN4"}, true, InErase},
      {"SIGHUP in the pause after the re-plug prompt", SIGHUP, {"VL"}, false, {}},
      {"SIGINT during a gang burn", SIGINT, {"VL", "VL"}, true, InTransfer},
  };
  const ImageFolder images;
  for (const auto& c : cases) {
    std::vector<std::unique_ptr<PlcOnPty>> plcs;
    CliRun::Setup setup;
    for (const std::string& model : c.models) {
      plcs.push_back(std::make_unique<PlcOnPty>(model, c.bootLoader, c.holdWhen));
      setup.args.insert(setup.args.end(), {"--port", plcs.back()->Path()});
    }
    setup.args.insert(setup.args.end(),
                      {"--image", images.Path(c.models[0] + "_v1_good.bin"), "--yes"});
    CliRun cli(setup);
    if (c.holdWhen) {
      for (auto& plc : plcs) ASSERT_TRUE(plc->WaitHeld()) << c.what << cli.Out() << cli.Err();
    } else {
      ASSERT_TRUE(cli.WaitForOut("Please REPLUG")) << c.what << cli.Out() << cli.Err();
      // The link is closed for the re-plug: that close too gives the port back.
      plcs[0]->ExpectGivenBack(std::string(c.what) + ", reconnect close");
    }

    const auto signalled = Clock::now();
    cli.Signal(c.signal);
    ASSERT_TRUE(cli.WaitExit(milliseconds(5000))) << c.what;
    EXPECT_LT(Clock::now() - signalled, milliseconds(1000)) << c.what;
    EXPECT_EQ(cli.ExitStatus(), 128 + c.signal) << c.what;
    EXPECT_EQ(Count(cli.Out(), "ERROR: " + std::string(kMsgBurnStopped) + "\n"), plcs.size())
        << c.what << ": " << cli.Out();
    EXPECT_EQ(Count(cli.Out(), "ERROR:"), plcs.size()) << c.what << ": " << cli.Out();
    for (auto& plc : plcs) plc->ExpectGivenBack(c.what);
  }
}

// The burn's outcome is what counts: a reader that went away must not end it.
TEST(CliSafety, ABurnCompletesWhenNobodyReadsItsOutput) {
  const ImageFolder images;
  PlcOnPty plc("VL", true);
  CliRun cli({.args = {"--image", images.Path("VL_v1_good.bin"), "--port", plc.Path(), "--yes"},
              .readerGoesAway = true});
  ASSERT_TRUE(cli.WaitExit(milliseconds(30000)));
  EXPECT_EQ(cli.ExitStatus(), 0);
  EXPECT_TRUE(plc.TransferComplete());
  const std::vector<std::uint8_t> sent = images.Bytes("VL_v1_good.bin");
  const std::vector<std::uint8_t> got = plc.Image();
  ASSERT_GE(got.size(), sent.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got.begin()));
  plc.ExpectGivenBack("after a complete burn");
}

}  // namespace
}  // namespace plcburn

namespace plcburn {
namespace {

// A mixed bench: each PLC is identified read-only, then one command burns each with the image
// named for its model; a model without an image is refused before anything is erased.
TEST(CliSafety, ImagesFolderGivesEachPlcTheImageOfItsModel) {
  const ImageFolder images({{"QN4_v2.bin", 9000}, {"QK48_v7.bin", 12000}, {"TR7-D_v3.bin", 7000}});
  PlcOnPty qn4("QN4"), qk48("QK48"), tr7d("TR7-D", true), qw("QW", true);
  const std::vector<std::pair<PlcOnPty*, std::string>> burned = {
      {&qn4, "QN4_v2.bin"}, {&qk48, "QK48_v7.bin"}, {&tr7d, "TR7-D_v3.bin"}};
  std::vector<std::string> ports;
  for (PlcOnPty* plc : {&qn4, &qk48, &tr7d, &qw})
    ports.insert(ports.end(), {"--port", plc->Path()});

  std::vector<std::string> identify = ports;
  identify.push_back("--identify");
  CliRun look({.args = identify});
  ASSERT_TRUE(look.WaitExit(milliseconds(30000)));
  EXPECT_EQ(look.ExitStatus(), 0) << look.Out() << look.Err();
  for (const char* line : {": application, identifier 0x0013, model QK48, D1148 0x0001, update "
                           "version 0x01\n",
                           ": boot loader, identifier 0x2001, model TR7-D, boot loader version "
                           "01 00\n"})
    EXPECT_EQ(Count(look.Out(), line), 1u) << line << look.Out();

  std::vector<std::string> burn = ports;
  burn.insert(burn.end(), {"--images", images.Path(), "--yes", "--json", "--no-log"});
  CliRun cli({.args = burn});
  ASSERT_TRUE(cli.WaitExit(milliseconds(60000)));
  EXPECT_EQ(cli.ExitStatus(), 1) << cli.Out() << cli.Err();
  EXPECT_EQ(Count(cli.Out(), "\"model\":\"QW\""), 1u) << cli.Out();
  EXPECT_EQ(Count(cli.Out(), "no image for the QW in " + images.Path()), 1u) << cli.Out();
  const std::vector<std::uint8_t> toQw = qw.Received();
  EXPECT_EQ(std::string(toQw.begin(), toQw.end()).find("ERASE"), std::string::npos);
  for (const auto& [plc, image] : burned) {
    EXPECT_TRUE(plc->TransferComplete()) << image << cli.Out();
    const std::vector<std::uint8_t> sent = images.Bytes(image);
    const std::vector<std::uint8_t> got = plc->Image();
    ASSERT_GE(got.size(), sent.size()) << image;
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got.begin())) << image;
    // The result names the model the PLC turned out to be, and the image it got.
    const std::string model = image.substr(0, image.find('_'));
    EXPECT_EQ(Count(cli.Out(), "\"model\":\"" + model + "\""), 1u) << cli.Out();
    EXPECT_EQ(Count(cli.Out(), "\"image\":{\"name\":\"" + image + "\""), 1u) << cli.Out();
  }
}

}  // namespace
}  // namespace plcburn

namespace plcburn {
namespace {

// A bad image in a folder of its own, with the trusted key A that the plant installed.
class BadImage {
 public:
  enum Fault { Unsigned, Tampered, WrongKind, RenamedSigned, ModelWordMismatch };

  BadImage(const fs::path& keys, Fault fault) {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-gate-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    const std::string image = Image();
    std::mt19937 random(9000);
    std::ofstream out(image, std::ios::binary);
    if (fault == WrongKind) {
      out << ":10010000214601360121470136007EFE09D2190140\n:00000001FF\n";
    } else {
      for (int i = 0; i < 9000; ++i) out.put(static_cast<char>(random()));
    }
    out.close();
    const auto sign = [&](const std::string& file, const std::string& comment) {
      const std::string command = "minisign -S -s '" + (keys / "A.key").string() + "' -m '" + file +
                                  "' -t '" + comment + "' >/dev/null";
      if (std::system(command.c_str()) != 0) throw std::runtime_error(command);
    };
    switch (fault) {
      case Unsigned: break;
      case Tampered: {
        sign(image, "model=QN4 version=2");
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4000);
        f.put('\x5A');
        break;
      }
      case WrongKind: sign(image, "model=QN4 version=2"); break;
      case RenamedSigned: {
        // A VL image signed before model words, copied under a QN4 image's name.
        const std::string vl = (root_ / "VL_v2.bin").string();
        fs::rename(image, vl);
        sign(vl, "VL v2 for line 4");
        fs::copy_file(vl, image);
        fs::copy_file(vl + ".minisig", image + ".minisig");
        fs::remove(vl);
        fs::remove(vl + ".minisig");
        break;
      }
      case ModelWordMismatch: sign(image, "model=VL version=2"); break;
    }
  }
  ~BadImage() { fs::remove_all(root_); }

  std::string Dir() const { return root_.string(); }
  std::string Image() const { return (root_ / "QN4_v2.bin").string(); }

 private:
  fs::path root_;
};

// The records of the burn log at `path`, one per line.
std::vector<nlohmann::json> LogRecords(const fs::path& path) {
  std::vector<nlohmann::json> records;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) records.push_back(nlohmann::json::parse(line));
  return records;
}

// Whichever way an image is chosen, a bad one is refused by the same check before any port is
// opened, and leaves its record (reason, key id) in the burn log.
TEST(CliSafety, EveryWayAnImageIsChosenRefusesABadImageOnRecord) {
  std::string tmpl = (fs::temp_directory_path() / "plcburn-gate-keys-XXXXXX").string();
  const fs::path keys = ::mkdtemp(tmpl.data());
  const std::string pub = (keys / "A.pub").string();
  ASSERT_EQ(std::system(("minisign -G -W -p '" + pub + "' -s '" + (keys / "A.key").string() +
                         "' >/dev/null")
                            .c_str()),
            0);
  std::ifstream pubFile(pub);
  std::string comment;
  std::getline(pubFile, comment);
  const std::string keyId = comment.substr(comment.rfind(' ') + 1);

  const struct {
    BadImage::Fault fault;
    const char* what;
    const char* reason;
    const char* error;
    bool keyIdKnown;
  } faults[] = {
      {BadImage::Unsigned, "unsigned", "unsigned", "QN4_v2.bin is not signed", false},
      {BadImage::Tampered, "tampered", "signature", "the file or its signature was changed", true},
      {BadImage::WrongKind, "wrong kind", "kind", "looks like an Intel HEX file", false},
      {BadImage::RenamedSigned, "renamed signed image", "model", "QN4_v2.bin binds it to no model",
       true},
      {BadImage::ModelWordMismatch, "model word mismatch", "model",
       "QN4_v2.bin is named for the QN4, but its signature is for the VL", true},
  };
  enum Way { Cli, StationWindow };
  const struct {
    const char* what;
    const char* args;  // {image}, {dir}, {port}, {port2}, {slot}, {log}, {pub}
    Way way = Cli;
    int exitStatus = 2;
    bool logged = true;
  } ways[] = {
      {"--image", "--image {image} --port {port} --yes"},
      {"--images, one port", "--images {dir} --port {port} --yes"},
      {"--images, gang", "--images {dir} --port {port} --port {port2} --yes"},
      {"--images at a station", "--watch {slot} --images {dir} --now"},
      {"--image at a station", "--watch {slot} --image {image} --now"},
      {"--verify-image", "--verify-image {image}", Cli, 1, false},
      {"the station window's options", "--station {slot} --image {image}", StationWindow},
  };
  for (const auto& f : faults) {
    const BadImage bad(keys, f.fault);
    for (const auto& w : ways) {
      const std::string row = std::string(w.what) + ", " + f.what;
      PlcOnPty plc("QN4"), plc2("QN4");
      const fs::path slots = fs::path(bad.Dir()) / "slots";
      fs::create_directories(slots);
      fs::remove(slots / "plc0");
      fs::create_symlink(plc.Path(), slots / "plc0");
      const fs::path log = fs::path(bad.Dir()) / "burns.jsonl";
      fs::remove(log);
      std::vector<std::string> args;
      std::istringstream words(std::string(w.args) + " --trusted-key {pub}" +
                               (w.logged ? " --log {log}" : "") +
                               (f.fault == BadImage::RenamedSigned ? " --require-model" : ""));
      for (std::string a; words >> a;) {
        const std::pair<const char*, std::string> fill[] = {{"{image}", bad.Image()},
                                                            {"{dir}", bad.Dir()},
                                                            {"{port}", plc.Path()},
                                                            {"{port2}", plc2.Path()},
                                                            {"{slot}", (slots / "plc*").string()},
                                                            {"{log}", log.string()},
                                                            {"{pub}", pub}};
        for (const auto& [name, value] : fill)
          if (a == name) a = value;
        args.push_back(a);
      }
      std::string error;
      if (w.way == StationWindow) {
        const ParsedStation parsed = ParseStationArgs(args, ModelFromImageName(BuiltinImageName()));
        EXPECT_FALSE(parsed.setup.has_value()) << row;
        error = parsed.error;
      } else {
        CliRun cli({.args = args});
        ASSERT_TRUE(cli.WaitExit(milliseconds(10000))) << row << ": still running";
        EXPECT_EQ(cli.ExitStatus(), w.exitStatus) << row << "\n" << cli.Out() << cli.Err();
        EXPECT_EQ(cli.Out(), "") << row;
        error = cli.Err();
        EXPECT_EQ(Count(error, "\n"), 1u) << row << ": " << error;
      }
      EXPECT_NE(error.find(f.error), std::string::npos) << row << ": " << error;
      EXPECT_TRUE(plc.Received().empty()) << row << ": the PLC got bytes";
      EXPECT_TRUE(plc2.Received().empty()) << row << ": the second PLC got bytes";
      const std::vector<nlohmann::json> records = LogRecords(log);
      if (!w.logged) {
        EXPECT_TRUE(records.empty()) << row;
        continue;
      }
      EXPECT_EQ(records.size(), 1u) << row;
      if (records.empty()) continue;
      nlohmann::json r = records.back();  // a field it lacks reads as null
      EXPECT_EQ(r["image"]["name"], "QN4_v2.bin") << row;
      EXPECT_EQ(r["result"]["ok"], false) << row;
      EXPECT_EQ(r["result"]["step"], "image check") << row;
      EXPECT_NE(r["result"]["text"].get<std::string>().find(f.error), std::string::npos) << row;
      EXPECT_EQ(r["result"]["refused"]["reason"], f.reason) << row;
      EXPECT_EQ(r["result"]["refused"]["key_id"],
                f.keyIdKnown ? nlohmann::json(keyId) : nlohmann::json(nullptr))
          << row << r.dump();
    }
  }

  // The same check admits an image its signature binds to its model, as the real minisign
  // signed it: burned as checked, the model word on record; a name that names no model is no
  // obstacle to --verify-image.
  const BadImage good(keys, BadImage::WrongKind);  // its folder, refilled below
  std::mt19937 random(4711);
  std::vector<std::uint8_t> image(9000);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  for (const std::string name : {"QN4_v3.bin", "firmware_v3.bin"}) {
    const fs::path file = fs::path(good.Dir()) / name;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    ASSERT_EQ(
        std::system(("cd '" + good.Dir() + "' && minisign -S -s '" + (keys / "A.key").string() +
                     "' -m " + name + " -t 'model=QN4 version=3' >/dev/null")
                        .c_str()),
        0);
  }
  fs::remove(good.Image());
  fs::remove(good.Image() + ".minisig");
  CliRun verify({.args = {"--verify-image", good.Dir() + "/firmware_v3.bin", "--trusted-key", pub,
                          "--require-model"}});
  ASSERT_TRUE(verify.WaitExit(milliseconds(10000)));
  EXPECT_EQ(verify.ExitStatus(), 0) << verify.Err();
  EXPECT_NE(verify.Out().find("model            QN4 (bound by its signature)"), std::string::npos)
      << verify.Out();
  fs::remove(fs::path(good.Dir()) / "firmware_v3.bin");
  PlcOnPty plc("QN4");
  const fs::path log = fs::path(good.Dir()) / "burns.jsonl";
  CliRun burn({.args = {"--images", good.Dir(), "--port", plc.Path(), "--trusted-key", pub,
                        "--require-model", "--yes", "--log", log.string()}});
  ASSERT_TRUE(burn.WaitExit(milliseconds(30000)));
  EXPECT_EQ(burn.ExitStatus(), 0) << burn.Out() << burn.Err();
  const std::vector<std::uint8_t> got = plc.Image();
  ASSERT_GE(got.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
  const std::vector<nlohmann::json> records = LogRecords(log);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["image"]["signature"],
            nlohmann::json({{"key_id", keyId}, {"trusted_comment", "model=QN4 version=3"}}));
  fs::remove_all(keys);
}

}  // namespace
}  // namespace plcburn
