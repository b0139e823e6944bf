#include "tests/session/session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "bench/host/alloc_counter.h"
#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/host_string.h"
#include "platform/posix/message_loop.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "settings/setting_descriptors.h"
#include "tests/fuzz/host_text.h"

namespace km4r::test {
namespace {

// Cycles after a stop condition (wheel bringing no counts, link gone,
// position or switch left, E-stop, reset) by which a jog must have had its
// "ENDJOG": WheelActiveTicks.
constexpr int kStopCycles = 3;
// Cycles with the wheel reported still, after a jog ended, by which a 204
// pressed at its start must have had its 205.
constexpr int kReleaseCycles = 20;
// Outer cycles of steady turning in a continuous position by which the jog
// must run, however the host pumps messages.
constexpr int kProgressCycles = 20;
// "ENDJOG"s a still wheel may bring after the pendant went.
constexpr int kUnpluggedStops = 24;
// Quiet cycles at least, and at most, after a tally until every count is out.
constexpr int kSettleCycles = 12;
constexpr int kDrainCycles = 1000;
// Cycles after start-up in which the plug-in may make what it makes lazily.
constexpr int kStartupCycles = 4;
// Reports the pendant holds at most.
constexpr std::size_t kQueueLimit = 64;

// The host fields a step may set; code = kind * 8 + axis.
struct HostField {
  const char* name;
  char block;
  std::size_t at;
  char type;  // d: double, i: int32, b: byte
};
constexpr HostField kHostFields[] = {
    {"rotation", 'B', host::offset::kRotationAngle, 'd'},
    {"increment", 'C', host::offset::kStepIncrement, 'd'},
    {"distance", 'B', host::offset::kDistanceMode, 'i'},
    {"busy", 'C', host::offset::kBusyIndicator, 'i'},
    {"queue_in", 'A', host::offset::kMotionQueueIn, 'i'},
    {"queue_out", 'A', host::offset::kMotionQueueOut, 'i'},
    {"reset", 'A', host::offset::kResetIndicator, 'b'},
    {"buffer_in", 'C', host::offset::kBufferQueueIn, 'i'},
    {"vlimit", 'C', host::offset::kAxisVelocityLimit, 'i'},
    {"jogparam", 'C', host::offset::kAxisJogParam, 'i'},
};

constexpr short kKnownDroReads[] = {3,   22,  39,  55,  56,  74,  202, 800,
                                    801, 802, 803, 804, 805, 818, 821, 828};
constexpr short kKnownLedReads[] = {15, 83, 800, 804, 805, 806};

template <typename T, std::size_t N>
bool In(const T (&table)[N], T code) {
  return std::find(std::begin(table), std::end(table), code) != std::end(table);
}

// One host for every session: its blocks are large, and making them anew for
// each would cost more than a short session itself. It is put back to a new
// host's state instead, with the module state.
sim::InProcessHost& FreshHost() {
  static sim::InProcessHost* const host = new sim::InProcessHost();
  sim::InProcessHost& h = *host;
  platform::HostString::ReleaseAt(host::StatusTextSlot(h.Blocks()));
  ResetModuleState();
  for (auto* block : {&h.blockA, &h.blockB, &h.blockC})
    std::memset(block->data(), 0, block->size());
  platform::HostString::EmptyAt(host::StatusTextSlot(h.Blocks()));
  h.dro.fill(0.0);
  h.led.fill(false);
  h.Clear();
  h.window = nullptr;
  h.record = false;
  sim::InProcessHost::current = host;
  h.Install();
  return h;
}

class Session : sim::InProcessHost::Hooks {
 public:
  Session(const Scenario& sc, const MoreSteps& more, const StepActions& watch)
      : sc_(sc), more_(more), watch_(watch), bus_(device_.bus), id_(device_.id) {
    loop_ = std::make_unique<platform::MessageLoop>(clock_);
    fake_.hooks = this;
    fake_.record = static_cast<bool>(watch_);
    fake_.Start(static_cast<platform::HostWindow*>(loop_.get()));
    if (sc.ready) {
      fake_.ReadyToJog();
      auto& s = Module().settings;
      s.AutoChangeSens = static_cast<int16_t>(sc.autoSens);
      s.DelaySteps = sc.delaySteps;
      s.VelocityInAuto = static_cast<int16_t>(sc.velocity);
      s.StepJogRate = 100;
      fake_.Set<double>(fake_.blockC, host::offset::kStepIncrement, 0.001);
    }
  }
  ~Session() {
    StopPlug();
    fake_.hooks = nullptr;
    // The host's own clean-up (the slot is unaligned, so a leak checker
    // cannot see the text through it).
    platform::HostString::ReleaseAt(host::StatusTextSlot(fake_.Blocks()));
  }

