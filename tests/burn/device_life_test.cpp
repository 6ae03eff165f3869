#include "burn/device_life.h"

#include <gtest/gtest.h>

namespace plcburn {
namespace {

using namespace std::chrono_literals;
using S = DeviceStage;
using K = DeviceEventKind;
using A = DeviceAction;

// A device's life in `from` (last seen as plug "1", gone at t = 0 in the *Away stages), the event
// at `atMs`, and what must follow. Debounce 2 s.
struct Transition {
  const char* name;
  S from;
  bool usb;
  K event;
  const char* instance;
  int atMs;
  S to;
  A action;
  bool stopped = false;  // the station has stopped taking plugs
  bool now = false;      // --now
  bool require = false;  // --require-serial
  bool scanWaiting = false;
};

class DeviceLifeTest : public ::testing::TestWithParam<Transition> {};

TEST_P(DeviceLifeTest, MovesAsTheEventSays) {
  const Transition& t = GetParam();
  const StationClock::time_point zero{};
  DeviceLife life{t.from, t.usb, "1", BurnVerdict::Ok, zero};
  DeviceEvent event{t.event, zero + std::chrono::milliseconds(t.atMs), t.instance, t.scanWaiting,
                    BurnVerdict::Failed};
  const DeviceRules rules{2000ms, t.now, !t.stopped, t.require};
  EXPECT_EQ(Advance(life, event, rules), t.action);
  EXPECT_EQ(DeviceStageName(life.stage), DeviceStageName(t.to));
  if (t.event == K::BurnEnded) {
    EXPECT_EQ(life.verdict, BurnVerdict::Failed);
  }
  if ((t.action == A::StartBurn || t.action == A::ReplugSeen) && t.event != K::Scanned) {
    EXPECT_EQ(life.instance, t.instance);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, DeviceLifeTest, ::testing::Values(
    Transition{"plugged_is_burned",                 S::Absent, false, K::Appeared, "2", 0, S::Burning, A::StartBurn},
    Transition{"there_at_start_is_left_alone",      S::Absent, false, K::PresentAtStart, "2", 0, S::LeftAlone, A::None},
    Transition{"there_at_start_burned_with_now",    S::Absent, false, K::PresentAtStart, "2", 0, S::Burning, A::StartBurn, false, true},
    Transition{"nothing_new_once_stopped",          S::Absent, false, K::Appeared, "2", 0, S::Absent, A::Free, true},
    Transition{"plug_waits_for_its_scan",           S::Absent, false, K::Appeared, "2", 0, S::AwaitingScan, A::AwaitScan, false, false, true},
    Transition{"plug_takes_the_scan_waiting",       S::Absent, false, K::Appeared, "2", 0, S::Burning, A::StartBurn, false, false, true, true},
    Transition{"scan_starts_the_burn",              S::AwaitingScan, false, K::Scanned, "", 0, S::Burning, A::StartBurn, false, false, true},
    Transition{"unplugged_before_its_scan",         S::AwaitingScan, false, K::Vanished, "", 0, S::Absent, A::Free, false, false, true},
    Transition{"scan_after_the_stop_burns_nothing", S::AwaitingScan, false, K::Scanned, "", 0, S::AwaitingScan, A::None, true, false, true},
    Transition{"left_alone_goes",                   S::LeftAlone, false, K::Vanished, "", 0, S::LeftAloneAway, A::None},
    Transition{"left_alone_seen_again",             S::LeftAlone, false, K::Appeared, "1", 0, S::LeftAlone, A::None},
    Transition{"left_alone_node_reused_unseen",     S::LeftAlone, false, K::Appeared, "2", 0, S::Burning, A::StartBurn},
    Transition{"left_alone_usb_renumbered",         S::LeftAlone, true, K::Appeared, "2", 0, S::LeftAlone, A::None},
    Transition{"left_alone_back_in_time",           S::LeftAloneAway, false, K::Appeared, "1", 1999, S::LeftAlone, A::None},
    Transition{"left_alone_back_late_is_new",       S::LeftAloneAway, false, K::Appeared, "1", 2000, S::Burning, A::StartBurn},
    Transition{"left_alone_away_waits",             S::LeftAloneAway, false, K::Tick, "", 1999, S::LeftAloneAway, A::None},
    Transition{"left_alone_away_forgotten",         S::LeftAloneAway, false, K::Tick, "", 2000, S::Absent, A::Free},
    Transition{"burning_goes",                      S::Burning, true, K::Vanished, "", 0, S::BurningAway, A::None},
    Transition{"burning_seen_again",                S::Burning, true, K::Appeared, "1", 0, S::Burning, A::None},
    Transition{"burning_replugged_between_looks",   S::Burning, true, K::Appeared, "2", 0, S::Burning, A::ReplugSeen},
    Transition{"burning_asks_for_replug",           S::Burning, true, K::ReplugAsked, "", 0, S::AwaitingReplug, A::None},
    Transition{"burning_ends",                      S::Burning, false, K::BurnEnded, "", 0, S::Ended, A::None},
    Transition{"burning_stopped",                   S::Burning, false, K::Stop, "", 0, S::Burning, A::StopBurn},
    Transition{"burning_away_back_is_replug",       S::BurningAway, true, K::Appeared, "2", 0, S::Burning, A::ReplugSeen},
    Transition{"pulled_before_the_prompt",          S::BurningAway, true, K::ReplugAsked, "", 0, S::ReplugAway, A::None},
    Transition{"ends_while_away",                   S::BurningAway, false, K::BurnEnded, "", 0, S::EndedAway, A::None},
    Transition{"burning_away_stopped",              S::BurningAway, false, K::Stop, "", 0, S::BurningAway, A::StopBurn},
    Transition{"prompt_sees_the_unplug",            S::AwaitingReplug, true, K::Vanished, "", 0, S::ReplugAway, A::None},
    Transition{"replug_between_two_looks",          S::AwaitingReplug, true, K::Appeared, "2", 0, S::Burning, A::ReplugSeen},
    Transition{"prompt_sees_the_same_plug",         S::AwaitingReplug, true, K::Appeared, "1", 0, S::AwaitingReplug, A::None},
    Transition{"no_replug_in_time",                 S::AwaitingReplug, true, K::BurnEnded, "", 0, S::Ended, A::None},
    Transition{"stopped_at_the_prompt",             S::AwaitingReplug, true, K::Stop, "", 0, S::AwaitingReplug, A::StopBurn},
    Transition{"replugged",                         S::ReplugAway, true, K::Appeared, "2", 0, S::Burning, A::ReplugSeen},
    Transition{"never_came_back",                   S::ReplugAway, true, K::BurnEnded, "", 0, S::EndedAway, A::None},
    Transition{"stopped_while_unplugged",           S::ReplugAway, true, K::Stop, "", 0, S::ReplugAway, A::StopBurn},
    Transition{"ended_unplugged",                   S::Ended, false, K::Vanished, "", 0, S::EndedAway, A::None},
    Transition{"ended_left_plugged_not_burned",     S::Ended, false, K::Appeared, "1", 0, S::Ended, A::None},
    Transition{"ended_node_reused_unseen_is_new",   S::Ended, false, K::Appeared, "2", 0, S::Burning, A::StartBurn},
    Transition{"ended_usb_renumbered_is_same",      S::Ended, true, K::Appeared, "2", 0, S::Ended, A::None},
    Transition{"ended_reused_after_stop",           S::Ended, false, K::Appeared, "2", 0, S::Absent, A::Free, true},
    Transition{"ended_not_stopped_again",           S::Ended, false, K::Stop, "", 0, S::Ended, A::None},
    Transition{"usb_restart_within_debounce",       S::EndedAway, true, K::Appeared, "2", 1999, S::Ended, A::None},
    Transition{"serial_back_same_plug_in_time",     S::EndedAway, false, K::Appeared, "1", 1000, S::Ended, A::None},
    Transition{"serial_other_plug_in_time_is_new",  S::EndedAway, false, K::Appeared, "2", 1000, S::Burning, A::StartBurn},
    Transition{"usb_back_late_is_a_new_plug",       S::EndedAway, true, K::Appeared, "2", 2000, S::Burning, A::StartBurn},
    Transition{"ended_away_waits",                  S::EndedAway, false, K::Tick, "", 1999, S::EndedAway, A::None},
    Transition{"ended_away_frees_the_slot",         S::EndedAway, false, K::Tick, "", 2000, S::Absent, A::Free}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

TEST(DeviceLifeDeadline, OnlyAnAbsenceHasOne) {
  const DeviceRules rules{2000ms, false, true};
  const StationClock::time_point gone = StationClock::time_point{} + 5s;
  for (const S stage : {S::Absent, S::LeftAlone, S::Burning, S::BurningAway, S::AwaitingReplug,
                        S::ReplugAway, S::Ended}) {
    EXPECT_FALSE(NextDeadline({stage, false, "1", BurnVerdict::Ok, gone}, rules))
        << DeviceStageName(stage);
  }
  for (const S stage : {S::LeftAloneAway, S::EndedAway})
    EXPECT_EQ(NextDeadline({stage, false, "1", BurnVerdict::Ok, gone}, rules), gone + 2000ms);
}

}  // namespace
}  // namespace plcburn
