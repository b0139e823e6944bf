#include "bench/bench_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

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
    : clock_(clock), sink_(std::move(sink)), loop_(clock) {
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
  return module_.Open(modulePath, error);
}

platform::VirtualBus* BenchHost::Bus() const {
  return module_.VirtualBus != nullptr ? module_.VirtualBus() : nullptr;
}

std::string BenchHost::Name(const std::string& profilePath) {
  module_.SetDoButton(&Callbacks::DoButton);
  module_.SetSetDRO(&Callbacks::SetDro);
  module_.SetGetDRO(&Callbacks::GetDro);
  module_.SetGetLED(&Callbacks::GetLed);
  module_.SetSetLED(&Callbacks::SetLed);
  module_.SetCode(&Callbacks::Code);
  // The argument is passed by value; the plug-in releases its copy.
  const char* name = module_.SetProName(platform::HostString(profilePath.c_str()));
  return name != nullptr ? name : "";
}

std::string BenchHost::Start(const std::string& profilePath) {
  std::string result = Name(profilePath);
  platform::HostWindow* window = &loop_;
  module_.InitControl(state_.blockA.data(), state_.blockB.data(), state_.blockC.data(), window);
  module_.PostInitControl();
  running_ = true;
  return result;
}

namespace {

// Points fd at /dev/null for the lifetime of the object.
class NullRedirect {
 public:
  explicit NullRedirect(int fd) : fd_(fd) {
    saved_ = dup(fd_);
    const int null = open("/dev/null", fd_ == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0) {
      dup2(null, fd_);
      close(null);
    }
  }
  ~NullRedirect() {
    if (saved_ >= 0) {
      dup2(saved_, fd_);
      close(saved_);
    }
  }
  NullRedirect(const NullRedirect&) = delete;
  NullRedirect& operator=(const NullRedirect&) = delete;

 private:
  int fd_;
  int saved_ = -1;
};

}  // namespace

void BenchHost::ConfigCancelled() {
  std::cout.flush();
  std::fflush(nullptr);
  {
    NullRedirect in(STDIN_FILENO);
    NullRedirect out(STDOUT_FILENO);
    module_.Config();
    std::fflush(nullptr);
  }
  // The dialog read end of input; the next reader starts afresh.
  std::clearerr(stdin);
  std::cin.clear();
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
  loop_.Advance(25);
  machine_.Advance(25);
}

}  // namespace km4r::bench