  std::string Run(int* atStep) {
    while (fault_.empty()) {
      const Step* st = Next();
      if (st == nullptr) break;
      Outer(*st);
    }
    if (fault_.empty()) End();
    *atStep = tick_;
    return fault_;
  }

  SessionStats stats;

 private:
  // KM4R_SAFETY_TRACE=1 prints every host action with its step.
  void Trace(const char* what, const char* detail, int n = 0) const {
    static const bool on = std::getenv("KM4R_SAFETY_TRACE") != nullptr;
    if (on)
      std::printf("%4d%s %s %s %d\n", tick_, pumping_ > 0 && inNestedTick_ ? " nested" : "", what,
                  detail, n);
  }

  void Fault(const std::string& what) {
    if (fault_.empty()) fault_ = what + " (step " + std::to_string(tick_) + ")";
  }

  // The next step, or null; the source's own work is not the plug-in's
  // allocation.
  const Step* Next() {
    if (next_ >= sc_.steps.size()) {
      if (!more_) return nullptr;
      const bool counting = counting_;
      if (counting) PauseCount();
      sc_.steps.clear();
      next_ = 0;
      const bool going = more_(sc_.steps);
      if (counting) ResumeCount();
      if (!going || sc_.steps.empty()) return nullptr;
    }
    return &sc_.steps[next_++];
  }

  void PauseCount() { allocations_ += sim::AllocCounter::Stop(); }
  void ResumeCount() { sim::AllocCounter::Start(); }

  // Reports leave the queue only by being read (unplugging clears it).
  void Sync() {
    while (pendingCount_ > bus_->QueuedInputs(id_)) {
      const Pending p = pending_[pendingHead_];
      pendingHead_ = (pendingHead_ + 1) % pending_.size();
      --pendingCount_;
      const sim::InputFields& r = p.report;
      Trace("read counter", "", r.counter);
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
        if (tallyOn_) tallyTurned_ += d < 128 ? d : d - 256;
      }
      read_ = r;
      haveRead_ = true;
    }
  }

  // The jog mode and axis the plug-in has decoded.
  static int Position() {
    const PendantWindow* w = Module().window;
    return w == nullptr ? -1 : static_cast<int>(w->jogMode) * 16 + w->axisIndex;
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
      for (int i = 0; i < ticks; ++i) {
        const Step* st = Next();
        if (st == nullptr) break;
        Tick(*st, true);
      }
      --pumping_;
    }
  }

