// The machine moves only while the operator turns the wheel, whatever the
// host does. One property checked over random sessions: the real entry points
// on the virtual pendant, a random operator (wheel, selectors, switch, E-stop,
// unplugging with or without the removal message, strangers arriving) against
// a random host (0 to 40 Update calls per cycle, stalls, callbacks that run a
// message loop for 25 ms to a modal second, a reset entered late or never,
// StopPlug, its window destroyed). A steady operator (one step or continuous
// position, no stop condition) adds conservation of step counts and progress.
// The invariants are listed in docs/RELIABILITY.md; every one is checked at
// every host call and after every cycle.
//
// A failing session is shrunk and written out as a .safety file; kept in
// tests/scenarios, it is replayed before the random sessions on every run.
// KM4R_SAFETY_CYCLES sets the number of random cycles (default 20000),
// KM4R_SAFETY_SEED the first seed, KM4R_SAFETY_DIR another folder of kept
// scenarios, KM4R_SAFETY_TRACE=1 prints every host action.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/posix/message_loop.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "tests/support/rng.h"

namespace km4r::test {
namespace {

// Cycles after a stop condition (wheel stopped, link gone, position or switch
// left, E-stop, reset) by which a jog must have had its "ENDJOG".
constexpr int kStopCycles = 3;
// Cycles with the wheel reported still, after a jog ended, by which a 204
// pressed at its start must have had its 205 (three Update calls, or the
// plug-in's own cycles where they do not come).
constexpr int kReleaseCycles = 20;
// Outer cycles of steady turning in a continuous position by which the jog
// must run, however the host pumps messages.
constexpr int kProgressCycles = 20;
// "ENDJOG"s a still wheel may bring after the pendant went: until
// WheelActiveTicks has run out, by Update calls or by the plug-in's own
// cycles where those do not come.
constexpr int kUnpluggedStops = 24;
// Quiet cycles after a steady session, by which every step count is commanded.
constexpr int kSettleCycles = 12;
// Units of 0.0001 per step count (step size 0.001).
constexpr long long kUnitsPerCount = 10;

enum class Event { None, Unplug, MissedRemoval, Replug, SilentReplug, Stranger };
enum class Ending { StopPlug, DestroyWindow };

// One 25 ms tick: what the pendant reports and what the host does in it.
struct Step {
  int delta = 0;  // wheel counts since the previous tick, signed
  int speed = 0;
  int axisSel = 1, stepSel = 1, mode = 1, enable = 0, estop = 0;
  Event event = Event::None;
  int updates = 1;
  int stall = 0;      // ms the host's thread is busy before the tick
  int pumpAt = -1;    // the host call of this tick that runs a message loop
  int pumpTicks = 0;  // ticks it runs (the next steps, delivered inside it)
  char pumpOn = 'n';  // n: call number pumpAt; b: DoButton(204); s: SetDRO; c: Code
  int reset = 0;
  int led15 = 0;
};

struct Scenario {
  int autoSens = 0, delaySteps = 25, velocity = 5;
  // A steady operator: step counts must all be commanded, a steady turn
  // must get its jog.
  bool steady = false;
  Ending ending = Ending::StopPlug;
  std::vector<Step> steps;
};

// --- The scenario text: a header line, then one line per tick with only the
// fields that differ from the line before.

const char* EventName(Event e) {
  static const char* const kNames[] = {"none", "unplug", "missed", "replug", "silent", "stranger"};
  return kNames[static_cast<int>(e)];
}

std::string Format(const Scenario& sc) {
  std::ostringstream out;
  out << "settings auto=" << sc.autoSens << " delay=" << sc.delaySteps
      << " velocity=" << sc.velocity
      << " ending=" << (sc.ending == Ending::StopPlug ? "stopplug" : "destroy")
      << " steady=" << sc.steady << "\n";
  Step prev;
  for (const Step& s : sc.steps) {
    out << "tick";
    auto field = [&](const char* name, int v, int was) {
      if (v != was) out << ' ' << name << '=' << v;
    };
    field("d", s.delta, 0);
    field("s", s.speed, prev.speed);
    field("axis", s.axisSel, prev.axisSel);
    field("step", s.stepSel, prev.stepSel);
    field("mode", s.mode, prev.mode);
    field("enable", s.enable, prev.enable);
    field("estop", s.estop, prev.estop);
    if (s.event != Event::None) out << " event=" << EventName(s.event);
    field("updates", s.updates, prev.updates);
    field("stall", s.stall, 0);
    if (s.pumpTicks > 0) {
      out << " pump=";
      if (s.pumpOn == 'n') {
        out << s.pumpAt;
      } else {
        out << s.pumpOn;
      }
      out << ',' << s.pumpTicks;
    }
    field("reset", s.reset, prev.reset);
    field("led15", s.led15, prev.led15);
    out << "\n";
    prev = s;
  }
  return out.str();
}

bool Parse(const std::string& text, Scenario* sc, std::string* error) {
  std::istringstream in(text);
  std::string line;
  Step cur;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string kind;
    if (!(words >> kind)) continue;
    if (kind != "settings" && kind != "tick") {
      *error = "line " + std::to_string(n) + ": unknown line";
      return false;
    }
    Step s = cur;
    s.delta = s.stall = 0;
    s.event = Event::None;
    s.pumpAt = -1;
    s.pumpTicks = 0;
    s.pumpOn = 'n';
    std::string word;
    while (words >> word) {
      const auto eq = word.find('=');
      if (eq == std::string::npos) {
        *error = "line " + std::to_string(n) + ": " + word;
        return false;
      }
      const std::string key = word.substr(0, eq);
      const std::string value = word.substr(eq + 1);
      const int v = std::atoi(value.c_str());
      if (kind == "settings") {
        if (key == "auto")
          sc->autoSens = v;
        else if (key == "delay")
          sc->delaySteps = v;
        else if (key == "velocity")
          sc->velocity = v;
        else if (key == "ending")
          sc->ending = value == "destroy" ? Ending::DestroyWindow : Ending::StopPlug;
        else if (key == "steady")
          sc->steady = v != 0;
        continue;
      }
      if (key == "d")
        s.delta = v;
      else if (key == "s")
        s.speed = v;
      else if (key == "axis")
        s.axisSel = v;
      else if (key == "step")
        s.stepSel = v;
      else if (key == "mode")
        s.mode = v;
      else if (key == "enable")
        s.enable = v;
      else if (key == "estop")
        s.estop = v;
      else if (key == "updates")
        s.updates = v;
      else if (key == "stall")
        s.stall = v;
      else if (key == "reset")
        s.reset = v;
      else if (key == "led15")
        s.led15 = v;
      else if (key == "pump") {
        if (!value.empty() && std::isalpha(static_cast<unsigned char>(value[0])))
          s.pumpOn = value[0];
        s.pumpAt = v;
        s.pumpTicks = std::atoi(value.substr(value.find(',') + 1).c_str());
      } else if (key == "event") {
        for (int e = 0; e < 6; ++e)
          if (value == EventName(static_cast<Event>(e))) s.event = static_cast<Event>(e);
      } else {
        *error = "line " + std::to_string(n) + ": unknown field " + key;
        return false;
      }
    }
    if (kind == "tick") {
      sc->steps.push_back(s);
      cur = s;
    }
  }
  return true;
}

// --- The session: plug-in, pendant and host, and the invariants.

using Report = sim::InputFields;

class Session : sim::InProcessHost::Hooks {
 public:
  explicit Session(const Scenario& sc)
      : sc_(sc), bus_(device_.bus), id_(device_.id), quietFrom_(sc.steps.size()) {
    // Quiet outer cycles, in which no message loop runs, end a steady session.
    if (sc_.steady && !sc_.steps.empty()) {
      Step quiet = sc_.steps.back();
      quiet.delta = quiet.speed = quiet.stall = 0;
      quiet.updates = 1;
      quiet.pumpAt = -1;
      quiet.pumpTicks = 0;
      quiet.event = Event::None;
      sc_.steps.insert(sc_.steps.end(), kSettleCycles, quiet);
    }
    loop_ = std::make_unique<platform::MessageLoop>(clock_);
    fake_.record = false;
    fake_.hooks = this;
    fake_.Start(static_cast<platform::HostWindow*>(loop_.get()));
    fake_.ReadyToJog();
    auto& s = Module().settings;
    s.AutoChangeSens = static_cast<int16_t>(sc.autoSens);
    s.DelaySteps = sc.delaySteps;
    s.VelocityInAuto = static_cast<int16_t>(sc.velocity);
    s.StepJogRate = 100;
    fake_.Set<double>(fake_.blockC, host::offset::kStepIncrement, 0.001);
  }
  ~Session() {
    StopPlug();
    fake_.hooks = nullptr;
  }

