// Bytes as a session of the one engine (tests/session): input reports, host
// LEDs, DROs and block fields, settings (in range or not), Update calls,
// unplugs, arrivals and read latencies, each byte-coded op one step. Any
// broken invariant aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include "settings/setting_descriptors.h"
#include "tests/session/session.h"

namespace {

using km4r::test::Event;
using km4r::test::HostSet;
using km4r::test::Knob;
using km4r::test::Step;

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  bool Empty() const { return p_ >= end_; }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  double Value() {
    using L = std::numeric_limits<double>;
    static const double kValues[] = {
        0.0,           0.0001,         0.001,         0.01,   0.1,      1.0,       12.3456,
        -0.5,          19.99,          20.0,          25.0,   100.0,    250.0,     300.0,
        99999.9999,    -1e9,           1e300,         -1e300, L::max(), -L::max(), L::denorm_min(),
        L::infinity(), -L::infinity(), L::quiet_NaN()};
    const uint8_t pick = Byte();
    if (pick < 200) return kValues[pick % std::size(kValues)];
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
constexpr int kMaxSteps = 3000;

// Any value, in range or not, for the setting the byte picks (a number takes
// four more bytes).
HostSet Setting(uint8_t which, Input& in) {
  const int i = which % km4r::kSettingCount;
  const km4r::SettingDescriptor& d = km4r::kSettingDescriptors[i];
  int32_t v = static_cast<int16_t>(in.U16());
  if (d.kind == km4r::SettingKind::Number) v = static_cast<int32_t>(in.U32());
  if (d.kind == km4r::SettingKind::Flag) v &= 1;
  return {Knob::Setting, i, static_cast<double>(v)};
}

// A field of the host's blocks (the engine's table: code = kind * 8 + axis).
HostSet Field(uint8_t which, Input& in) {
  const int kind = which % 10;
  if (kind < 2) return {Knob::Field, kind * 8, in.Value()};
  if (kind == 8 || kind == 9) {
    const int axis = in.Byte() % 6;
    return {Knob::Field, kind * 8 + axis, static_cast<double>(static_cast<int32_t>(in.U32()))};
  }
  const int mod = kind == 2 ? 3 : kind == 3 || kind == 6 ? 2 : 4;
  return {Knob::Field, kind * 8, static_cast<double>(in.Byte() % mod)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  km4r::test::Scenario sc;
  sc.ready = false;
  Step s;  // the pendant's controls, kept from step to step
  s.axisSel = s.stepSel = s.mode = 0;
  s.updates = 0;
  const auto between = [&s] {
    Step b = s;
    b.cycles = 0;
    b.delta = 0;
    return b;
  };
  Step first = between();
  for (uint8_t i = 0; i < km4r::kSettingCount; ++i)
    if (in.Byte() & 1) first.sets.push_back(Setting(i, in));
  sc.steps.push_back(first);
  int counter = 0;
  bool plugged = true, other = false;
  for (int n = 0; n < kMaxSteps && !in.Empty(); ++n) {
    Step t = between();
    const uint8_t op = in.Byte();
    switch (op % 12) {
      case 0:
      case 1:
      case 2:
      case 3: {
        // The bytes of one report; the plug-in reads bytes 1 to 4.
        uint8_t r[8];
        for (uint8_t& b : r) b = in.Byte();
        s.speed = r[2], s.axisSel = r[3] & 0x0F, s.enable = r[3] >> 4 & 1;
        s.estop = r[3] >> 5 & 1, s.mode = r[3] >> 6, s.stepSel = r[4] & 0x7F;
        t = between();
        t.delta = (r[1] - counter) & 0xFF;
        counter = r[1];
        t.cycles = 1;
        break;
      }
      case 4:
        t.cycles = 1 + in.Byte() % 4;
        t.send = false;
        break;
      // The value's bytes come before the code's.
      case 5: {
        const double on = in.Byte() & 1;
        t.sets.push_back({Knob::Led, kLedCodes[in.Byte() % std::size(kLedCodes)], on});
        break;
      }
      case 6: {
        const double value = in.Value();
        t.sets.push_back({Knob::Dro, kDroCodes[in.Byte() % std::size(kDroCodes)], value});
        break;
      }
      case 7:
        t.updates = in.Byte() % 8;
        break;
      case 8:
        t.sets.push_back(Field(in.Byte(), in));
        break;
      case 9:
        t.sets.push_back(Setting(in.Byte(), in));
        break;
      case 10: {
        const uint8_t what = in.Byte() % 4;
        if (what == 0 && plugged) {
          t.event = (in.Byte() & 1) != 0 ? Event::Unplug : Event::MissedRemoval;
          plugged = false;
        } else if (what == 1 && !plugged) {
          t.event = Event::Replug;
          plugged = true;
        } else if (what == 2 && !other) {
          t.event = Event::Stranger;
          other = true;
        }
        break;
      }
      default:
        t.sets.push_back({Knob::Latency, 0, static_cast<double>(in.Byte() % 40)});
        break;
    }
    sc.steps.push_back(t);
  }
  // KM4R_FUZZ_SCENARIO=1: the steps as kept-scenario text.
  if (std::getenv("KM4R_FUZZ_SCENARIO") != nullptr)
    std::fputs(km4r::test::FormatScenario(sc).c_str(), stderr);
  int step = 0;
  const std::string fault = km4r::test::RunSession(sc, &step);
  if (!fault.empty()) {
    std::fprintf(stderr, "report cycle fuzz: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