  void DoButton(short code) override {
    Sync();
    Trace("DoButton", "", code);
    ++stats.buttons;
    if (!KnownButton(code)) Fault("unknown button " + std::to_string(code));
    if (pumping_ > 0 && inNestedTick_ && code == host::code::kButtonAltJogPress)
      Fault("204 from a nested cycle");
    if (code == host::code::kButtonEstop) estopPressOwed_ = false;
    if (code == host::code::kButtonAltJogPress) {
      if (owed205_) Fault("204 pressed again before its 205");
      owed205_ = true;
      releaseTicks_ = 0;
    }
    if (code == host::code::kButtonAltJogRelease) owed205_ = false;
    // The jog it belongs to can only start once the press has returned.
    const bool press = code == host::code::kButtonAltJogPress;
    if (press) inPress_ = true;
    MaybePump(press ? 'b' : 'x');
    if (press) {
      inPress_ = false;
      releaseTicks_ = 0;
    }
  }
  // The host has stored the value already.
  void SetDro(short code, double) override {
    Sync();
    ++stats.droWrites;
    if (!KnownDroWrite(code)) Fault("unknown DRO written " + std::to_string(code));
    MaybePump('s');
  }
  // The host answers once the loop has run.
  void GetDro(short code) override {
    Sync();
    if (!In(kKnownDroReads, code)) Fault("unknown DRO read " + std::to_string(code));
    MaybePump();
  }
  void GetLed(short code) override {
    Sync();
    Trace("GetLED", "", code);
    if (!In(kKnownLedReads, code)) Fault("unknown LED read " + std::to_string(code));
    MaybePump();
  }
  void SetLed(short code, bool) override { Fault("SetLED " + std::to_string(code)); }
  void Code(const char* text) override {
    Sync();
    Trace("Code", text);
    TakeCode(text);
    CheckWheel();
    MaybePump('c');
  }
  void TakeCode(const char* text) {
    MoveText move;
    if (!ParseHostCode(text, &move)) return Fault(std::string("unknown text \"") + text + "\"");
    if (std::strcmp(text, "ENDJOG") == 0) {
      ++stats.endJogs;
      // A pendant that cannot be read is a still wheel: its jog ends once.
      if (!plugged_ && ++endjogsUnplugged_ > kUnpluggedStops)
        Fault(std::to_string(endjogsUnplugged_) + " ENDJOG with the pendant unplugged");
      jogOpen_ = false;
      releaseTicks_ = 0;
      return;
    }
    if (pumping_ > 0 && inNestedTick_) Fault(std::string("\"") + text + "\" from a nested cycle");
    if (std::strcmp(text, "DOJOG") == 0) {
      ++stats.doJogs;
      CheckMotion("DOJOG");
      int axis = -1;
      for (int a = 0; a < host::kAxisCount; ++a) {
        const std::size_t at = host::JogRecordField(a, host::offset::kJogStartRequest);
        if (fake_.Get<uint8_t>(fake_.blockA, at) == 0) continue;
        axis = a;
        fake_.Set<uint8_t>(fake_.blockA, at, 0);  // the host takes the request
      }
      const int dir =
          axis < 0 ? -1
                   : fake_.Get<int32_t>(fake_.blockA,
                                        host::JogRecordField(axis, host::offset::kJogDirection));
      if (!jogOpen_ && StopAge() > kStopCycles)
        Fault("jog started " + std::to_string(StopAge()) + " cycles into a stop condition");
      if (jogOpen_ && (axis != jogAxis_ || dir != jogDir_))
        Fault("running jog turned to axis " + std::to_string(axis) + " direction " +
              std::to_string(dir) + " without ENDJOG");
      jogOpen_ = true;
      lastJogTick_ = outerTicks_;
      jogAxis_ = axis;
      jogDir_ = dir;
      jogAt_ = Position();
      return;
    }
    if (!move.isMove) return;
    ++stats.moves;
    CheckMotion("move");
    if (!tallyOn_) return;
    if (move.rotated || (tallyAxis_ != 0 && move.axis != tallyAxis_))
      return Fault(std::string("tallied move on another axis: ") + text);
    tallyCommanded_ += std::llround(move.distance * 1e4);
  }

  void Apply(const HostSet& set) {
    switch (set.knob) {
      case Knob::Led:
        if (static_cast<unsigned>(set.code) < fake_.led.size())
          fake_.led[set.code] = set.value != 0;
        break;
      case Knob::Dro:
        if (static_cast<unsigned>(set.code) < fake_.dro.size()) fake_.dro[set.code] = set.value;
        break;
      case Knob::Field: {
        const HostField& f = kHostFields[(set.code / 8) % std::size(kHostFields)];
        auto& block = f.block == 'A' ? fake_.blockA : f.block == 'B' ? fake_.blockB : fake_.blockC;
        const std::size_t at = f.at + 4 * static_cast<std::size_t>(set.code % 8 % 6);
        if (f.type == 'd') fake_.Set(block, at, set.value);
        if (f.type == 'i')
          fake_.Set(block, at, static_cast<int32_t>(static_cast<int64_t>(set.value)));
        if (f.type == 'b') fake_.Set(block, at, static_cast<uint8_t>(set.value != 0.0));
        break;
      }
      case Knob::Setting:
        SetSettingValue(Module().settings, kSettingDescriptors[set.code % kSettingCount],
                        static_cast<int32_t>(static_cast<int64_t>(set.value)));
        break;
      case Knob::Latency:
        latency_ = static_cast<uint32_t>(set.value);
        bus_->SetLatency(id_, latency_);
        break;
    }
  }

