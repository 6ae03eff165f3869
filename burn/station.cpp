#include "burn/station.h"

#include <thread>
#include <utility>

#include "core/memory_image.h"

namespace plcburn {

// One device's burn: its panel values, its record and its operator, which the station answers.
class Station::Unit : public Operator, public BurnJournal {
 public:
  Unit(Station& station, SlotDevice device, std::unique_ptr<LinkOpener> opener)
      : st_(station),
        device_(std::move(device)),
        selection_(station.config_.modelRow),
        opener_(std::move(opener)),
        recording_{*this, WithSlot(station.config_.facts, device_.port)},
        runner_(state_, *this, station.config_.second) {
    selection_.SetComPort(device_.port);
  }

  void Start() {
    if (!st_.config_.chooseImage) {
      image_.emplace(st_.config_.image);
      return StartBurn();
    }
    // Identified on a thread of its own: the other slots do not wait for it.
    chooser_ = std::thread([this] {
      StationImage chosen = st_.config_.chooseImage(*opener_, device_);
      if (!chosen.modelRow) return Refuse(chosen.refusal);
      image_.emplace(std::move(chosen.bytes));
      selection_.SelectModel(*chosen.modelRow);
      recording_.facts.imageName = chosen.imageName;
      recording_.facts.imageSha256 = chosen.imageSha256;
      // Under the station's lock, so that a stop either comes first or finds the burn running.
      std::lock_guard lock(st_.mutex_);
      if (!st_.stopped_) StartBurn();  // else nothing was done to this PLC yet
    });
  }
  void Stop() { runner_.Stop(); }
  void Wait() {
    if (chooser_.joinable()) chooser_.join();
    runner_.Wait();
  }
  ~Unit() override {
    if (chooser_.joinable()) chooser_.join();
  }

  // Kept under the station's lock.
  const SlotDevice& Device() const { return device_; }
  bool present = true;
  int returns = 0;  // times the device came back after it had gone
  bool ended = false;
  SlotState state = SlotState::Burning;
  std::string note;
  const BurnState& Panel() const { return state_; }

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon) override {
    st_.view_.Message(device_.port, caption, text);
  }

  // A re-plug is answered by the device going away and coming back; a power cycle cannot be
  // seen on a serial adapter, so the station confirms it and the model's pause still runs.
  bool Prompt(const ReconnectPrompt& prompt) override {
    int returnsAtStart = 0;
    {
      // Counted from before the prompt is shown: a quick hand may re-plug at once.
      std::lock_guard lock(st_.mutex_);
      returnsAtStart = returns;
    }
    st_.view_.Prompt(device_.port, prompt);
    if (prompt.kind == ReconnectKind::PowerCycle) {
      SetState(SlotState::Burning, "power cycle confirmed by the station, pause of " +
                                       std::to_string(prompt.pauseMs) + " ms");
      return true;
    }
    SetState(SlotState::Replug, "waiting for the re-plug");
    bool back = false;
    {
      std::unique_lock lock(st_.mutex_);
      back = st_.changed_.wait_for(lock, st_.config_.replugTimeout, [&] {
        return returns > returnsAtStart || st_.stopped_;
      }) && !st_.stopped_;
    }
    SetState(SlotState::Burning, back ? "re-plugged" : "no re-plug in time");
    return back;
  }
  void SetStartEnabled(bool) override {}
  void StopTimer() override {}

  void Keep(const BurnRecord& record) override {
    if (st_.config_.log != nullptr) st_.config_.log->Keep(record);
    st_.view_.Result(device_.port, record);
  }

 private:
  static RecordFacts WithSlot(RecordFacts facts, const std::string& slot) {
    facts.slot = slot;
    return facts;
  }

  void SetState(SlotState next, std::string text) {
    {
      std::lock_guard lock(st_.mutex_);
      state = next;
      note = text;
    }
    st_.view_.Changed(device_.port, next, text);
  }

  void StartBurn() {
    runner_.Start({selection_, *opener_, *image_, &recording_},
                  [this](const BurnOutcome& outcome) { Ended(outcome.ok, outcome.text); });
  }

