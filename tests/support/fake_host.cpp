#include "tests/support/fake_host.h"

#include <cstdio>

#include "platform/host_string.h"
#include "plugin/module_state.h"

namespace km4r::test {

FakeHost* FakeHost::current = nullptr;

namespace {

std::string FormatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

void OnDoButton(short code) {
  FakeHost::current->calls.push_back("DoButton " + std::to_string(code));
}
void OnSetDro(short code, double value) {
  FakeHost* h = FakeHost::current;
  if (code >= 0 && code < static_cast<short>(h->dro.size())) h->dro[code] = value;
  h->calls.push_back("SetDRO " + std::to_string(code) + " " + FormatDouble(value));
}
double OnGetDro(short code) {
  FakeHost* h = FakeHost::current;
  ++h->getDroCalls;
  return code >= 0 && code < static_cast<short>(h->dro.size()) ? h->dro[code] : 0.0;
}
bool OnGetLed(short code) {
  FakeHost* h = FakeHost::current;
  ++h->getLedCalls;
  return code >= 0 && code < static_cast<short>(h->led.size()) ? h->led[code] : false;
}
void OnSetLed(short, bool) {}
void OnCode(const char* text) {
  FakeHost::current->calls.push_back(std::string("Code ") + text);
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

std::string FakeHost::StatusText() const {
  return platform::HostString::TextAt(blockC.data() + host::offset::kStatusText);
}

}  // namespace km4r::test
