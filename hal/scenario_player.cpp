#include "hal/scenario_player.h"

#include <ostream>

#include "bench/host/trace_format.h"
#include "bench/scenario_runner.h"
#include "pendant/pendant_window.h"

namespace km4r::hal {

using bench::CommandKind;

bool ScenarioPlayer::Load(const std::vector<std::string>& files, std::string* error) {
  for (const std::string& file : files) {
    std::string text;
    std::string why;
    if (!bench::ReadScenarioText(file, &text, &why)) {
      *error = file + ":0: " + why;
      return false;
    }
    bench::ParseResult parsed = bench::ParseScenario(text);
    if (!parsed.ok) {
      *error = file + ":" + std::to_string(parsed.errorLine) + ": " + parsed.error;
      return false;
    }
    scenarios_.push_back(std::move(parsed.commands));
  }
  return true;
}

void ScenarioPlayer::Attach(platform::VirtualBus* bus) {
  bus_ = bus;
  bool absent = !scenarios_.empty();
  for (const auto& s : scenarios_) {
    bool here = true;
    for (const bench::Command& c : s) here = here && c.kind != CommandKind::PendantAbsent;
    absent = absent && !here;
  }
  if (!absent)
    pendant_ = bus_->AddDevice(bench::kVirtualPendantPath, kPendantVendorId, kPendantProductId);
}

bool ScenarioPlayer::connected() const {
  return bus_ != nullptr && pendant_ >= 0 && bus_->OpenHandles(pendant_) > 0;
}

void ScenarioPlayer::Select(int32_t n) {
  if (n == asked_) return;
  asked_ = n;
  if (n < 1 || static_cast<std::size_t>(n) > scenarios_.size()) return;
  current_ = n - 1;
  line_ = 0;
  next_ = 0;
  wait_ = 0;
}

void ScenarioPlayer::Tick(std::ostream& out) {
  if (current_ < 0) return;
  if (wait_ > 0 && --wait_ > 0) return;
  const auto& commands = scenarios_[static_cast<std::size_t>(current_)];
  while (next_ < commands.size() && wait_ == 0) Execute(commands[next_++], out);
  if (next_ >= commands.size() && wait_ == 0) {
    done_ = current_ + 1;
    current_ = -1;
  }
}

void ScenarioPlayer::Execute(const bench::Command& c, std::ostream& out) {
  line_ = c.line;
  const bool device = bus_ != nullptr;
  switch (c.kind) {
    case CommandKind::Report:
      if (device && pendant_ >= 0) bus_->QueueInput(pendant_, c.bytes.data(), c.bytes.size());
      break;
    case CommandKind::Unplug:
      if (device && pendant_ >= 0) bus_->Unplug(pendant_, true);
      break;
    case CommandKind::Plug:
      if (!device) break;
      if (pendant_ < 0) {
        pendant_ = bus_->ArriveDevice(bench::kVirtualPendantPath, kPendantVendorId,
                                      kPendantProductId, true);
      } else {
        bus_->Plug(pendant_, true);
      }
      break;
    case CommandKind::PlugOther:
      if (!device) break;
      if (other_ < 0) {
        other_ = bus_->ArriveDevice(bench::kOtherDevicePath, 0x1209, 0x0001, true);
      } else {
        bus_->Unplug(other_, false);
        bus_->Plug(other_, true);
      }
      break;
    case CommandKind::Latency:
      if (device && pendant_ >= 0) bus_->SetLatency(pendant_, static_cast<uint32_t>(c.number));
      break;
    case CommandKind::Cycle:
    case CommandKind::Tick:
      wait_ = c.number;
      break;
    case CommandKind::ShowDisplay:
    case CommandKind::ShowReport: {
      uint8_t report[sim::kOutputReportBytes] = {};
      std::size_t writes = 0;
      if (device && pendant_ >= 0) {
        writes = bus_->OutputCount(pendant_);
        if (writes > 0) bus_->LastOutput(pendant_, report, sizeof report);
      }
      out << (c.kind == CommandKind::ShowDisplay ? sim::DisplayLine(report)
                                                 : sim::ReportLine(report, writes))
          << std::endl;
      break;
    }
    default:
      break;  // the host's side: LinuxCNC's here
  }
}

}  // namespace km4r::hal