  // Runs the scenario; returns the first broken invariant ("" if none) and
  // the tick it broke at.
  std::string Run(int* atTick) {
    while (next_ < sc_.steps.size() && fault_.empty()) Tick(false);
    if (fault_.empty()) End();
    *atTick = tick_;
    return fault_;
  }

 private:
  // KM4R_SAFETY_TRACE=1 prints every host action with its tick.
  void Trace(const char* what, const std::string& detail) const {
    static const bool on = std::getenv("KM4R_SAFETY_TRACE") != nullptr;
    if (on)
      std::printf("%4d%s %s %s\n", tick_, pumping_ > 0 && inNestedTick_ ? " nested" : "", what,
                  detail.c_str());
  }

  void Fault(const std::string& what) {
    if (fault_.empty()) fault_ = what + " (tick " + std::to_string(tick_) + ")";
  }

  // Reports leave the queue only by being read (unplugging clears it, and is
  // recorded where it happens).
  void Sync() {
    while (pending_.size() > bus_->QueuedInputs(id_)) {
      const Pending p = pending_.front();
      pending_.pop_front();
      const Report& r = p.report;
      Trace("read", "counter=" + std::to_string(r.counter) + " speed=" + std::to_string(r.speed) +
                        " estop=" + std::to_string(r.estop));
      if (p.estopEdge) estopPressOwed_ = true;
      const int d = (r.counter - read_.counter) & 0xFF;
      turning_ = turning_ || d != 0;
      const int direction = d == 0 || d == 128 ? -1 : d < 128 ? 0 : 1;
      // An outer cycle's own report (read before any loop ran).
      if (pumping_ == 0 && !inNestedTick_) {
        const bool turns = direction >= 0 && r.speed != 0;
        steadyTicks_ = turns && direction == steadyDirection_ ? steadyTicks_ + 1 : 0;
        steadyDirection_ = turns ? direction : -1;
      }
      if (haveRead_ && direction >= 0) {
        countDirection_ = direction;
        turned_ += d < 128 ? d : d - 256;
      }
      read_ = r;
      haveRead_ = true;
    }
  }

