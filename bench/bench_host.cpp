#include "bench/bench_host.h"

#include "bench/trace_format.h"
#include "platform/host_string.h"

namespace km4r::bench {

namespace {
BenchHost* g_host = nullptr;
}  // namespace

// The six host operations, as plain functions the plug-in can call.
struct Callbacks {
  static void DoButton(short code) {
    if (g_host == nullptr) return;
    g_host->Emit(DoButtonLine(code));
    g_host->machine_.OnButton(code);
  }
  static void SetDro(short code, double value) {
    if (g_host == nullptr) return;
    g_host->state_.SetDro(code, value);
    g_host->Emit(SetDroLine(code, value));
    g_host->machine_.OnSetDro(code, value);
  }
  static double GetDro(short code) { return g_host == nullptr ? 0.0 : g_host->state_.Dro(code); }
  static bool GetLed(short code) { return g_host != nullptr && g_host->state_.Led(code); }
  static void SetLed(short code, bool on) {
    if (g_host != nullptr) g_host->state_.SetLed(code, on);
  }
  static void Code(const char* text) {
    if (g_host == nullptr) return;
    g_host->Emit(CodeLine(text));
    g_host->machine_.OnCode(text);
  }
};

BenchHost::BenchHost(platform::Clock& clock, Sink sink)
    : clock_(clock), sink_(std::move(sink)), window_(clock) {
  g_host = this;
}

BenchHost::~BenchHost() {
  // A real host always stops the plug-in before unloading it.
  if (running_ && module_.StopPlug != nullptr) module_.StopPlug();
  running_ = false;
  module_.Close();
  if (g_host == this) g_host = nullptr;
}

bool BenchHost::Load(const std::string& modulePath, std::string* error) {
  const std::string problem = window_.Problem(false);
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  return module_.Open(modulePath, error);
}

platform::VirtualBus* BenchHost::Bus() const {
  return module_.VirtualBus != nullptr ? module_.VirtualBus() : nullptr;
}

bool BenchHost::ProfileOutcome(std::string* outcome) const {
  if (module_.ProfileOutcome == nullptr) return false;
  const char* text = module_.ProfileOutcome();
  *outcome = text != nullptr ? text : "";
  return true;
}

std::string BenchHost::Name(const std::string& profilePath) {
  module_.SetCallbacks<Callbacks>();
  // The argument is passed by value; the plug-in releases its copy.
  const char* name = module_.SetProName(platform::HostStringArgument(profilePath.c_str()));
  return name != nullptr ? name : "";
}

std::string BenchHost::Start(const std::string& profilePath) {
  std::string result = Name(profilePath);
  module_.InitControl(state_.blockA.data(), state_.blockB.data(), state_.blockC.data(),
                      window_.Host());
  module_.PostInitControl();
  running_ = true;
  return result;
}

void BenchHost::ConfigCancelled() {
  window_.RunWithDialogCancelled([this] { module_.Config(); });
}

void BenchHost::ConfigInteractive() {
  module_.Config();
}

void BenchHost::Stop() {
  module_.StopPlug();
  running_ = false;
}

void BenchHost::Update(int64_t times) {
  for (int64_t i = 0; i < times; ++i) module_.Update();
}

void BenchHost::Cycle() {
  window_.Advance(25);
  machine_.Advance(25);
}

}  // namespace km4r::bench