  void ApplyEvent(Event e) {
    if ((e == Event::Unplug || e == Event::MissedRemoval) && plugged_) {
      plugged_ = reachable_ = false;
      pendingCount_ = 0;
      bus_->Unplug(id_, e == Event::Unplug);
    } else if ((e == Event::Replug || e == Event::SilentReplug) && !plugged_) {
      plugged_ = true;
      endjogsUnplugged_ = 0;
      ++stats.replugs;
      bus_->Plug(id_, e == Event::Replug);
      // Without an arrival message nobody opens it again.
      reachable_ = e == Event::Replug;
    } else if (e == Event::Stranger) {
      if (other_ < 0) {
        other_ = bus_->ArriveDevice("/dev/virtual/hid-stranger", 0x046D, 0xC077, true);
      } else {
        bus_->Unplug(other_, false);
        bus_->Plug(other_, true);
      }
      // Any arrival opens the pendant's path again.
      reachable_ = plugged_;
    }
  }

  // A step of the outermost level: the tally's bounds, and the allocation
  // count around its cycles and Update calls.
  void Outer(const Step& st) {
    if (st.tally != 0 && !tallyOn_) {
      for (const HostSet& set : st.sets) Apply(set);
      tallyOn_ = true;
      tallyTurned_ = tallyCommanded_ = 0;
      tallyUnits_ =
          std::llround(fake_.Get<double>(fake_.blockC, host::offset::kStepIncrement) * 1e4);
      tallyAxis_ = st.axisSel >= 1 && st.axisSel <= 3 ? "XYZ"[st.axisSel - 1] : 0;
    } else if (st.tally == 0 && tallyOn_) {
      CloseTally(st);
    }
    allocations_ = 0;
    Tick(st, false);
    if (allocations_ != 0) Fault(std::to_string(allocations_) + " heap allocations in a cycle");
    if (watch_ && !watch_(fake_.calls)) Fault("host actions unlike the model's");
    fake_.Clear();
    if (st.cycles > 0) ++outerCycles_;
  }

  // Quiet cycles until every held count is out, then the distances.
  void CloseTally(const Step& like) {
    Step quiet;
    quiet.axisSel = like.axisSel, quiet.stepSel = like.stepSel, quiet.mode = like.mode;
    quiet.enable = like.enable, quiet.estop = like.estop, quiet.reset = lastReset_;
    quiet.led15 = lastLed15_, quiet.tally = 1;
    for (int i = 0; i < kDrainCycles && fault_.empty(); ++i) {
      const PendantWindow* w = Module().window;
      if (i >= kSettleCycles &&
          (w == nullptr ||
           (w->jogCountAccumulator == 0 && w->stepCarry == 0 && bus_->QueuedInputs(id_) == 0)))
        break;
      Tick(quiet, false);
    }
    tallyOn_ = false;
    ++stats.tallies;
    stats.talliedCounts += static_cast<uint64_t>(std::llabs(tallyTurned_));
    if (tallyCommanded_ != tallyTurned_ * tallyUnits_)
      Fault("commanded " + std::to_string(tallyCommanded_) + " units of 0.0001 for " +
            std::to_string(tallyTurned_) + " counts of " + std::to_string(tallyUnits_));
  }