  // The jog mode and axis the plug-in has decoded (selector positions no
  // table names keep them).
  static int Position() {
    const PendantWindow* w = Module().window;
    return w == nullptr ? -1 : w->jogMode * 16 + w->axisIndex;
  }
  bool ResetOn() { return fake_.Get<uint8_t>(fake_.blockA, host::offset::kResetIndicator) != 0; }

  // What no motion may meet.
  void CheckMotion(const char* what) {
    if (!plugged_) Fault(std::string(what) + " with the pendant unplugged");
    if (haveRead_ && read_.estop != 0) Fault(std::string(what) + " with the E-stop engaged");
    if (ResetOn()) Fault(std::string(what) + " with the host in reset");
    if (pumping_ > 0) Fault(std::string(what) + " from a nested cycle");
    if (ended_) Fault(std::string(what) + " after the plug-in's end");
  }

  // A running jog goes the way the wheel last went.
  void CheckWheel() {
    if (jogOpen_ && countDirection_ >= 0 && jogDir_ != countDirection_)
      Fault("jog runs in direction " + std::to_string(jogDir_) + " against the wheel");
  }

  // The host may run its message loop in any call, after taking it in.
  void MaybePump(char kind = 'x') {
    ++callsThisTick_;
    const bool armed = armedOn_ == 'n' ? callsThisTick_ - 1 == armedAt_ : armedOn_ == kind;
    if (pumping_ == 0 && armedPump_ > 0 && armed) {
      const int ticks = armedPump_;
      armedPump_ = 0;
      ++pumping_;
      for (int i = 0; i < ticks && next_ < quietFrom_; ++i) Tick(true);
      --pumping_;
    }
  }

  void DoButton(short code) override {
    Session& s = *this;
    s.Sync();
    s.Trace("DoButton", std::to_string(code));
    if (s.pumping_ > 0 && s.inNestedTick_ && code == host::code::kButtonAltJogPress)
      s.Fault("204 from a nested cycle");
    if (code == host::code::kButtonEstop) s.estopPressOwed_ = false;
    if (code == host::code::kButtonAltJogPress) {
      if (s.owed205_) s.Fault("204 pressed again before its 205");
      s.owed205_ = true;
      s.releaseTicks_ = 0;
    }
    if (code == host::code::kButtonAltJogRelease) s.owed205_ = false;
    // The jog it belongs to can only start once the press has returned.
    const bool press = code == host::code::kButtonAltJogPress;
    if (press) s.inPress_ = true;
    s.MaybePump(press ? 'b' : 'x');
    if (press) {
      s.inPress_ = false;
      s.releaseTicks_ = 0;
    }
  }
  // The host has stored the value already.
  void SetDro(short, double) override {
    Sync();
    MaybePump('s');
  }
  // The host answers once the loop has run.
  void GetDro(short) override {
    Sync();
    MaybePump();
  }
  void GetLed(short code) override {
    Sync();
    Trace("GetLED", std::to_string(code));
    MaybePump();
  }
  void Code(const char* text) override {
    Sync();
    Trace("Code", text);
    TakeCode(text);
    CheckWheel();
    MaybePump('c');
  }
  void TakeCode(const char* text) {
    Session& s = *this;
    if (std::strcmp(text, "ENDJOG") == 0) {
      // A pendant that cannot be read is a still wheel: its jog ends once.
      if (!s.plugged_ && ++s.endjogsUnplugged_ > kUnpluggedStops)
        s.Fault(std::to_string(s.endjogsUnplugged_) + " ENDJOG with the pendant unplugged");
      s.jogOpen_ = false;
      s.releaseTicks_ = 0;
      return;
    }
    if (s.pumping_ > 0 && s.inNestedTick_)
      s.Fault(std::string("\"") + text + "\" from a nested cycle");
    if (std::strcmp(text, "DOJOG") == 0) {
      s.CheckMotion("DOJOG");
      int axis = -1;
      for (int a = 0; a < host::kAxisCount; ++a) {
        const std::size_t at = host::JogRecordField(a, host::offset::kJogStartRequest);
        if (s.fake_.Get<uint8_t>(s.fake_.blockA, at) == 0) continue;
        axis = a;
        s.fake_.Set<uint8_t>(s.fake_.blockA, at, 0);  // the host takes the request
      }
      const int dir =
          axis < 0 ? -1
                   : s.fake_.Get<int32_t>(s.fake_.blockA,
                                          host::JogRecordField(axis, host::offset::kJogDirection));
      if (!s.jogOpen_ && s.StopAge() > kStopCycles)
        s.Fault("jog started " + std::to_string(s.StopAge()) + " cycles into a stop condition");
      if (s.jogOpen_ && (axis != s.jogAxis_ || dir != s.jogDir_))
        s.Fault("running jog turned to axis " + std::to_string(axis) + " direction " +
                std::to_string(dir) + " without ENDJOG");
      s.jogOpen_ = true;
      s.lastJogTick_ = s.outerTicks_;
      s.jogAxis_ = axis;
      s.jogDir_ = dir;
      s.jogAt_ = Position();
      return;
    }
    if (std::strncmp(text, "G91G1", 5) == 0) {
      s.CheckMotion("move");
      s.commanded_ += std::llround(std::atof(std::strrchr(text, ' ') + 1) * 1e4);
    }
  }

