#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/session_view.h"
#include "bench/temp_dir.h"
#include "pendant/pendant_window.h"

namespace km4r::bench {

void SetUpDemoMachine(sim::HostSim& host, SimMachine& machine) {
  host.led[host::code::kLedJogEnabled] = true;
  host.dro[host::code::kDroStepSize] = 0.001;
  host.dro[host::code::kDroFeedRate] = 1500.0;
  host.dro[host::code::kDroFeedOverride] = 100.0;
  host.dro[host::code::kDroSpindleOverride] = 100.0;
  host.dro[host::code::kDroJogRate] = 50.0;
  host.dro[host::code::kDroFeedShown] = 1500.0;
  host::Store(host.blockC.data(), host::offset::kStepIncrement, 0.001);
  // The host is in incremental mode, so no "G90" follows each move.
  host::Store(host.blockB.data(), host::offset::kDistanceMode, int32_t{1});
  for (int axis = 0; axis < host::kAxisCount; ++axis)
    host::Store(host.blockC.data(),
                host::offset::kAxisVelocityLimit + 4 * static_cast<std::size_t>(axis),
                int32_t{600});
  machine.SetEnabled(true);
  machine.SetFollowStepSize(true);
}

std::vector<std::string> DemoMachineScenario() {
  std::vector<std::string> lines = {
      "led 83 on",           "dro 828 0.001", "dro 818 1500", "dro 821 100",
      "dro 74 100",          "dro 3 50",      "dro 55 1500",  "field stepIncrement 0.001",
      "field distanceMode 1"};
  for (int axis = 0; axis < host::kAxisCount; ++axis)
    lines.push_back("field axisVelocityLimit[" + std::to_string(axis) + "] 600");
  lines.push_back("machine on");
  lines.push_back("machine follow-step-size on");
  return lines;
}

namespace {

// Input report byte 3: axis selector in bits 0-3, E-stop in bit 5, the mode
// field in bits 6-7 (the demo uses mode 2).
constexpr uint8_t kMode2 = 0x80;
constexpr uint8_t kEstop = 0x20;

class Demo {
 public:
  Demo(std::ostream& out, int paceMs)
      : out_(out),
        paceMs_(paceMs),
        host_(clock_, [this](const std::string& line) { actions_.push_back(NamedAction(line)); }) {}

  int Run(const std::string& modulePath, std::ostream& err) {
    std::string error;
    if (!host_.Load(modulePath, &error)) {
      err << "pendant-bench: " << error << '\n';
      return 1;
    }
    bus_ = host_.Bus();
    if (bus_ == nullptr) {
      err << "pendant-bench: " << modulePath
          << " has no virtual pendant; the demo needs the bench build of the module\n";
      return 1;
    }
    TempDir dir;
    if (dir.path().empty()) {
      err << "pendant-bench: cannot create a temporary directory\n";
      return 1;
    }
    return Play((dir.path() / "profile.xml").string(), err);
  }

