#include "bench/bench_host.h"

#include "platform/host_string.h"

namespace km4r::bench {

BenchHost::BenchHost(platform::Clock& clock, Sink sink) : clock_(clock), window_(clock) {
  state_.record = false;
  state_.sink = std::move(sink);
  state_.hooks = &machine_;
}

BenchHost::~BenchHost() {
  // A real host always stops the plug-in before unloading it.
  if (running_ && module_.StopPlug != nullptr) module_.StopPlug();
  running_ = false;
  module_.Close();
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
  module_.SetCallbacks<sim::HostSim::Callbacks>();
  // The argument is passed by value; the plug-in releases its copy.
  const char* name = module_.SetProName(platform::HostStringArgument(profilePath.c_str()));
  return name != nullptr ? name : "";
}

std::string BenchHost::Start(const std::string& profilePath) {
  std::string result = Name(profilePath);
  state_.window = window_.Host();
  const host::Blocks b = state_.Blocks();
  module_.InitControl(b.a, b.b, b.c, b.d);
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

void SetField(sim::HostSim& host, const FieldInfo& field, int index, int64_t intValue,
              double value) {
  const std::size_t at = field.offset + (field.indexed ? 4 * static_cast<std::size_t>(index) : 0);
  std::vector<unsigned char>& block = field.block == FieldBlock::A   ? host.blockA
                                      : field.block == FieldBlock::B ? host.blockB
                                                                     : host.blockC;
  switch (field.type) {
    case FieldType::Byte:
      host.Set(block, at, static_cast<uint8_t>(intValue));
      break;
    case FieldType::Int32:
      host.Set(block, at, static_cast<int32_t>(intValue));
      break;
    case FieldType::Double:
      host.Set(block, at, value);
      break;
  }
}

}  // namespace km4r::bench