  // Applies the step's pendant and host state, then lets one timer message
  // through (inside the pumping callback when nested).
  void Tick(bool nested) {
    const Step& st = sc_.steps[next_++];
    ++tick_;
    switch (st.event) {
      case Event::Unplug:
      case Event::MissedRemoval:
        if (plugged_) {
          plugged_ = false;
          reachable_ = false;
          pending_.clear();
          bus_->Unplug(id_, st.event == Event::Unplug);
        }
        break;
      case Event::Replug:
      case Event::SilentReplug:
        if (!plugged_) {
          plugged_ = true;
          endjogsUnplugged_ = 0;
          bus_->Plug(id_, st.event == Event::Replug);
          // Without an arrival message nobody opens it again.
          reachable_ = st.event == Event::Replug;
        }
        break;
      case Event::Stranger:
        if (other_ < 0) {
          other_ = bus_->ArriveDevice("/dev/virtual/hid-stranger", 0x046D, 0xC077, true);
        } else {
          bus_->Unplug(other_, false);
          bus_->Plug(other_, true);
        }
        // Any arrival opens the pendant's path again.
        reachable_ = plugged_;
        break;
      case Event::None:
        break;
    }
    fake_.Set<uint8_t>(fake_.blockA, host::offset::kResetIndicator, static_cast<uint8_t>(st.reset));
    fake_.led[host::code::kLedReset] = st.reset != 0;
    fake_.led[host::code::kLedAltJog] = st.led15 != 0;
    pendant_.counter = (pendant_.counter + st.delta) & 0xFF;
    pendant_.speed = st.speed & 0xFF;
    pendant_.axisSel = st.axisSel;
    pendant_.stepSel = st.stepSel;
    pendant_.mode = st.mode;
    pendant_.enable = st.enable;
    pendant_.estop = st.estop;
    // One report a tick while the link can be read. A change of the E-stop
    // switch that is next in line must reach the host within this tick.
    if (plugged_ && reachable_ && Module().window != nullptr) {
      device_.Queue(pendant_);
      pending_.push_back(Pending{pendant_, pending_.empty() && pendant_.estop != lastQueuedEstop_});
      lastQueuedEstop_ = pendant_.estop;
    }
    if (!nested) {
      armedAt_ = st.pumpAt;
      armedOn_ = st.pumpOn;
      armedPump_ = st.pumpTicks;
      callsThisTick_ = 0;
      clock_.Advance(static_cast<uint64_t>(st.stall));
    }
    clock_.Advance(kCyclePeriodMs);
    const bool wasNested = inNestedTick_;
    inNestedTick_ = nested;
    const int ticksBefore = tick_;
    if (st.event != Event::None) ++events_;
    const int eventsBefore = events_;
    const bool linkWasUp = linkUp_ && st.event == Event::None;
    const std::size_t writesBefore = bus_->OutputCount(id_);
    const std::size_t innerBefore = innerWrites_;
    if (loop_ != nullptr) loop_->PumpOnce(0);
    inNestedTick_ = wasNested;
    // Each cycle, nested or not, writes its one output report.
    const std::size_t own = bus_->OutputCount(id_) - writesBefore - (innerWrites_ - innerBefore);
    innerWrites_ += own;
    const bool linkSteady = linkWasUp && events_ == eventsBefore && plugged_ && reachable_;
    if (own > 1 || (linkSteady && own != 1 && Module().window != nullptr))
      Fault(std::to_string(own) + " output reports in one cycle");
    linkUp_ = plugged_ && reachable_;
    if (!nested)
      for (int i = 0; i < st.updates; ++i) Update();
    Sync();
    // Ticks run inside this one have counted the time it took.
    AfterCycle(tick_ == ticksBefore, nested);
  }

  // Cycles each stop condition has held without a break; a jog may run for
  // at most kStopCycles of them, and none may start after that.
  // Only the conditions that still hold count.
  int StopAge() {
    const auto holds = Holds();
    int age = 0;
    for (std::size_t i = 0; i < holds.size(); ++i)
      if (holds[i]) age = std::max(age, stopAges_[i]);
    return age;
  }
  std::array<bool, 6> Holds() {
    return {!turning_,
            !plugged_,
            haveRead_ && read_.enable != 0,
            haveRead_ && read_.estop != 0,
            ResetOn(),
            jogOpen_ && Position() != jogAt_};
  }

  void AfterCycle(bool counts, bool nested) {
    CheckWheel();
    // Starting is left to the outer cycles.
    if (sc_.steady && !nested) CheckProgress();
    if (estopPressOwed_ || (!pending_.empty() && pending_.front().estopEdge))
      Fault("the pendant's E-stop did not reach the host in its cycle");
    if (counts) {
      const auto holds = Holds();
      for (std::size_t i = 0; i < holds.size(); ++i) stopAges_[i] = holds[i] ? stopAges_[i] + 1 : 0;
      turning_ = false;
    }
    if (jogOpen_ && StopAge() > kStopCycles)
      Fault("jog still running " + std::to_string(StopAge()) + " cycles after a stop condition");
    if (counts && owed205_ && !jogOpen_ && !inPress_ && read_.speed == 0 &&
        ++releaseTicks_ > kReleaseCycles)
      Fault("205 owed " + std::to_string(releaseTicks_) + " cycles after its jog ended");
  }

