#include "burn/station.h"

#include <algorithm>
#include <ctime>
#include <thread>
#include <utility>

#include "burn/burn_unit.h"
#include "burn/controlled_opener.h"
#include "burn/refused_burn.h"
#include "core/serial_label.h"
#include "core/stopped_burn.h"

namespace plcburn {

namespace {

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// Today's date on the station's own calendar, as a number.
int LocalDay() {
  const std::time_t now = std::time(nullptr);
  std::tm day{};
#ifdef _WIN32
  localtime_s(&day, &now);
#else
  localtime_r(&now, &day);
#endif
  return (day.tm_year + 1900) * 10000 + (day.tm_mon + 1) * 100 + day.tm_mday;
}

}  // namespace

// One device's burn: its panel values, its record and its operator, which the station answers.
class Station::Unit : public Operator, public BurnJournal {
 public:
  Unit(Station& station, SlotDevice at, std::unique_ptr<LinkOpener> opener,
       const std::string& serial)
      : st_(station),
        at_(std::move(at)),
        label_(station.LabelOf(at_)),
        opener_(std::move(opener)),
        identifying_(*opener_, identifyControl_),
        burn_(station.config_.modelRow, *this, *this, FactsFor(station.config_.facts, label_),
              station.config_.second) {
    burn_.Chosen().SetComPort(at_.port);
    burn_.Facts().serial = serial;
    burn_.Facts().warnings = station.WarningsFor(serial);
  }
  ~Unit() override { Wait(); }

  void Start() {
    if (!st_.config_.chooseImage) {
      burn_.UseImage(st_.config_.image);
      return StartBurn();
    }
    // Identified on a thread of its own: the other slots do not wait for it.
    chooser_ = std::thread([this] { ChooseAndBurn(); });
  }
  // A stop before the burn has begun ends it at once when it begins: the runner keeps it.
  void Stop() {
    identifyControl_.Cancel();
    burn_.Stop();
  }
  void Wait() {
    if (chooser_.joinable()) chooser_.join();
    burn_.Wait();
  }

  const BurnState& Panel() const { return burn_.State(); }
  std::int32_t ElapsedSeconds() const { return burn_.ElapsedSeconds(); }

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon) override {
    st_.view_.Message(label_, caption, text);
  }

  // A re-plug is answered by the device going away and coming back; a power cycle cannot be
  // seen on a serial adapter, so the station confirms it and the model's pause still runs.
  bool Prompt(const ReconnectPrompt& prompt) override {
    if (prompt.kind == ReconnectKind::PowerCycle) {
      st_.view_.Prompt(label_, prompt);
      SetState(SlotState::Burning, "power cycle confirmed by the station, pause of " +
                                       std::to_string(prompt.pauseMs) + " ms");
      return true;
    }
    // Counted from before the prompt is shown: a quick hand may re-plug at once.
    const int seenBefore = st_.Replugs(at_.device);
    st_.ReplugAsked(at_.device);
    st_.view_.Prompt(label_, prompt);
    st_.view_.Changed(label_, SlotState::Replug, "waiting for the re-plug");
    const bool back = st_.WaitForReplug(at_.device, seenBefore);
    SetState(SlotState::Burning, back ? "re-plugged" : "no re-plug in time");
    return back;
  }
  void SetStartEnabled(bool) override {}

  void PhaseBegins(BurnPhase phase) override { st_.view_.Phase(label_, phase); }
  void Keep(const BurnRecord& record) override {
    if (st_.config_.log != nullptr) st_.config_.log->Keep(record);
  }

 private:
  static RecordFacts FactsFor(RecordFacts facts, const DeviceLabel& label) {
    facts.slot = label.slot;
    facts.device = label.device;
    return facts;
  }

  void SetState(SlotState next, const std::string& note) {
    {
      std::lock_guard lock(st_.mutex_);
      Known& known = st_.known_.at(at_.device);
      known.shown = next;
      known.note = note;
    }
    st_.view_.Changed(label_, next, note);
  }

  void StartBurn() {
    burn_.Start(*opener_,
                [this](const BurnOutcome& outcome) { st_.BurnEnded(at_.device, outcome.record); });
  }