  // Applies the step's pendant and host state, then lets its timer messages
  // through (inside the pumping callback when nested).
  void Tick(const Step& st, bool nested) {
    ++tick_;
    // What the bus and the host do is not the plug-in's allocation.
    const bool counting = counting_;
    if (counting) PauseCount();
    counting_ = false;
    ApplyEvent(st.event);
    if (st.event != Event::None) ++events_;
    for (const HostSet& set : st.sets) Apply(set);
    if (st.reset != lastReset_) {
      fake_.Set<uint8_t>(fake_.blockA, host::offset::kResetIndicator,
                         static_cast<uint8_t>(st.reset));
      fake_.led[host::code::kLedReset] = st.reset != 0;
      lastReset_ = st.reset;
    }
    if (st.led15 != lastLed15_) fake_.led[host::code::kLedAltJog] = st.led15 != 0;
    lastLed15_ = st.led15;
    pendant_.counter = (pendant_.counter + st.delta) & 0xFF;
    pendant_.speed = st.speed & 0xFF;
    pendant_.axisSel = st.axisSel;
    pendant_.stepSel = st.stepSel;
    pendant_.mode = st.mode;
    pendant_.enable = st.enable;
    pendant_.estop = st.estop;
    // One report a step while the link can be read. A change of the E-stop
    // switch that is next in line must reach the host within this cycle
    // (when reads take no time).
    if (st.send && st.cycles > 0 && plugged_ && reachable_ && Module().window != nullptr &&
        bus_->QueuedInputs(id_) < kQueueLimit) {
      device_.Queue(pendant_);
      // Next in line: the report before it is the last one read (an unplug
      // drops unread ones).
      const bool edge = latency_ == 0 && pendingCount_ == 0 && pendant_.estop != read_.estop;
      pending_[(pendingHead_ + pendingCount_++) % pending_.size()] = Pending{pendant_, edge};
    }
    if (!nested) {
      armedAt_ = st.pumpAt;
      armedOn_ = st.pumpOn;
      armedPump_ = st.pumpTicks;
      callsThisTick_ = 0;
      clock_.Advance(static_cast<uint64_t>(st.stall));
    }
    counting_ = nested ? counting : !watch_ && outerCycles_ >= kStartupCycles;
    if (counting_) ResumeCount();
    const int ticksBefore = tick_;
    for (int c = 0; c < st.cycles; ++c) Cycle(nested);
    if (!nested)
      for (int i = 0; i < st.updates; ++i) Update();
    if (!nested && counting_) PauseCount();
    if (!nested) counting_ = false;
    Sync();
    CheckState();
    // Steps run inside this one have counted the time it took.
    AfterCycle(st.cycles > 0 && tick_ == ticksBefore, nested);
  }

  // One timer message.
  void Cycle(bool nested) {
    clock_.Advance(kCyclePeriodMs);
    ++stats.cycles;
    const bool wasNested = inNestedTick_;
    inNestedTick_ = nested;
    const int eventsBefore = events_;
    const bool linkWasUp = linkUp_ && lastEvents_ == events_;
    lastEvents_ = events_;
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
    if (own != 0 && !nested) CheckOutput();
  }

  // The report the pendant received: id 0, reset byte 0 or 1, the current
  // sequence byte, zero trailing bytes, printable text once written (a zero
  // byte on line 2 while no position text was ever formatted).
  void CheckOutput() {
    uint8_t report[kOutputReportSize];
    if (!bus_->LastOutput(id_, report, sizeof report)) return Fault("no output report");
    const bool noPosition = Module().positionText[0] == '\0';
    for (int i = 0; i < 16; ++i) {
      const uint8_t c = report[2 + i];
      if (Printable(c)) {
        written_[i] = true;
      } else if (c != 0 || (written_[i] && !(i >= 8 && noPosition))) {
        Fault("display byte " + std::to_string(2 + i));
      }
    }
    if (report[0] != 0) Fault("report id byte " + std::to_string(report[0]));
    if (report[1] > 1) Fault("reset byte " + std::to_string(report[1]));
    if (pumping_ == 0 && report[18] != (Module().ticks.UpdateSequence & 0xFF))
      Fault("sequence byte " + std::to_string(report[18]));
    if (report[19] != 0 || report[20] != 0) Fault("trailing bytes");
  }