  // A wheel turned steadily in a continuous position gets its jog.
  void CheckProgress() {
    const bool continuous = Position() / 16 == VelocityJog || Position() / 16 == RateJog;
    if (!continuous) steadyTicks_ = 0;
    ++outerTicks_;
    if (jogOpen_) lastJogTick_ = outerTicks_;
    if (steadyTicks_ > kProgressCycles && outerTicks_ - lastJogTick_ > kProgressCycles)
      Fault("no jog after " + std::to_string(steadyTicks_) + " cycles of steady turning");
  }

  void End() {
    // Every count turned in a steady step jog has been commanded.
    if (sc_.steady && Position() / 16 == StepJog && commanded_ != turned_ * kUnitsPerCount)
      Fault("commanded " + std::to_string(commanded_) + " units for " + std::to_string(turned_) +
            " counts");
    ended_ = false;
    if (sc_.ending == Ending::DestroyWindow) {
      loop_.reset();
    } else {
      StopPlug();
    }
    if (jogOpen_) Fault("jog left running by the plug-in's end");
    if (owed205_) Fault("205 owed at the plug-in's end");
    ended_ = true;
    if (sc_.ending == Ending::DestroyWindow) StopPlug();
  }

  Scenario sc_;
  sim::VirtualPendant device_{"/dev/virtual/hid-safety"};
  platform::VirtualClock& clock_ = device_.clock;
  sim::InProcessHost fake_;  // it resets the module state
  std::unique_ptr<platform::MessageLoop> loop_;
  platform::VirtualBus* bus_;
  int id_ = -1;
  int other_ = -1;
  std::size_t next_ = 0;
  std::size_t quietFrom_;
  int tick_ = 0;
  std::string fault_;
  // The pendant, and the host's view of what the plug-in has read.
  Report pendant_{.axisSel = 1, .mode = 1, .stepSel = 1};
  struct Pending {
    Report report;
    bool estopEdge;
  };
  std::deque<Pending> pending_;
  int lastQueuedEstop_ = 0;
  bool plugged_ = true;
  bool reachable_ = true;
  Report read_;
  bool haveRead_ = false;
  bool turning_ = false;
  // Direction of the last report read that brought counts, and the signed
  // counts read since the first report.
  int countDirection_ = -1;
  long long turned_ = 0;
  long long commanded_ = 0;
  // Outer cycles in a row whose own report brought counts the same way.
  int steadyDirection_ = -1;
  int outerTicks_ = 0, lastJogTick_ = 0;
  int steadyTicks_ = 0;
  // Output reports written by cycles run inside the current one.
  std::size_t innerWrites_ = 0;
  bool linkUp_ = false;
  int events_ = 0;
  int endjogsUnplugged_ = 0;
  int stopAges_[6] = {};
  bool estopPressOwed_ = false;
  // The host's view of the jog and the alternate-jog button.
  bool jogOpen_ = false;
  int jogAxis_ = -1, jogDir_ = -1;
  int jogAt_ = -1;
  bool owed205_ = false;
  bool inPress_ = false;
  int releaseTicks_ = 0;
  // Message loops run from inside a callback.
  int armedAt_ = -1, armedPump_ = 0, callsThisTick_ = 0;
  char armedOn_ = 'n';
  int pumping_ = 0;
  bool inNestedTick_ = false;
  bool ended_ = false;
};

std::string RunScenario(const Scenario& sc, int* atTick) {
  Session session(sc);
  return session.Run(atTick);
}

// --- Random sessions.

// A message loop in some host call: 25 to 200 ms, now and then a modal second.
void RandomPump(Rng& rng, Step& s) {
  s.pumpOn = "nnbsc"[rng.Below(5)];
  s.pumpAt = rng.Range(0, 6);
  s.pumpTicks = rng.Chance(5) ? 40 : rng.Range(1, 8);
}

int RandomUpdates(Rng& rng, int profile) {
  switch (profile) {
    case 0:
      return rng.Chance(97) ? 0 : 1;
    case 1:
      return rng.Range(0, 2);
    case 2:
      return rng.Range(3, 40);
    case 3:
      return 1;
    default:
      return rng.Chance(80) ? rng.Range(0, 2) : rng.Range(0, 40);
  }
}

// One position held throughout, no stop condition: only the wheel and the
// host's timing vary.
Scenario SteadyScenario(Rng& rng, int ticks) {
  Scenario sc;
  sc.steady = true;
  sc.delaySteps = rng.Chance(50) ? 0 : 5;
  sc.velocity = rng.Range(0, 9);
  struct Position {
    int mode, axisSel, stepSel;
  };
  static constexpr Position kPositions[] = {{1, 1, 1}, {1, 2, 1}, {1, 3, 1},
                                            {1, 1, 2}, {1, 2, 3}, {2, 2, 2}};
  const Position& p = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
  const int updateProfile = rng.Below(5);
  // Some hosts run a message loop in every call of one kind.
  const char always = " bsc"[rng.Below(4)];
  int dir = 1;
  Step s;
  s.mode = p.mode;
  s.axisSel = p.axisSel;
  s.stepSel = p.stepSel;
  s.led15 = rng.Chance(50) ? 1 : 0;
  while (static_cast<int>(sc.steps.size()) < ticks) {
    s.stall = 0;
    s.pumpAt = -1;
    s.pumpTicks = 0;
    // Under a host that always runs a loop the wheel mostly turns one way, so
    // that a jog that never starts shows.
    if (rng.Chance(always == ' ' ? 2 : 0)) dir = -dir;
    s.delta = rng.Chance(always == ' ' ? 95 : 99) ? dir * rng.Range(1, 6) : 0;
    s.speed = s.delta != 0 ? rng.Range(1, 255) : 0;
    s.updates = RandomUpdates(rng, updateProfile);
    if (rng.Chance(2)) s.stall = rng.Range(50, 500);
    if (always != ' ') {
      s.pumpOn = always;
      s.pumpTicks = rng.Range(1, 8);
    } else if (rng.Chance(30)) {
      RandomPump(rng, s);
    }
    sc.steps.push_back(s);
  }
  return sc;
}

Scenario RandomScenario(Rng& rng, int ticks) {
  Scenario sc;
  sc.autoSens = rng.Chance(40) ? rng.Range(1, 9) : 0;
  static constexpr int kDelays[] = {0, 5, 25, 100};
  sc.delaySteps = kDelays[rng.Below(4)];
  sc.velocity = rng.Range(0, 9);
  sc.ending = rng.Chance(50) ? Ending::StopPlug : Ending::DestroyWindow;
  struct Position {
    int mode, axisSel, stepSel;
  };
  static constexpr Position kPositions[] = {
      {1, 1, 2}, {1, 2, 2}, {1, 3, 3}, {1, 4, 3}, {2, 1, 2}, {2, 2, 3}, {3, 3, 2}, {3, 7, 3},
      {1, 1, 1}, {1, 2, 1}, {2, 5, 2}, {3, 6, 1}, {1, 1, 4}, {2, 4, 2}, {0, 1, 2}, {1, 9, 77}};
  // How often the host calls Update: never, at the cycle rate, or fast.
  const int updateProfile = rng.Below(5);
  Step cur;
  bool plugged = true;
  int resetDelay = -1;
  int dir = 1;
  while (static_cast<int>(sc.steps.size()) < ticks) {
    const Position& p = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
    cur.mode = p.mode;
    cur.axisSel = p.axisSel;
    cur.stepSel = p.stepSel;
    cur.led15 = rng.Chance(50) ? 1 : 0;
    for (int n = rng.Range(1, 60); n > 0; --n) {
      Step s = cur;
      s.event = Event::None;
      s.stall = 0;
      s.pumpAt = -1;
      s.pumpTicks = 0;
      if (rng.Chance(8)) dir = -dir;
      const bool turning = rng.Chance(75);
      s.delta = turning ? dir * rng.Range(0, 12) : 0;
      s.speed = turning ? (rng.Chance(90) ? rng.Range(1, 255) : 0) : (rng.Chance(10) ? 40 : 0);
      if (rng.Chance(2)) s.enable ^= 1;
      if (rng.Chance(2)) s.estop ^= 1;
      if (rng.Chance(3)) {
        const Position& q = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
        s.mode = q.mode;
        s.axisSel = q.axisSel;
        s.stepSel = q.stepSel;
      }
      if (plugged && rng.Chance(2)) {
        s.event = rng.Chance(50) ? Event::Unplug : Event::MissedRemoval;
        plugged = false;
      } else if (!plugged && rng.Chance(10)) {
        s.event = rng.Chance(80) ? Event::Replug : Event::SilentReplug;
        plugged = true;
      } else if (rng.Chance(1)) {
        s.event = Event::Stranger;
      }
      // The host enters its reset some cycles after the E-stop, or never.
      if (s.estop != 0 && cur.estop == 0) resetDelay = rng.Chance(30) ? -1 : rng.Range(0, 15);
      if (s.estop != 0 && resetDelay == 0) s.reset = 1;
      if (resetDelay > 0) --resetDelay;
      if (s.estop == 0 && s.reset != 0 && rng.Chance(30)) s.reset = 0;
      if (s.estop == 0 && rng.Chance(1)) s.reset = 1;
      s.updates = RandomUpdates(rng, updateProfile);
      if (rng.Chance(2)) s.stall = rng.Range(50, 500);
      if (rng.Chance(6)) RandomPump(rng, s);
      sc.steps.push_back(s);
      cur = s;
    }
  }
  return sc;
}

// Smaller scenarios that still break an invariant: fewer ticks, then plainer
// ticks.
Scenario Shrink(Scenario sc) {
  int tick = 0;
  const auto kind = [](const std::string& fault) { return fault.substr(0, fault.find(" (tick")); };
  const std::string want = kind(RunScenario(sc, &tick));
  auto fails = [&](const Scenario& c) {
    int t = 0;
    return kind(RunScenario(c, &t)) == want;
  };
  if (tick < static_cast<int>(sc.steps.size())) sc.steps.resize(static_cast<std::size_t>(tick));
  for (std::size_t chunk = sc.steps.size() / 2; chunk >= 1; chunk /= 2) {
    for (std::size_t at = 0; at + chunk <= sc.steps.size();) {
      Scenario c = sc;
      c.steps.erase(c.steps.begin() + static_cast<std::ptrdiff_t>(at),
                    c.steps.begin() + static_cast<std::ptrdiff_t>(at + chunk));
      if (fails(c)) {
        sc = c;
      } else {
        at += chunk;
      }
    }
  }
  const std::vector<void (*)(Step&)> plainer = {
      [](Step& s) { s.stall = 0; },
      [](Step& s) { s.pumpAt = -1, s.pumpTicks = 0; },
      [](Step& s) { s.pumpTicks = std::min(s.pumpTicks, 2); },
      [](Step& s) { s.updates = 1; },
      [](Step& s) { s.updates = 0; },
      [](Step& s) { s.led15 = 0; },
      [](Step& s) { s.event = Event::None; },
      [](Step& s) { s.reset = 0; },
      [](Step& s) { s.enable = 0; }};
  for (auto simplify : plainer) {
    for (std::size_t i = 0; i < sc.steps.size(); ++i) {
      Scenario c = sc;
      simplify(c.steps[i]);
      if (fails(c)) sc = c;
    }
  }
  if (sc.ending != Ending::StopPlug) {
    Scenario c = sc;
    c.ending = Ending::StopPlug;
    if (fails(c)) sc = c;
  }
  return sc;
}

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v == nullptr || *v == '\0' ? fallback : std::strtoull(v, nullptr, 10);
}

