// Identification of every model in both firmwares, and of ports that do not answer as a PLC does,
// on the in-process simulator: the models it reports, and that nothing it sent could change the
// PLC.

#include "proto/identify_plc.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "sim/plc_sim.h"
#include "sim/sim_link.h"

namespace plcburn {
namespace {

// Reads nothing once `writes` writes have gone out: a PLC unplugged in the middle.
class VanishingLink : public SimLink {
 public:
  VanishingLink(PlcSim& sim, VirtualClock& clock, std::optional<int> writes)
      : SimLink(sim, clock), left_(writes) {}
  std::size_t Write(const std::uint8_t* data, std::size_t n) override {
    if (left_ && (*left_)-- <= 0) return 0;
    return SimLink::Write(data, n);
  }

 private:
  std::optional<int> left_;
};

struct IdentifyCase {
  const char* model;
  bool boot;
  const char* expected;  // the models reported
  const char* fault = nullptr;
  std::optional<int> vanishAfterWrites = {};
  const char* problem = "";
  const char* received = "";  // in hex, for a port that gave no valid answer
};

TEST(IdentifyPlc, ReportsTheModelsAndChangesNothing) {
  // Every model is reported as itself by its application: the registers decide the two pairs
  // that share an identifier, which a boot loader cannot tell apart.
  const std::map<std::string, std::string> kBootLoaderPairs = {{"TR7-MX7", "TR7-MX7 or TR7-B"},
                                                               {"TR7-B", "TR7-MX7 or TR7-B"},
                                                               {"QK4", "QK4 or QK48"},
                                                               {"QK48", "QK4 or QK48"}};
  std::vector<IdentifyCase> cases;
  for (const char* model : plcList) {
    cases.push_back({model, false, model});
    const auto pair = kBootLoaderPairs.find(model);
    cases.push_back({model, true, pair == kBootLoaderPairs.end() ? model : pair->second.c_str()});
  }
  // Ports that do not answer as they should.
  // clang-format off
  const IdentifyCase kFaults[] = {
      {"QN4", false, "unknown", "silence", {}, "no valid answer"},
      {"QN4", false, "unknown", "short-reply", {}, "no valid answer",
       "3A 30 30 36 34 30 31 35 39 30 35 30 30 30 30 33 44 0D 3A 30 30 36 34 30 31 35 39 30 35 30 30 30"},
      {"QN4", false, "unknown", "nak:1:0", {}, "no valid answer to the identifier request",
       "3A 30 30 36 34 30 31 35 39 31 35 30 31 30 30 32 43 0D 0A 3A 30 30 36 34 30 31 35 39 31 35 30 31"},
      {"QN4", false, "unknown", nullptr, 6, "no valid answer to the identifier request"},
      {"TR7-B", false, "TR7-MX7 or TR7-B", nullptr, 7, "no valid answer to the read of D1386"},
      {"VL", true, "unknown", nullptr, 6, "no valid answer to \"ID\""},
  };
  // clang-format on
  cases.insert(cases.end(), std::begin(kFaults), std::end(kFaults));
  for (const IdentifyCase& c : cases) {
    const std::string what =
        std::string(c.model) + (c.boot ? " boot " : " app ") + (c.fault ? c.fault : "");
    SimOptions options;
    options.startInBootLoader = c.boot;
    options.appVersion = 0x27;
    options.bootVersion = 0x0312;
    if (c.fault) options.faults.push_back(*ParseFault(c.fault));
    PlcSim sim(*FindModel(c.model), options);
    VirtualClock clock;
    VanishingLink link(sim, clock, c.vanishAfterWrites);

    const PlcIdentity plc = IdentifyPlc(link, sim.Model().IsUsb());

    EXPECT_EQ(CandidateNames(plc.candidates), c.expected) << what;
    EXPECT_EQ(plc.problem, c.problem) << what;
    EXPECT_EQ(HexBytes(plc.received), c.received) << what;
    const bool complete = *c.problem == '\0';
    EXPECT_EQ(plc.Answered(), complete) << what;
    if (complete) {
      EXPECT_EQ(plc.firmware, c.boot ? Firmware::BootLoader : Firmware::Application) << what;
      EXPECT_EQ(plc.updateVersion, c.boot ? std::nullopt : std::optional<std::uint8_t>(0x27));
      EXPECT_EQ(plc.bootVersion, c.boot ? std::optional<std::uint16_t>(0x0312) : std::nullopt);
    }
    EXPECT_EQ(plc.runMode, c.fault && std::string(c.fault) == "nak:1:0") << what;
    // The log of what the PLC received: nothing that erases, updates or writes a block.
    const SimCounters& got = sim.Counters();
    EXPECT_EQ(got.eraseRequests + got.eraseAcks + got.handovers + got.bootErases + got.eraseEots +
                  got.updates + got.blocksAccepted,
              0u)
        << what;
  }
}

}  // namespace
}  // namespace plcburn