  void ChooseAndBurn() {
    RefusedBurn refused{burn_.Facts(), at_.port, at_.usb};
    refused.startMs = WallClockMs();
    const auto began = StationClock::now();
    StationImage chosen = st_.config_.chooseImage(identifying_, at_);
    if (identifyControl_.Cancelled() || !chosen.modelRow) {
      // Nothing was erased: the record says what the PLC told, and why it ended there.
      refused.plc = std::move(chosen.plc);
      refused.stopped = identifyControl_.Cancelled();
      refused.why = refused.stopped ? std::string(kMsgBurnStopped) : chosen.refusal;
      if (!refused.stopped && chosen.imageRefused) {
        refused.facts.imageName = chosen.imageName;
        refused.facts.imageSha256 = chosen.imageSha256;
        refused.image = chosen.imageRefused;
        refused.imageSize = chosen.imageSize;
      }
      refused.endMs = WallClockMs();
      refused.durationMs = static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(StationClock::now() - began)
              .count());
      const BurnRecord record = RefusedBurnRecord(refused);
      Keep(record);
      st_.view_.Message(label_, record.result.caption, record.result.text);
      return st_.BurnEnded(at_.device, record);
    }
    burn_.UseImage(std::move(chosen.bytes));
    burn_.Chosen().SelectModel(*chosen.modelRow);
    burn_.Facts().imageName = chosen.imageName;
    burn_.Facts().imageSha256 = chosen.imageSha256;
    burn_.Facts().signingKeyId = chosen.signingKeyId;
    burn_.Facts().trustedComment = chosen.trustedComment;
    StartBurn();
  }

  Station& st_;
  const SlotDevice at_;
  const DeviceLabel label_;
  std::unique_ptr<LinkOpener> opener_;
  BurnControl identifyControl_;
  ControlledOpener identifying_;
  BurnUnit burn_;  // its worker ends before the opener and the rest go
  std::thread chooser_;
};

Station::Station(StationConfig config, SlotWatch& watch, OpenerFor openerFor, StationView& view)
    : config_(std::move(config)), watch_(watch), openerFor_(std::move(openerFor)), view_(view) {}

Station::~Station() {
  Stop();
  for (auto& [device, known] : known_)
    if (known.unit) known.unit->Wait();
}

DeviceRules Station::Rules() const {
  return {config_.unplugDebounce, config_.burnPresentAtStart, !stopped_, config_.requireSerial};
}

DeviceLabel Station::LabelOf(const SlotDevice& at) const {
  return {at.slot < config_.slots.size() ? config_.slots[at.slot] : std::string(), at.device,
          at.port};
}

void Station::Run() {
  for (bool first = true;; first = false) {
    Take(watch_.Look(), first);
    {
      std::lock_guard lock(mutex_);
      if (stopped_) break;
    }
    watch_.WaitForChange(UntilNextDeadline());
  }
  // Only this thread adds or removes units: they stay while they are waited for.
  std::vector<Unit*> units;
  {
    std::lock_guard lock(mutex_);
    for (auto& [device, known] : known_)
      if (known.unit) units.push_back(known.unit.get());
  }
  for (Unit* unit : units) unit->Wait();
}

void Station::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    const DeviceEvent stop{DeviceEventKind::Stop, StationClock::now()};
    for (auto& [device, known] : known_)
      if (Advance(known.life, stop, Rules()) == DeviceAction::StopBurn && known.unit)
        known.unit->Stop();
  }
  changed_.notify_all();
  watch_.Wake();
}

// Feeds what the slots hold now to each device's life: those no longer there vanished, those
// there appeared (as the same plug, or as another one), then time passed.
void Station::Take(const SlotLook& look, bool first) {
  Aftermath after;
  {
    std::lock_guard lock(mutex_);
    const DeviceRules rules = Rules();
    const auto now = StationClock::now();
    ExpireScan(now, after);
    // A device reached through several entries goes by the newest: an old link that a reused
    // node brings back to life does not name the device that reused it.
    std::map<std::string, const SlotDevice*> present;
    std::vector<std::string> inOrder;  // as the slots list them: a scan goes to the first
    for (const SlotDevice& d : look.devices) {
      const auto [at, added] = present.try_emplace(d.device, &d);
      if (added) inOrder.push_back(d.device);
      if (!added && d.entryMadeNs > at->second->entryMadeNs) at->second = &d;
    }
    for (auto& [device, known] : known_) {
      if (present.count(device) != 0 || known.life.stage == DeviceStage::Absent) continue;
      Apply(known, Advance(known.life, {DeviceEventKind::Vanished, now}, rules), nullptr, after);
    }
    for (const std::string& device : inOrder) {
      const SlotDevice* seen = present.at(device);
      Known& known = known_[device];
      if (known.life.stage == DeviceStage::Absent) known.life.usb = seen->usb;
      DeviceEvent event{first ? DeviceEventKind::PresentAtStart : DeviceEventKind::Appeared, now,
                        seen->instance};
      event.scanWaiting = pending_.has_value();
      const DeviceAction action = Advance(known.life, event, rules);
      std::string serial;
      if (action == DeviceAction::StartBurn && pending_) {
        serial = pending_->serial;
        pending_.reset();
        after.scans.push_back({serial, "given to " + seen->port});
      }
      Apply(known, action, seen, after, serial);
    }
    for (auto& [device, known] : known_)
      Apply(known, Advance(known.life, {DeviceEventKind::Tick, now}, rules), nullptr, after);
    std::erase_if(known_, [](const auto& entry) {
      return entry.second.life.stage == DeviceStage::Absent && !entry.second.unit;
    });

    std::set<std::string> misfits;
    for (const SlotMisfit& m : look.misfits) {
      misfits.insert(m.path);
      if (misfitsSaid_.insert(m.path).second) after.misfits.push_back(m);
    }
    std::erase_if(misfitsSaid_, [&](const std::string& path) { return !misfits.contains(path); });
  }
  Finish(after);
}