  // The plug-in's working fields inside the tables they index, its tick
  // counters in range, the host's status text one of its own.
  void CheckState() {
    const auto range = [this](const char* name, double v, double lo, double hi) {
      if (!(v >= lo && v <= hi))
        Fault(std::string(name) + " " + std::to_string(v) + " out of range");
    };
    if (const PendantWindow* w = Module().window) {
      range("axisIndex", w->axisIndex, 0, 5);
      using enum JogMode;
      static constexpr JogMode kModes[] = {Idle,          VelocityJog,        RateJog,
                                           JogRateAdjust, FeedOverrideAdjust, SpindleOverrideAdjust,
                                           StepJog,       StepSizeSelect,     AxisZero,
                                           ScreenSelect};
      if (!In(kModes, w->jogMode))
        Fault("jogMode " + std::to_string(static_cast<int32_t>(w->jogMode)));
      range("stepSizeSlot", w->stepSizeSlot, 1, 3);
      range("screenSlot", w->screenSlot, 1, 3);
      range("deltaRingIndex", w->deltaRingIndex, 0, 1);
      range("wheelSteps", w->wheelSteps, 0, 127);
      range("wheelDirection", w->wheelDirection, 0, 1);
      range("displayCycle", w->displayCycle, 0, 159);
      range("jogTickCountdown", w->jogTickCountdown, 0, 5);
      range("velocityFraction", w->velocityFraction, 0.0, 1.0);
    }
    const TickCounters& t = Module().ticks;
    range("UpdateSequence", t.UpdateSequence, 1, 255);
    range("DisplayPhase", t.DisplayPhase, 0, 100);
    range("DirectionChangeTicks", t.DirectionChangeTicks, 0, 1001);
    range("WheelActiveTicks", t.WheelActiveTicks, 0, 3);
    range("DroRestoreTicks", t.DroRestoreTicks, 0, 3);
    const char* status =
        platform::HostString::TextAt(fake_.blockC.data() + host::offset::kStatusText);
    if (status[0] != '\0' && std::strcmp(status, " Jog OFF. ") != 0)
      Fault(std::string("status text \"") + status + "\"");
  }

  // Cycles each stop condition has held without a break; a jog may run for
  // at most kStopCycles of them, and none may start after that.
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
    if (estopPressOwed_ || (pendingCount_ > 0 && pending_[pendingHead_].estopEdge))
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
    const auto mode = static_cast<JogMode>(Position() / 16);
    const bool continuous = mode == JogMode::VelocityJog || mode == JogMode::RateJog;
    if (!continuous) steadyTicks_ = 0;
    ++outerTicks_;
    if (jogOpen_) lastJogTick_ = outerTicks_;
    if (steadyTicks_ > kProgressCycles && outerTicks_ - lastJogTick_ > kProgressCycles)
      Fault("no jog after " + std::to_string(steadyTicks_) + " cycles of steady turning");
  }

  void End() {
    if (tallyOn_) CloseTally(sc_.steps.empty() ? Step{} : sc_.steps.back());
    ended_ = false;
    if (sc_.ending == Ending::DestroyWindow) {
      loop_.reset();
    } else {
      StopPlug();
    }
    if (jogOpen_) Fault("jog left running by the plug-in's end");
    if (owed205_) Fault("205 owed at the plug-in's end");
    ended_ = true;
    StopPlug();
    if (Module().window != nullptr) Fault("window survived StopPlug");
    if (bus_->OpenHandles(id_) != 0) Fault("handles left open");
  }

  Scenario sc_;
  MoreSteps more_;
  StepActions watch_;
  sim::VirtualPendant device_{"/dev/virtual/hid-session"};
  platform::VirtualClock& clock_ = device_.clock;
  sim::InProcessHost& fake_ = FreshHost();
  std::unique_ptr<platform::MessageLoop> loop_;
  platform::VirtualBus* bus_;
  int id_ = -1, other_ = -1, tick_ = 0;
  std::size_t next_ = 0;
  std::string fault_;
  // The pendant, and the host's view of what the plug-in has read.
  sim::InputFields pendant_{.axisSel = 1, .mode = 1, .stepSel = 1}, read_;
  struct Pending {
    sim::InputFields report;
    bool estopEdge;
  };
  std::array<Pending, kQueueLimit + 1> pending_{};
  std::size_t pendingHead_ = 0, pendingCount_ = 0;
  int lastReset_ = 0, lastLed15_ = 0;
  uint32_t latency_ = 0;
  bool plugged_ = true, reachable_ = true, haveRead_ = false, turning_ = false;
  // Direction of the last report read that brought counts.
  int countDirection_ = -1;
  // The tally: counts read, distance commanded (units of 0.0001), units a
  // count is worth, the axis letter the moves must name.
  bool tallyOn_ = false;
  long long tallyTurned_ = 0, tallyCommanded_ = 0, tallyUnits_ = 0;
  char tallyAxis_ = 0;
  // Outer cycles in a row whose own report brought counts the same way.
  int steadyDirection_ = -1, steadyTicks_ = 0, outerTicks_ = 0, lastJogTick_ = 0;
  // Output reports written by cycles run inside the current one.
  std::size_t innerWrites_ = 0;
  bool linkUp_ = false, estopPressOwed_ = false, written_[16] = {};
  int events_ = 0, lastEvents_ = 0, endjogsUnplugged_ = 0, stopAges_[6] = {};
  // The host's view of the jog and the alternate-jog button.
  bool jogOpen_ = false, owed205_ = false, inPress_ = false;
  int jogAxis_ = -1, jogDir_ = -1, jogAt_ = -1, releaseTicks_ = 0;
  // Message loops run from inside a callback.
  int armedAt_ = -1, armedPump_ = 0, callsThisTick_ = 0, pumping_ = 0;
  char armedOn_ = 'n';
  bool inNestedTick_ = false, ended_ = false;
  // Allocations counted in the current outer step.
  bool counting_ = false;
  uint64_t allocations_ = 0;
  int outerCycles_ = 0;
};