// --- Fidelity: a host with one Update per cycle and no message loop sees
// the continuous jog exactly as a plain model of its steps computes it
// (with the departures listed in docs/RELIABILITY.md). Axis X, mode 1, the
// step selector at 2 (velocity) or 3 (rate); LED 83 and LED 15 change.

struct ModelReport {
  int delta, speed, stepSel, led83, led15;
};

class ContinuousModel {
 public:
  ContinuousModel(int delaySteps, int divisor) : delay_(delaySteps), divisor_(divisor) {}

  // One cycle and the Update after it; host actions go to out.
  void Cycle(const ModelReport& r, std::vector<std::string>& out) {
    out_ = &out;
    const int mode = r.stepSel == 2 ? VelocityJog : RateJog;
    if (mode != jogMode_) {
      Say("DoButton 334");
      history_.fill(0.0);
      rate_ = 0;
      ring_ = {0, 0};
    }
    jogMode_ = mode;
    counter_ = (counter_ + r.delta) & 0xFF;
    int n = 0;
    if (seen_) {
      const int d = (counter_ - last_ + 256) % 256;
      if (d != 0 && d != 128) {
        n = d < 128 ? d : 256 - d;
        dir_ = d < 128 ? 0 : 1;
      }
    }
    seen_ = true;
    last_ = counter_;
    if (running_ && runningMode_ != jogMode_) {
      End();
      Release();
    } else if (!running_ && started_ && runningMode_ != jogMode_) {
      Release();
    }
    Engine(r, n);
    directionTicks_ = std::min(directionTicks_ + 1, 1000);
    if (activeTicks_ > 0) --activeTicks_;
  }