void Station::Apply(Known& known, DeviceAction action, const SlotDevice* seen, Aftermath& after,
                    const std::string& serial) {
  switch (action) {
    case DeviceAction::None: break;
    case DeviceAction::StartBurn: {
      // A node reused after an unplug the station never saw: the ended burn goes.
      if (known.unit) after.retired.push_back(std::move(known.unit));
      if (seen != nullptr) known.at = *seen;
      known.replugs = 0;
      known.shown = SlotState::Burning;
      known.serial = serial;
      const std::vector<std::string> warnings = WarningsFor(serial);
      known.note = warnings.empty() ? std::string() : warnings.front();
      for (const std::string& warning : warnings) after.scans.push_back({serial, warning});
      known.unit = std::make_unique<Unit>(*this, known.at, openerFor_(known.at), serial);
      after.started.push_back(known.unit.get());
      break;
    }
    case DeviceAction::AwaitScan:
      if (known.unit) after.retired.push_back(std::move(known.unit));
      known.at = *seen;
      known.shown = SlotState::Scan;
      known.serial.clear();
      known.note = "waiting for its serial to be scanned";
      known.waitingSince = StationClock::now();
      after.awaitingScan.push_back(LabelOf(known.at));
      break;
    case DeviceAction::ReplugSeen: ++known.replugs; break;
    case DeviceAction::StopBurn:
      if (known.unit) known.unit->Stop();
      break;
    case DeviceAction::Free:
      // Left alone, it was never shown; waiting for its scan, it was.
      if (!known.unit && known.shown != SlotState::Scan) break;
      if (known.unit) after.retired.push_back(std::move(known.unit));
      after.freed.push_back(LabelOf(known.at));
      known.shown = SlotState::Empty;
      break;
  }
}

void Station::Finish(Aftermath& after) {
  changed_.notify_all();  // prompts waiting for a re-plug
  for (auto& unit : after.retired) unit->Wait();
  after.retired.clear();
  for (const SlotMisfit& m : after.misfits)
    view_.Misfit(m.slot < config_.slots.size() ? config_.slots[m.slot] : std::string(), m.path,
                 m.why);
  for (const DeviceLabel& label : after.freed) view_.Changed(label, SlotState::Empty, {});
  for (const DeviceLabel& label : after.awaitingScan)
    view_.Changed(label, SlotState::Scan, "waiting for its serial to be scanned");
  for (const ScanNote& scan : after.scans) view_.ScanSaid(scan.serial, scan.what);
  for (Unit* unit : after.started) {
    std::optional<DeviceLabel> label;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [device, known] : known_)
        if (known.unit.get() == unit) label = LabelOf(known.at);
    }
    if (label) view_.Changed(*label, SlotState::Burning, {});
    unit->Start();
  }
}

std::chrono::milliseconds Station::UntilNextDeadline() const {
  std::lock_guard lock(mutex_);
  auto wait = std::chrono::milliseconds(std::chrono::hours(1));
  const auto now = StationClock::now();
  if (pending_) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending_->until - now);
    wait = std::clamp(left, std::chrono::milliseconds(0), wait);
  }
  for (const auto& [device, known] : known_) {
    if (const auto deadline = NextDeadline(known.life, Rules())) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
      wait = std::clamp(left, std::chrono::milliseconds(0), wait);
    }
  }
  return wait;
}