// --- The scenario text.

const char* EventName(Event e) {
  static const char* const kNames[] = {"none", "unplug", "missed", "replug", "silent", "stranger"};
  return kNames[static_cast<int>(e)];
}

// The integer fields of a step's line: a sticky one is written where it
// differs from the step before, the others where they differ from a new step.
struct IntField {
  const char* name;
  int Step::*member;
  bool sticky;
};
constexpr IntField kIntFields[] = {
    {"d", &Step::delta, false},     {"s", &Step::speed, true},
    {"axis", &Step::axisSel, true}, {"step", &Step::stepSel, true},
    {"mode", &Step::mode, true},    {"enable", &Step::enable, true},
    {"estop", &Step::estop, true},  {"cycles", &Step::cycles, false},
    {"send", &Step::send, false},   {"updates", &Step::updates, true},
    {"stall", &Step::stall, false}, {"reset", &Step::reset, true},
    {"led15", &Step::led15, true},  {"tally", &Step::tally, true}};

std::string SetKey(const HostSet& s) {
  switch (s.knob) {
    case Knob::Field:
      return std::string("field:") + kHostFields[(s.code / 8) % std::size(kHostFields)].name +
             (s.code / 8 >= 8 ? std::to_string(s.code % 8) : "");
    case Knob::Setting:
      return std::string("setting:") + kSettingDescriptors[s.code % kSettingCount].key;
    case Knob::Latency:
      return "latency";
    default:
      return (s.knob == Knob::Led ? "led:" : "dro:") + std::to_string(s.code);
  }
}

bool ParseSet(const std::string& key, const std::string& value, HostSet* set) {
  const auto colon = key.find(':');
  const std::string kind = key.substr(0, colon);
  const std::string name = colon == std::string::npos ? "" : key.substr(colon + 1);
  set->value = std::strtod(value.c_str(), nullptr);
  if (kind == "latency") {
    *set = {Knob::Latency, 0, set->value};
    return true;
  }
  if (kind == "led" || kind == "dro") {
    set->knob = kind == "led" ? Knob::Led : Knob::Dro;
    set->code = std::atoi(name.c_str());
    return !name.empty();
  }
  if (kind == "setting") {
    for (int i = 0; i < kSettingCount; ++i)
      if (name == kSettingDescriptors[i].key) {
        *set = {Knob::Setting, i, set->value};
        return true;
      }
    return false;
  }
  if (kind == "field") {
    for (std::size_t i = 0; i < std::size(kHostFields); ++i) {
      const std::size_t n = std::strlen(kHostFields[i].name);
      if (name.compare(0, n, kHostFields[i].name) != 0) continue;
      if (name.size() != n && (i < 8 || name.size() != n + 1 || !std::isdigit(name[n]))) continue;
      *set = {Knob::Field, static_cast<int>(i) * 8 + (name.size() > n ? name[n] - '0' : 0),
              set->value};
      return true;
    }
  }
  return false;
}

}  // namespace

HostSet SettingSet(const char* key, double value) {
  HostSet set{};
  ParseSet(std::string("setting:") + key, std::to_string(value), &set);
  return set;
}

std::string RunSession(const Scenario& sc, int* atStep, SessionStats* stats, const MoreSteps& more,
                       const StepActions& watch) {
  Session session(sc, more, watch);
  std::string fault = session.Run(atStep);
  if (stats != nullptr) *stats = session.stats;
  return fault;
}