 private:
  void Say(const std::string& s) { out_->push_back(s); }
  void End() {
    Say("Code ENDJOG");
    running_ = false;
  }
  void Release() {
    started_ = false;
    if (alt_) Say("DoButton 205");
    alt_ = false;
  }
  void Store(int n) {
    ringAt_ ^= 1;
    ring_[ringAt_] = n;
  }
  void Engine(const ModelReport& r, int n) {
    const int s = r.speed;
    const bool velocity = jogMode_ == VelocityJog;
    if (n == 0) Store(0);
    if (dir_ != lastDir_ && (activeTicks_ > 0 || running_)) {
      End();
      if (velocity) history_.fill(0.0);
      rate_ = velocity ? rate_ : 0;
      directionTicks_ = 0;
      lastDir_ = dir_;
      return;
    }
    if (directionTicks_ < 3) return;
    if (s != 0) {
      activeTicks_ = 3;
      if (!velocity) rate_ += n;
      if (!r.led83) return;
    }
    if (activeTicks_ == 0) {
      if (running_) End();
      if (!velocity) rate_ = 0;
      Release();
      if (velocity) history_.fill(0.0);
      return;
    }
    if (!velocity && rate_ < delay_ && !running_) return;
    if (n != 0) Store(n);
    if (ring_[0] + ring_[1] == 0) {
      End();
      return;
    }
    double v = 6000.0;  // DRO 3 at 50 % of 12000
    if (velocity) {
      static constexpr double kWeights[10] = {0.18, 0.36, 0.55, 0.73, 0.91,
                                              1.09, 1.27, 1.45, 1.64, 1.82};
      std::rotate(history_.begin(), history_.begin() + 1, history_.end());
      history_[9] = s;
      double w = 0.0;
      for (int i = 0; i < 10; ++i) w += kWeights[i] * history_[i];
      v = 12000.0 * std::min(1.0, w / 400.0 * 3.0 / divisor_);
    }
    if (s == 0) {
      End();
    } else {
      if (!started_) {
        alt_ = r.led15 != 0;
        if (alt_) Say("DoButton 204");
        started_ = true;
        runningMode_ = jogMode_;
      }
      Say("DOJOG " + std::to_string(static_cast<int>(v)) + " dir " + std::to_string(dir_));
      running_ = true;
    }
    lastDir_ = dir_;
  }

  int delay_, divisor_;
  std::vector<std::string>* out_ = nullptr;
  int jogMode_ = Idle, counter_ = 0, last_ = 0, dir_ = 0, lastDir_ = 0;
  bool seen_ = false;
  std::array<double, 10> history_{};
  std::array<int, 2> ring_{};
  int ringAt_ = 0, rate_ = 0;
  int directionTicks_ = 100, activeTicks_ = 0;
  bool running_ = false, started_ = false, alt_ = false;
  int runningMode_ = 0;
};

