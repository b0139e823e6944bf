// Input reports, host values and settings (in range or not) through the real
// entry points and the 25 ms cycle on the virtual pendant. Whatever arrives,
// the plug-in may only send the host its own command texts, press its own
// buttons, write its own DROs, read host values it knows, keep its working
// fields inside the tables they index and put printable text on the display.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "platform/host_string.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "settings/setting_descriptors.h"
#include "tests/fuzz/host_text.h"
#include "tests/support/test_host_window.h"

namespace {

using km4r::Module;
using km4r::PendantWindow;

[[noreturn]] void Fail(const char* what, long long detail) {
  std::fprintf(stderr, "report cycle fuzz: %s (%lld)\n", what, detail);
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  bool Empty() const { return p_ >= end_; }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  double Value() {
    static const double kValues[] = {0.0,
                                     0.0001,
                                     0.001,
                                     0.01,
                                     0.1,
                                     1.0,
                                     12.3456,
                                     -0.5,
                                     19.99,
                                     20.0,
                                     25.0,
                                     100.0,
                                     250.0,
                                     300.0,
                                     99999.9999,
                                     -1e9,
                                     1e300,
                                     -1e300,
                                     std::numeric_limits<double>::max(),
                                     -std::numeric_limits<double>::max(),
                                     std::numeric_limits<double>::denorm_min(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     std::numeric_limits<double>::quiet_NaN()};
    const uint8_t pick = Byte();
    if (pick < 200) return kValues[pick % (sizeof kValues / sizeof kValues[0])];
    uint64_t bits = static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

constexpr short kLedCodes[] = {15, 83, 800, 804, 805, 806};
constexpr short kDroCodes[] = {3,   22,  39,  55,  56,  74,  202, 800,
                               801, 802, 803, 804, 805, 818, 821, 828};

bool KnownDroRead(short code) {
  for (short c : kDroCodes)
    if (c == code) return true;
  return false;
}
bool KnownLedRead(short code) {
  for (short c : kLedCodes)
    if (c == code) return true;
  return false;
}

struct CallChecks : km4r::sim::InProcessHost::Hooks {
  void DoButton(short code) override {
    if (!km4r::test::KnownButton(code)) Fail("unknown button", code);
  }
  void SetDro(short code, double) override {
    if (!km4r::test::KnownDroWrite(code)) Fail("unknown DRO written", code);
  }
  void GetDro(short code) override {
    if (!KnownDroRead(code)) Fail("unknown DRO read", code);
  }
  void GetLed(short code) override {
    if (!KnownLedRead(code)) Fail("unknown LED read", code);
  }
  void SetLed(short code, bool) override { Fail("SetLED is never called", code); }
  void Code(const char* text) override {
    km4r::test::MoveText move;
    if (!km4r::test::ParseHostCode(text, &move)) {
      std::fprintf(stderr, "text: \"%s\"\n", text);
      Fail("unknown command text", 0);
    }
  }
};

void CheckWindow(const PendantWindow& w) {
  if (w.axisIndex < 0 || w.axisIndex > 5) Fail("axisIndex", w.axisIndex);
  switch (w.jogMode) {
    case km4r::Idle:
    case km4r::VelocityJog:
    case km4r::RateJog:
    case km4r::JogRateAdjust:
    case km4r::FeedOverrideAdjust:
    case km4r::SpindleOverrideAdjust:
    case km4r::StepJog:
    case km4r::StepSizeSelect:
    case km4r::AxisZero:
    case km4r::ScreenSelect:
      break;
    default:
      Fail("jogMode", w.jogMode);
  }
  if (w.stepSizeSlot < 1 || w.stepSizeSlot > 3) Fail("stepSizeSlot", w.stepSizeSlot);
  if (w.screenSlot < 1 || w.screenSlot > 3) Fail("screenSlot", w.screenSlot);
  if (w.deltaRingIndex < 0 || w.deltaRingIndex > 1) Fail("deltaRingIndex", w.deltaRingIndex);
  if (w.wheelSteps < 0 || w.wheelSteps > 127) Fail("wheelSteps", w.wheelSteps);
  if (w.wheelDirection < 0 || w.wheelDirection > 1) Fail("wheelDirection", w.wheelDirection);
  if (w.displayCycle < 0 || w.displayCycle > 159) Fail("displayCycle", w.displayCycle);
  if (w.jogTickCountdown < 0 || w.jogTickCountdown > 5)
    Fail("jogTickCountdown", w.jogTickCountdown);
  if (w.velocityFraction < 0.0 || w.velocityFraction > 1.0) Fail("velocityFraction", 0);
}

void CheckTicks() {
  const km4r::TickCounters& t = Module().ticks;
  if (t.UpdateSequence < 1 || t.UpdateSequence > 255) Fail("UpdateSequence", t.UpdateSequence);
  if (t.DisplayPhase < 0 || t.DisplayPhase > 100) Fail("DisplayPhase", t.DisplayPhase);
  if (t.DirectionChangeTicks < 0 || t.DirectionChangeTicks > 1001)
    Fail("DirectionChangeTicks", t.DirectionChangeTicks);
  if (t.WheelActiveTicks < 0 || t.WheelActiveTicks > 3)
    Fail("WheelActiveTicks", t.WheelActiveTicks);
  if (t.DroRestoreTicks < 0 || t.DroRestoreTicks > 3) Fail("DroRestoreTicks", t.DroRestoreTicks);
}

// The report the pendant received. Text bytes 2..17: printable once written.
// A zero byte is allowed where nothing has been written yet, and on line 2
// while no position text has ever been formatted (a digits setting outside
// its table formats none).
struct DisplayCheck {
  bool written[16] = {};
  void operator()(const uint8_t* report) {
    const bool noPosition = Module().positionText[0] == '\0';
    for (int i = 0; i < 16; ++i) {
      const uint8_t c = report[2 + i];
      if (km4r::test::Printable(c)) {
        written[i] = true;
      } else if (c != 0 || (written[i] && !(i >= 8 && noPosition))) {
        Fail("display byte", 2 + i);
      }
    }
    if (report[0] != 0) Fail("report id byte", report[0]);
    if (report[1] > 1) Fail("reset byte", report[1]);
    // Written in the cycle just run, and Update does not run inside a cycle.
    if (report[18] != (Module().ticks.UpdateSequence & 0xFF)) Fail("sequence byte", report[18]);
    if (report[19] != 0 || report[20] != 0) Fail("trailing bytes", report[19] | report[20]);
  }
};

// Any value, in range or not, for the setting the byte picks (a number takes
// four more bytes).
void SetSetting(km4r::PendantSettings& s, uint8_t which, Input& in) {
  const km4r::SettingDescriptor& d = km4r::kSettingDescriptors[which % km4r::kSettingCount];
  int32_t v = static_cast<int16_t>(in.U16());
  if (d.kind == km4r::SettingKind::Number) v = static_cast<int32_t>(in.U32());
  if (d.kind == km4r::SettingKind::Flag) v &= 1;
  km4r::SetSettingValue(s, d, v);
}

void SetHostField(km4r::sim::InProcessHost& h, uint8_t which, Input& in) {
  namespace off = km4r::host::offset;
  switch (which % 10) {
    case 0:
      h.Set(h.blockB, off::kRotationAngle, in.Value());
      break;
    case 1:
      h.Set(h.blockC, off::kStepIncrement, in.Value());
      break;
    case 2:
      h.Set(h.blockB, off::kDistanceMode, static_cast<int32_t>(in.Byte() % 3));
      break;
    case 3:
      h.Set(h.blockC, off::kBusyIndicator, static_cast<int32_t>(in.Byte() & 1));
      break;
    case 4:
      h.Set(h.blockA, off::kMotionQueueIn, static_cast<int32_t>(in.Byte() % 4));
      break;
    case 5:
      h.Set(h.blockA, off::kMotionQueueOut, static_cast<int32_t>(in.Byte() % 4));
      break;
    case 6:
      h.Set(h.blockA, off::kResetIndicator, static_cast<uint8_t>(in.Byte() & 1));
      break;
    case 7:
      h.Set(h.blockC, off::kBufferQueueIn, static_cast<int32_t>(in.Byte() % 4));
      break;
    case 8: {
      const int axis = in.Byte() % 6;
      h.Set(h.blockC, off::kAxisVelocityLimit + 4 * axis, static_cast<int32_t>(in.U32()));
      break;
    }
    default: {
      const int axis = in.Byte() % 6;
      h.Set(h.blockC, off::kAxisJogParam + 4 * axis, static_cast<int32_t>(in.U32()));
      break;
    }
  }
}

// One host for the whole run: its blocks are large, and making them anew for
// every input would cost more than the input itself. What the plug-in reads
// and writes in them is put back to zero instead, with the module state.
km4r::sim::InProcessHost& FreshHost(CallChecks* checks) {
  namespace off = km4r::host::offset;
  static km4r::sim::InProcessHost* host = new km4r::sim::InProcessHost();
  km4r::platform::HostString::ReleaseAt(host->blockC.data() + off::kStatusText);
  km4r::ResetModuleState();
  host->Install();
  host->record = false;
  host->hooks = checks;
  host->dro.fill(0.0);
  host->led.fill(false);
  std::memset(host->blockA.data() + off::kMotionQueueIn, 0,
              km4r::host::kBlockASize - off::kMotionQueueIn);
  std::memset(host->blockB.data() + off::kDistanceMode, 0, sizeof(int32_t));
  std::memset(host->blockB.data() + off::kRotationAngle, 0, sizeof(double));
  std::memset(host->blockC.data() + off::kBufferQueueIn, 0,
              off::kBusyIndicator + sizeof(int32_t) - off::kBufferQueueIn);
  return *host;
}

constexpr const char* kPendantPath = "/dev/virtual/hid-fuzz";
constexpr int kMaxSteps = 3000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  CallChecks checks;
  km4r::sim::InProcessHost& host = FreshHost(&checks);
  km4r::test::TestHostWindow hostWindow;
  // Read timing runs on a clock moved with the host window's.
  km4r::sim::VirtualPendant device(kPendantPath);
  km4r::platform::VirtualBus* bus = device.bus;
  const auto advance = [&](uint32_t ms) {
    device.clock.Advance(ms);
    hostWindow.Advance(ms);
  };
  const int pendant = device.id;
  int other = -1;
  host.Start(hostWindow.Handle());
  km4r::PendantSettings& settings = Module().settings;
  for (uint8_t i = 0; i < km4r::kSettingCount; ++i)
    if (in.Byte() & 1) SetSetting(settings, i, in);

  DisplayCheck display;
  bool plugged = true;
  for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
    const std::size_t written = bus->OutputCount(pendant);
    const uint8_t op = in.Byte();
    switch (op % 12) {
      case 0:
      case 1:
      case 2:
      case 3: {
        uint8_t report[km4r::kInputReportSize];
        for (uint8_t& r : report) r = in.Byte();
        // Mostly the pendant's own report id, so that most reach the decoder.
        if (op % 12 != 3) report[0] = 0;
        bus->QueueInput(pendant, report, sizeof report);
        advance(km4r::kCyclePeriodMs);
        break;
      }
      case 4:
        advance(km4r::kCyclePeriodMs * (1 + in.Byte() % 4));
        break;
      case 5:
        host.led[kLedCodes[in.Byte() % std::size(kLedCodes)]] = (in.Byte() & 1) != 0;
        break;
      case 6:
        host.dro[kDroCodes[in.Byte() % std::size(kDroCodes)]] = in.Value();
        break;
      case 7:
        for (int n = in.Byte() % 8; n > 0; --n) Update();
        break;
      case 8:
        SetHostField(host, in.Byte(), in);
        break;
      case 9:
        SetSetting(settings, in.Byte(), in);
        break;
      case 10: {
        const uint8_t what = in.Byte() % 4;
        if (what == 0 && plugged) {
          bus->Unplug(pendant, (in.Byte() & 1) != 0);
          plugged = false;
        } else if (what == 1 && !plugged) {
          bus->Plug(pendant, true);
          plugged = true;
        } else if (what == 2 && other < 0) {
          other = bus->ArriveDevice("/dev/virtual/hid-other", 0x046D, 0xC077, true);
        }
        break;
      }
      default:
        bus->SetLatency(pendant, in.Byte() % 40);
        break;
    }
    if (const PendantWindow* w = Module().window) CheckWindow(*w);
    if (bus->OutputCount(pendant) != written) {
      uint8_t report[km4r::kOutputReportSize];
      if (!bus->LastOutput(pendant, report, sizeof report)) Fail("no output report", 0);
      display(report);
    }
    CheckTicks();
    const char* status =
        km4r::platform::HostString::TextAt(host.blockC.data() + km4r::host::offset::kStatusText);
    if (status[0] != '\0' && std::strcmp(status, " Jog OFF. ") != 0) Fail("status text", 0);
    if (bus->QueuedInputs(pendant) > 64) advance(km4r::kCyclePeriodMs);
  }
  StopPlug();
  if (Module().window != nullptr) Fail("window survived StopPlug", 0);
  if (bus->OpenHandles(pendant) != 0) Fail("handles left open", 0);
  host.hooks = nullptr;
  // The host's own clean-up (the slot is unaligned, so a leak checker cannot
  // see the text through it).
  km4r::platform::HostString::ReleaseAt(host.blockC.data() + km4r::host::offset::kStatusText);
  return 0;
}
