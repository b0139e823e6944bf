#include "bench/host/host_sim.h"

#include "bench/host/trace_format.h"
#include "platform/host_string.h"

namespace km4r::sim {

HostSim* HostSim::current = nullptr;

HostSim::HostSim()
    : blockA(host::kBlockASize), blockB(host::kBlockBSize), blockC(host::kBlockCSize) {
  platform::HostString::EmptyAt(host::StatusTextSlot(Blocks()));
  current = this;
}

HostSim::~HostSim() {
  platform::HostString::ReleaseAt(host::StatusTextSlot(Blocks()));
  if (current == this) current = nullptr;
}

void HostSim::Record(const std::string& line) {
  if (sink) sink(line);
  if (record) calls.push_back(line);
}

void HostSim::Callbacks::DoButton(short code) {
  HostSim* h = current;
  if (h == nullptr) return;
  if (h->Recording()) h->Record(DoButtonLine(code));
  if (h->hooks != nullptr) h->hooks->DoButton(code);
}

void HostSim::Callbacks::SetDro(short code, double value) {
  HostSim* h = current;
  if (h == nullptr) return;
  h->dro[code] = value;
  if (h->Recording()) h->Record(SetDroLine(code, value));
  if (h->hooks != nullptr) h->hooks->SetDro(code, value);
}

double HostSim::Callbacks::GetDro(short code) {
  HostSim* h = current;
  if (h == nullptr) return 0.0;
  ++h->getDroCalls;
  if (h->hooks != nullptr) h->hooks->GetDro(code);
  return h->dro[code];
}

bool HostSim::Callbacks::GetLed(short code) {
  HostSim* h = current;
  if (h == nullptr) return false;
  ++h->getLedCalls;
  if (h->hooks != nullptr) h->hooks->GetLed(code);
  return h->led[code];
}

void HostSim::Callbacks::SetLed(short code, bool on) {
  HostSim* h = current;
  if (h == nullptr) return;
  h->led[code] = on;
  if (h->hooks != nullptr) h->hooks->SetLed(code, on);
}

void HostSim::Callbacks::Code(const char* text) {
  HostSim* h = current;
  if (h == nullptr) return;
  if (h->Recording()) h->Record(CodeLine(text));
  if (h->hooks != nullptr) h->hooks->Code(text);
}

void HostSim::ReadyToJog() {
  for (int axis = 0; axis < host::kAxisCount; ++axis)
    Set(blockC, host::offset::kAxisVelocityLimit + 4 * axis, int32_t{12000});
  dro[host::code::kDroJogRate] = 50.0;
  dro[host::code::kDroFeedRate] = 37.5;
  dro[host::code::kDroFeedOverride] = 100.0;
  dro[host::code::kDroSpindleOverride] = 100.0;
  led[host::code::kLedJogEnabled] = true;
}

bool HostSim::JogRequested(int axis) const {
  return Get<uint8_t>(blockA, host::JogRecordField(axis, host::offset::kJogStartRequest)) == 1 &&
         Get<uint8_t>(blockA, host::JogRecordField(axis, host::offset::kJogStopRequest)) == 0;
}

std::string HostSim::StatusText() const {
  return platform::HostString::TextAt(blockC.data() + host::offset::kStatusText);
}

}  // namespace km4r::sim
