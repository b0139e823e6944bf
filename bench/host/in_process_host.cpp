#include "tests/support/fake_host.h"

#include <cstdio>

#include "platform/host_string.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r::test {

FakeHost* FakeHost::current = nullptr;

namespace {

bool InTable(short code) {
  return code >= 0 && code <= 1100;
}

void OnDoButton(short code) {
  FakeHost* h = FakeHost::current;
  if (h->record) h->calls.push_back("DoButton " + std::to_string(code));
  if (h->hooks != nullptr) h->hooks->DoButton(code);
}
void OnSetDro(short code, double value) {
  FakeHost* h = FakeHost::current;
  if (InTable(code)) h->dro[code] = value;
  if (h->record) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", value);
    h->calls.push_back("SetDRO " + std::to_string(code) + " " + buf);
  }
  if (h->hooks != nullptr) h->hooks->SetDro(code, value);
}
double OnGetDro(short code) {
  FakeHost* h = FakeHost::current;
  ++h->getDroCalls;
  if (h->hooks != nullptr) h->hooks->GetDro(code);
  return InTable(code) ? h->dro[code] : 0.0;
}
bool OnGetLed(short code) {
  FakeHost* h = FakeHost::current;
  ++h->getLedCalls;
  if (h->hooks != nullptr) h->hooks->GetLed(code);
  return InTable(code) && h->led[code];
}
void OnSetLed(short code, bool on) {
  FakeHost* h = FakeHost::current;
  if (h->hooks != nullptr) h->hooks->SetLed(code, on);
}
void OnCode(const char* text) {
  FakeHost* h = FakeHost::current;
  if (h->record) h->calls.push_back(std::string("Code ") + text);
  if (h->hooks != nullptr) h->hooks->Code(text);
}

}  // namespace

FakeHost::FakeHost()
    : blockA(host::kBlockASize + 64),
      blockB(host::kBlockBSize + 64),
      blockC(host::kBlockCSize + 64) {
  platform::HostString::EmptyAt(host::StatusTextSlot(Blocks()));
  ResetModuleState();
  current = this;
  Install();
}

FakeHost::~FakeHost() {
  platform::HostString::ReleaseAt(host::StatusTextSlot(Blocks()));
  ResetModuleState();
  if (current == this) current = nullptr;
}

host::Blocks FakeHost::Blocks() {
  return host::Blocks{blockA.data(), blockB.data(), blockC.data(), window};
}

void FakeHost::Install() {
  ModuleState& m = Module();
  m.callbacks = host::Callbacks{OnDoButton, OnSetDro, OnGetDro, OnGetLed, OnSetLed, OnCode};
  m.blocks = Blocks();
}

void FakeHost::Start(void* hostWindow) {
  current = this;
  ::SetDoButton(OnDoButton);
  ::SetSetDRO(OnSetDro);
  ::SetGetDRO(OnGetDro);
  ::SetGetLED(OnGetLed);
  ::SetSetLED(OnSetLed);
  ::SetCode(OnCode);
  ::SetProName(platform::HostStringArgument(""));
  window = hostWindow;
  const host::Blocks b = Blocks();
  ::InitControl(b.a, b.b, b.c, b.d);
  ::PostInitControl();
}

void FakeHost::ReadyToJog() {
  for (int axis = 0; axis < host::kAxisCount; ++axis)
    Set(blockC, host::offset::kAxisVelocityLimit + 4 * axis, int32_t{12000});
  dro[host::code::kDroJogRate] = 50.0;
  dro[host::code::kDroFeedRate] = 37.5;
  dro[host::code::kDroFeedOverride] = 100.0;
  dro[host::code::kDroSpindleOverride] = 100.0;
  led[host::code::kLedJogEnabled] = true;
}

std::string FakeHost::StatusText() const {
  return platform::HostString::TextAt(blockC.data() + host::offset::kStatusText);
}

}  // namespace km4r::test