std::string FormatScenario(const Scenario& sc) {
  std::ostringstream out;
  out << "settings";
  if (!sc.ready) out << " ready=0";
  out << " auto=" << sc.autoSens << " delay=" << sc.delaySteps << " velocity=" << sc.velocity
      << " ending=" << (sc.ending == Ending::StopPlug ? "stopplug" : "destroy")
      << " steady=" << sc.steady << "\n";
  const Step fresh;
  const Step* prev = &fresh;
  for (const Step& s : sc.steps) {
    out << "tick";
    for (const IntField& f : kIntFields)
      if (s.*f.member != (f.sticky ? *prev : fresh).*f.member)
        out << ' ' << f.name << '=' << s.*f.member;
    if (s.event != Event::None) out << " event=" << EventName(s.event);
    if (s.pumpTicks > 0) {
      out << " pump=";
      if (s.pumpOn == 'n') {
        out << s.pumpAt;
      } else {
        out << s.pumpOn;
      }
      out << ',' << s.pumpTicks;
    }
    for (const HostSet& set : s.sets) {
      char v[32];
      std::snprintf(v, sizeof v, "%.17g", set.value);
      out << ' ' << SetKey(set) << '=' << v;
    }
    out << "\n";
    prev = &s;
  }
  return out.str();
}

bool ParseScenario(const std::string& text, Scenario* sc, std::string* error) {
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
    const auto fail = [&](const std::string& what) {
      *error = "line " + std::to_string(n) + ": " + what;
      return false;
    };
    if (kind != "settings" && kind != "tick") return fail("unknown line");
    Step s = cur;
    for (const IntField& f : kIntFields)
      if (!f.sticky) s.*f.member = Step{}.*f.member;
    s.event = Event::None;
    s.pumpAt = -1;
    s.pumpTicks = 0;
    s.pumpOn = 'n';
    s.sets.clear();
    std::string word;
    while (words >> word) {
      const auto eq = word.find('=');
      if (eq == std::string::npos) return fail(word);
      const std::string key = word.substr(0, eq);
      const std::string value = word.substr(eq + 1);
      const int v = std::atoi(value.c_str());
      if (kind == "settings") {
        if (key == "ready")
          sc->ready = v != 0;
        else if (key == "auto")
          sc->autoSens = v;
        else if (key == "delay")
          sc->delaySteps = v;
        else if (key == "velocity")
          sc->velocity = v;
        else if (key == "ending")
          sc->ending = value == "destroy" ? Ending::DestroyWindow : Ending::StopPlug;
        else if (key == "steady")
          sc->steady = v != 0;
        else
          return fail("unknown setting " + key);
        continue;
      }
      const auto it = std::find_if(std::begin(kIntFields), std::end(kIntFields),
                                   [&](const IntField& f) { return key == f.name; });
      HostSet set{};
      if (it != std::end(kIntFields)) {
        s.*(it->member) = v;
      } else if (key == "pump") {
        if (!value.empty() && std::isalpha(static_cast<unsigned char>(value[0])))
          s.pumpOn = value[0];
        s.pumpAt = v;
        s.pumpTicks = std::atoi(value.substr(value.find(',') + 1).c_str());
      } else if (key == "event") {
        for (int e = 0; e < 6; ++e)
          if (value == EventName(static_cast<Event>(e))) s.event = static_cast<Event>(e);
      } else if (ParseSet(key, value, &set)) {
        s.sets.push_back(set);
      } else {
        return fail("unknown field " + key);
      }
    }
    if (kind == "tick") {
      sc->steps.push_back(s);
      cur = s;
    }
  }
  return true;
}

Scenario Shrink(Scenario sc) {
  int tick = 0;
  const auto kind = [](const std::string& fault) { return fault.substr(0, fault.find(" (step")); };
  const std::string want = kind(RunSession(sc, &tick));
  auto fails = [&](const Scenario& c) {
    int t = 0;
    return kind(RunSession(c, &t)) == want;
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
      [](Step& s) { s.enable = 0; },
      [](Step& s) { s.sets.clear(); }};
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

}  // namespace km4r::test