void Station::Scanned(const std::string& serial) {
  if (const std::string problem = SerialProblem(serial); !problem.empty()) {
    view_.ScanSaid(serial, "refused: " + problem + "; scan the label again");
    return;
  }
  Aftermath after;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    // The device that has waited for its scan the longest takes it at once.
    Known* waiting = nullptr;
    for (auto& [device, known] : known_)
      if (known.life.stage == DeviceStage::AwaitingScan &&
          (waiting == nullptr || known.waitingSince < waiting->waitingSince))
        waiting = &known;
    if (waiting != nullptr) {
      const DeviceAction action =
          Advance(waiting->life, {DeviceEventKind::Scanned, StationClock::now()}, Rules());
      after.scans.push_back({serial, "given to " + waiting->at.port});
      Apply(*waiting, action, nullptr, after, serial);
    } else {
      if (pending_)
        after.scans.push_back({pending_->serial, "replaced by " + serial + " before a plug"});
      pending_ = PendingScan{serial, StationClock::now() + config_.scanTimeout};
      after.scans.push_back({serial, "waiting for the next PLC plugged in"});
    }
  }
  Finish(after);
  watch_.Wake();  // its time-out counts from now
}

// A scan that no plug took in time is forgotten, and said so.
void Station::ExpireScan(StationClock::time_point now, Aftermath& after) {
  if (!pending_ || now < pending_->until) return;
  after.scans.push_back({pending_->serial, "timed out: no PLC was plugged in"});
  pending_.reset();
}

std::vector<std::string> Station::WarningsFor(const std::string& serial) const {
  const auto it = burnedOkOn_.find(serial);
  if (serial.empty() || it == burnedOkOn_.end() || it->second != LocalDay()) return {};
  return {"serial " + serial + " was burned OK at this station today already"};
}

int Station::Replugs(const std::string& device) const {
  std::lock_guard lock(mutex_);
  return known_.at(device).replugs;
}

void Station::ReplugAsked(const std::string& device) {
  std::lock_guard lock(mutex_);
  Known& known = known_.at(device);
  Advance(known.life, {DeviceEventKind::ReplugAsked, StationClock::now()}, Rules());
  known.shown = SlotState::Replug;
  known.note = "waiting for the re-plug";
}

bool Station::WaitForReplug(const std::string& device, int seenBefore) {
  std::unique_lock lock(mutex_);
  const Known& known = known_.at(device);
  return changed_.wait_for(lock, config_.replugTimeout, [&] {
    return known.replugs > seenBefore || stopped_;
  }) && !stopped_;
}

void Station::BurnEnded(const std::string& device, const BurnRecord& record) {
  const BurnVerdict verdict = VerdictOf(record);
  const std::string note = FirstLine(record.result.text);
  DeviceLabel label;
  {
    std::lock_guard lock(mutex_);
    Known& known = known_.at(device);
    DeviceEvent ended{DeviceEventKind::BurnEnded, StationClock::now()};
    ended.verdict = verdict;
    Advance(known.life, ended, Rules());
    known.shown = EndedState(verdict);
    known.note = note;
    label = LabelOf(known.at);
    if (verdict == BurnVerdict::Ok && !record.facts.serial.empty())
      burnedOkOn_[record.facts.serial] = LocalDay();
    switch (verdict) {
      case BurnVerdict::Ok: ++totals_.burned; break;
      case BurnVerdict::Failed: ++totals_.failed; break;
      case BurnVerdict::Stopped: ++totals_.stopped; break;
      case BurnVerdict::Refused: ++totals_.refused; break;
    }
  }
  view_.Changed(label, EndedState(verdict), note);
  view_.Result(label, record);
  watch_.Wake();  // a device that went away during the end frees its slot in time
}

Station::Totals Station::CurrentTotals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

std::vector<Station::DeviceStatus> Station::Devices() const {
  std::lock_guard lock(mutex_);
  std::vector<DeviceStatus> list;
  for (const auto& [device, known] : known_) {
    if (!known.unit) {
      if (known.shown == SlotState::Scan)
        list.push_back({known.at.port, known.at.slot, LabelOf(known.at), known.shown, known.note});
      continue;
    }
    const BurnState& s = known.unit->Panel();
    const bool running = known.shown == SlotState::Burning || known.shown == SlotState::Replug;
    list.push_back({known.at.port, known.at.slot, LabelOf(known.at), known.shown, known.note,
                    known.serial, s.flashStatus.load(), s.progress.load(), s.errCounter.load(),
                    s.totalErrCounter.load(),
                    running ? known.unit->ElapsedSeconds() : s.elapsedTime.load()});
  }
  return list;
}

}  // namespace plcburn