 private:
  int Play(const std::string& profile, std::ostream& err) {
    bus_->Reset();
    bus_->SetClock(&clock_);
    pendant_ = bus_->AddDevice("/dev/hidraw-virtual0", kPendantVendorId, kPendantProductId);
    SetUpDemoMachine(host_.state(), host_.machine());
    const std::string name = host_.Start(profile);
    const std::string problem = host_.Problem();
    if (!problem.empty()) {
      err << "pendant-bench: " << problem << '\n';
      return 1;
    }
    out_ << "pendant-bench demo: " << name << "\n"
         << "virtual pendant, simulated machine, virtual time\n\n";

    // Axis X, step selector 1: step jogging.
    Hold(1, 1, 4);
    Show("Step jog X, wheel at rest");
    Turn(1, 1, 3, 8);
    Hold(1, 1, 1);
    Turn(1, 1, 5, 8);
    Hold(1, 1, 6);
    Show("Step jog X: three detents, then five");

    Hold(2, 1, 2);
    Turn(2, 1, -4, 6);
    Hold(2, 1, 6);
    Show("Axis Y: four detents back");

    // Step selector 4: step-size selection; two wheel starts go to the
    // second and then the third configured size.
    Hold(1, 4, 2);
    Turn(1, 4, 1, 20);
    Hold(1, 4, 6);
    Turn(1, 4, 1, 20);
    Hold(1, 4, 6);
    Show("Step size: two wheel starts");

    Hold(1, 1, 2);
    Turn(1, 1, 2, 8);
    Hold(1, 1, 6);
    Show("Step jog X with the new step size: two detents");

    // Step selector 3: rate jog, moving once the wheel has turned the
    // configured delay in counts.
    Hold(1, 3, 2);
    for (int i = 0; i < 16; ++i) Turn(1, 3, 4, 40);
    Show("Continuous jog X while the wheel turns");
    Hold(1, 3, 8);
    Show("Wheel stopped: jog ends");

    // Axis selector 4 in mode 2: feed-rate override.
    Hold(4, 1, 2);
    Turn(4, 1, 10, 8);
    Hold(4, 1, 4);
    Show("Feed override up ten counts");

    // Step selector 5: zero the selected axis on a wheel start.
    Hold(1, 5, 2);
    Turn(1, 5, 1, 20);
    Hold(1, 5, 4);
    Show("Zero X");

    Hold(1, 1, 2, kEstop);
    // The E-STOP text blinks; wait for its visible half.
    for (int i = 0; i < 40 && DisplayBlank(); ++i) Hold(1, 1, 1, kEstop);
    Show("E-stop pressed");
    Hold(1, 1, 4);
    Show("E-stop released");

    host_.Stop();
    out_ << "plug-in stopped after " << clock_.NowMs() << " ms of virtual time\n";
    return 0;
  }

  // One report per cycle for `cycles` cycles, wheel counter unchanged.
  void Hold(uint8_t axisSel, uint8_t stepSel, int cycles, uint8_t extra = 0) {
    for (int i = 0; i < cycles; ++i) Step(axisSel, stepSel, 0, 0, extra);
  }
  // `detents` counts spread over one report, with the given speed byte.
  void Turn(uint8_t axisSel, uint8_t stepSel, int detents, uint8_t speed) {
    Step(axisSel, stepSel, detents, speed, 0);
  }
  void Step(uint8_t axisSel, uint8_t stepSel, int detents, uint8_t speed, uint8_t extra) {
    counter_ = static_cast<uint8_t>(counter_ + detents);
    const uint8_t report[8] = {
        0, counter_, speed, static_cast<uint8_t>(kMode2 | extra | axisSel), stepSel, 0, 0, 0};
    bus_->QueueInput(pendant_, report, sizeof report);
    host_.Cycle();
    host_.Update(1);
  }

  bool DisplayBlank() const {
    uint8_t report[sim::kOutputReportBytes] = {};
    if (bus_->OutputCount(pendant_) > 0) bus_->LastOutput(pendant_, report, sizeof report);
    for (std::size_t i = 2; i < 18; ++i)
      if (report[i] != ' ') return false;
    return true;
  }

  void Show(const std::string& title) {
    uint8_t report[sim::kOutputReportBytes] = {};
    if (bus_->OutputCount(pendant_) > 0) bus_->LastOutput(pendant_, report, sizeof report);
    double pos[3];
    for (int i = 0; i < 3; ++i) pos[i] = host_.machine().Position(i);
    out_ << Frame(title, report, actions_, PositionsLine(pos, 3)) << '\n';
    out_.flush();
    actions_.clear();
    if (paceMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(paceMs_));
  }

  std::ostream& out_;
  int paceMs_;
  platform::VirtualClock clock_;
  std::vector<std::string> actions_;
  BenchHost host_;
  platform::VirtualBus* bus_ = nullptr;
  int pendant_ = -1;
  uint8_t counter_ = 0;
};

}  // namespace

int RunDemo(const std::string& modulePath, int paceMs, std::ostream& out, std::ostream& err) {
  Demo demo(out, paceMs);
  return demo.Run(modulePath, err);
}

}  // namespace km4r::bench