  // A PLC that gets no image: nothing was erased; it ends as a failed burn would.
  void Refuse(const std::string& why) {
    BurnRecord record;
    record.facts = recording_.facts;
    record.port = device_.port;
    record.usb = device_.usb;
    record.result = {false, std::nullopt, "image choice", "ERROR", why, false};
    st_.view_.Message(device_.port, "ERROR", why);
    Keep(record);
    Ended(false, why);
  }

  void Ended(bool ok, const std::string& text) {
    const std::string first = text.substr(0, text.find('\n'));
    {
      std::lock_guard lock(st_.mutex_);
      ++(ok ? st_.totals_.burned : st_.totals_.failed);
      state = ok ? SlotState::Ok : SlotState::Failed;
      note = first;
      ended = true;
    }
    st_.view_.Changed(device_.port, ok ? SlotState::Ok : SlotState::Failed, first);
    st_.watch_.Wake();  // a device that went away during the end frees its slot now
  }

  Station& st_;
  const SlotDevice device_;
  BurnState state_;
  Selection selection_;
  std::optional<MemoryImage> image_;
  std::unique_ptr<LinkOpener> opener_;
  BurnRecording recording_;
  BurnRunner runner_;  // its worker ends before the rest goes
  std::thread chooser_;
};

Station::Station(StationConfig config, SlotWatch& watch, OpenerFor openerFor, StationView& view)
    : config_(std::move(config)), watch_(watch), openerFor_(std::move(openerFor)), view_(view) {}

Station::~Station() {
  Stop();
  for (auto& [key, unit] : units_) unit->Wait();
}

void Station::Run() {
  if (!config_.burnPresentAtStart) {
    const std::vector<SlotDevice> atStart = watch_.Present();
    std::lock_guard lock(mutex_);
    for (const SlotDevice& device : atStart) leftIn_.insert(device.key);
  }
  for (;;) {
    Sync(watch_.Present());
    {
      std::lock_guard lock(mutex_);
      if (stopped_) break;
    }
    watch_.WaitForChange(std::chrono::hours(1));
  }
  for (auto& [key, unit] : units_) unit->Wait();
}

void Station::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    for (auto& [key, unit] : units_) unit->Stop();
  }
  changed_.notify_all();
  watch_.Wake();
}

// Follows the devices: frees the slots of ended burns whose device went away, tells waiting
// prompts of returns, and starts a burn for each new device.
void Station::Sync(const std::vector<SlotDevice>& present) {
  std::set<std::string> keys;
  for (const SlotDevice& device : present) keys.insert(device.key);
  std::vector<std::unique_ptr<Unit>> gone;
  std::vector<Unit*> started;
  {
    std::lock_guard lock(mutex_);
    for (auto it = units_.begin(); it != units_.end();) {
      Unit& unit = *it->second;
      const bool here = keys.count(it->first) != 0;
      if (here && !unit.present) ++unit.returns;
      unit.present = here;
      if (unit.ended && !here) {
        gone.push_back(std::move(it->second));
        it = units_.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(leftIn_, [&](const std::string& key) { return keys.count(key) == 0; });
    for (const SlotDevice& device : present) {
      if (stopped_) break;
      if (units_.count(device.key) != 0 || leftIn_.count(device.key) != 0) continue;
      auto unit = std::make_unique<Unit>(*this, device, openerFor_(device));
      started.push_back(unit.get());
      units_.emplace(device.key, std::move(unit));
    }
  }
  changed_.notify_all();
  for (auto& unit : gone) {
    unit->Wait();
    view_.Changed(unit->Device().port, SlotState::Empty, {});
  }
  for (Unit* unit : started) {
    view_.Changed(unit->Device().port, SlotState::Burning, {});
    unit->Start();
  }
}

Station::Totals Station::CurrentTotals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

std::vector<Station::DeviceStatus> Station::Devices() const {
  std::lock_guard lock(mutex_);
  std::vector<DeviceStatus> list;
  for (const auto& [key, unit] : units_) {
    const BurnState& s = unit->Panel();
    list.push_back({unit->Device().port, unit->Device().slot, unit->state, unit->note,
                    s.flashStatus.load(), s.progress.load(), s.errCounter.load(),
                    s.totalErrCounter.load(), s.elapsedTime.load()});
  }
  return list;
}

}  // namespace plcburn
