// Real-time figures of the Windows module, measured the way a host sees them:
// the bench build of KM4R.dll (the virtual pendant, on the real clock) runs
// inside this process with a real host window, and the module's own 25 ms
// window timer drives the cycle.
//
//   km4r_cycle_timing            prints the cycle period over 400 cycles and
//                                the time from a report being queued to its
//                                host action, over 100 reports
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/host/clock_win32.h"
#include "bench/host/module_path_win32.h"
#include "platform/clock.h"
#include "platform/host_string.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/host_interface.h"

namespace {

using km4r::sim::NowMs;

class RealClock final : public km4r::platform::Clock {
 public:
  uint64_t NowMs() const override { return static_cast<uint64_t>(::NowMs()); }
};

std::vector<double> g_timerTimes;
double g_actionTime = 0;
int g_actions = 0;

void __cdecl DoButton(short code) {
  if (code == 1021) {
    g_actionTime = NowMs();
    ++g_actions;
  }
}
void __cdecl SetDro(short, double) {}
double __cdecl GetDro(short) {
  return 0.0;
}
// LED 800 lit: the host is in reset, so an engaged E-stop is pressed once.
bool __cdecl GetLed(short code) {
  return code == 800;
}
void __cdecl SetLed(short, bool) {}
void __cdecl Code(const char*) {}

// Dispatches this thread's messages until `until` (or until `stop` holds).
template <typename Stop>
void PumpUntil(double until, Stop stop) {
  MSG msg;
  while (NowMs() < until && !stop()) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER) g_timerTimes.push_back(NowMs());
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}

template <typename Fn>
Fn Get(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  const std::string path = km4r::sim::ModulePath();
  HMODULE dll = LoadLibraryA(path.c_str());
  if (dll == nullptr) {
    std::printf("cannot load %s\n", path.c_str());
    return 1;
  }
  auto* bus = Get<km4r::platform::VirtualBus* (*)()>(dll, "KM4R_VirtualBus")();
  RealClock clock;
  bus->Reset();
  bus->SetClock(&clock);
  const int pendant = bus->AddDevice("\\\\?\\hid#virtual#pendant", 0x04D8, 0xFCE7);

  Get<void (*)(km4r::host::DoButtonFn)>(dll, "SetDoButton")(&DoButton);
  Get<void (*)(km4r::host::SetDroFn)>(dll, "SetSetDRO")(&SetDro);
  Get<void (*)(km4r::host::GetDroFn)>(dll, "SetGetDRO")(&GetDro);
  Get<void (*)(km4r::host::GetLedFn)>(dll, "SetGetLED")(&GetLed);
  Get<void (*)(km4r::host::SetLedFn)>(dll, "SetSetLED")(&SetLed);
  Get<void (*)(km4r::host::CodeFn)>(dll, "SetCode")(&Code);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_cycle_timing_profile.xml";
  Get<const char* (*)(km4r::platform::HostStringParam)>(
      dll, "SetProName")(km4r::platform::HostStringArgument(profile.c_str()));

  std::vector<unsigned char> a(km4r::host::kBlockASize), b(km4r::host::kBlockBSize),
      c(km4r::host::kBlockCSize);
  struct {
    HWND hwnd;
  } window = {CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr)};
  Get<bool (*)(void*, void*, void*, void*)>(dll, "InitControl")(a.data(), b.data(), c.data(),
                                                                &window);
  Get<void (*)()>(dll, "PostInitControl")();

  // The cycle period: 400 timer messages, after a few to settle.
  constexpr std::size_t kCycles = 400;
  PumpUntil(NowMs() + 200, [] { return false; });
  g_timerTimes.clear();
  PumpUntil(NowMs() + 60000, [] { return g_timerTimes.size() > kCycles; });
  double sum = 0, worst = 0;
  for (std::size_t i = 1; i < g_timerTimes.size(); ++i) {
    const double d = g_timerTimes[i] - g_timerTimes[i - 1];
    sum += d;
    worst = std::max(worst, d);
  }
  const std::size_t periods = g_timerTimes.size() - 1;
  std::printf("cycle period over %zu cycles: mean %.2f ms, worst %.2f ms\n", periods, sum / periods,
              worst);

  // Report to host action: E-stop engaged and released in turn, each queued
  // at a different point of the cycle, each answered by one press of 1021.
  constexpr int kReports = 100;
  const unsigned char engaged[8] = {0, 0, 0, 0x21, 0, 0, 0, 0};
  const unsigned char released[8] = {0, 0, 0, 0x01, 0, 0, 0, 0};
  std::vector<double> latencies;
  for (int i = 0; i < kReports; ++i) {
    PumpUntil(NowMs() + 30 + (i * 7) % 25, [] { return false; });
    const int before = g_actions;
    const double queued = NowMs();
    bus->QueueInput(pendant, i % 2 == 0 ? engaged : released, 8);
    PumpUntil(queued + 1000, [before] { return g_actions != before; });
    if (g_actions != before) latencies.push_back(g_actionTime - queued);
  }
  double lsum = 0, lworst = 0;
  for (double l : latencies) {
    lsum += l;
    lworst = std::max(lworst, l);
  }
  std::printf("report to host action over %zu of %d reports: mean %.2f ms, worst %.2f ms\n",
              latencies.size(), kReports, latencies.empty() ? 0.0 : lsum / latencies.size(),
              lworst);

  Get<void (*)()>(dll, "StopPlug")();
  DestroyWindow(window.hwnd);
  DeleteFileA(profile.c_str());
  return latencies.size() == static_cast<std::size_t>(kReports) && periods >= kCycles ? 0 : 1;
}