// The host actions the fidelity check compares.
struct ActionLog : sim::InProcessHost::Hooks {
  void DoButton(short code) override {
    if (code == 334 || code == 204 || code == 205)
      out.push_back("DoButton " + std::to_string(code));
  }
  void Code(const char* text) override {
    if (std::strcmp(text, "ENDJOG") == 0) out.push_back("Code ENDJOG");
    if (std::strcmp(text, "DOJOG") != 0) return;
    const auto& a = sim::InProcessHost::current->blockA;
    out.push_back("DOJOG " +
                  std::to_string(host::Load<int32_t>(
                      a.data(), host::JogRecordField(0, host::offset::kJogSpeed))) +
                  " dir " +
                  std::to_string(host::Load<int32_t>(
                      a.data(), host::JogRecordField(0, host::offset::kJogDirection))));
  }
  std::vector<std::string> out;
};

TEST(JogSafety, RegularHostSeesTheModelsJog) {
  const uint64_t cycles = FromEnvironment("KM4R_SAFETY_CYCLES", 20000);
  uint64_t ran = 0;
  for (uint64_t seed = 1; ran < cycles; ++seed) {
    Rng rng{seed};
    sim::VirtualPendant device{"/dev/virtual/hid-fidelity"};
    platform::MessageLoop loop(device.clock);
    sim::InProcessHost host;
    host.record = false;
    ActionLog log;
    host.hooks = &log;
    host.Start(static_cast<platform::HostWindow*>(&loop));
    host.ReadyToJog();
    const int delay = rng.Range(0, 30);
    const int velocityIndex = rng.Range(0, 9);
    Module().settings.DelaySteps = delay;
    Module().settings.VelocityInAuto = static_cast<int16_t>(velocityIndex);
    static constexpr int kDivisors[10] = {3, 4, 5, 6, 7, 9, 11, 15, 20, 25};
    ContinuousModel model(delay, kDivisors[velocityIndex]);
    std::vector<std::string> want;
    sim::InputFields f{.axisSel = 1, .mode = 1, .stepSel = 2};
    ModelReport r{0, 0, 2, 1, 0};
    int dir = 1;
    const int ticks = rng.Range(50, 400);
    for (int t = 0; t < ticks; ++t) {
      if (rng.Chance(10)) dir = -dir;
      r.delta = rng.Chance(70) ? dir * rng.Range(0, 8) : 0;
      r.speed = r.delta != 0 || rng.Chance(10) ? rng.Range(0, 200) : 0;
      if (rng.Chance(3)) r.stepSel = 5 - r.stepSel;
      if (rng.Chance(3)) r.led83 ^= 1;
      if (rng.Chance(5)) r.led15 ^= 1;
      host.led[host::code::kLedJogEnabled] = r.led83 != 0;
      host.led[host::code::kLedAltJog] = r.led15 != 0;
      f.counter = (f.counter + r.delta) & 0xFF;
      f.speed = r.speed;
      f.stepSel = r.stepSel;
      device.Queue(f);
      device.clock.Advance(kCyclePeriodMs);
      loop.PumpOnce(0);
      Update();
      // Equal up to this tick: only its own actions are shown.
      const auto had = static_cast<std::ptrdiff_t>(want.size());
      model.Cycle(r, want);
      ASSERT_EQ(std::vector<std::string>(log.out.begin() + had, log.out.end()),
                std::vector<std::string>(want.begin() + had, want.end()))
          << "seed " << seed << ", tick " << t + 1;
    }
    StopPlug();
    host.hooks = nullptr;
    ran += static_cast<uint64_t>(ticks);
  }
}

TEST(JogSafety, KeptScenariosHold) {
  namespace fs = std::filesystem;
  int files = 0;
  // KM4R_SAFETY_DIR replays the .safety files of another folder (a shrunk one).
  const char* dir = std::getenv("KM4R_SAFETY_DIR");
  for (const auto& entry : fs::directory_iterator(dir != nullptr ? dir : KM4R_SCENARIO_DIR)) {
    if (entry.path().extension() != ".safety") continue;
    ++files;
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    Scenario sc;
    std::string error;
    ASSERT_TRUE(Parse(text.str(), &sc, &error)) << entry.path() << ": " << error;
    int tick = 0;
    EXPECT_EQ(RunScenario(sc, &tick), "") << entry.path().filename();
  }
  EXPECT_GT(files, 0);
}

TEST(JogSafety, RandomSessionsHold) {
  const uint64_t cycles = FromEnvironment("KM4R_SAFETY_CYCLES", 20000);
  uint64_t seed = FromEnvironment("KM4R_SAFETY_SEED", 1);
  uint64_t ran = 0;
  for (; ran < cycles; ++seed) {
    Rng rng{seed};
    const int ticks = rng.Range(50, 800);
    const Scenario sc = seed % 3 == 0 ? SteadyScenario(rng, ticks) : RandomScenario(rng, ticks);
    int tick = 0;
    const std::string fault = RunScenario(sc, &tick);
    ran += sc.steps.size();
    if (fault.empty()) continue;
    const Scenario small = Shrink(sc);
    const std::string text = Format(small);
    const std::string path = "safety-seed-" + std::to_string(seed) + ".safety";
    std::ofstream(path) << "# " << RunScenario(small, &tick) << "\n" << text;
    FAIL() << "seed " << seed << ": " << fault << "\nshrunk to " << path << ":\n" << text;
  }
  std::printf("%llu random cycles, seeds up to %llu\n", static_cast<unsigned long long>(ran),
              static_cast<unsigned long long>(seed - 1));
}

}  // namespace
}  // namespace km4r::test
