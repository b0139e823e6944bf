#include "bench/host/in_process_host.h"

#include "platform/host_string.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r::sim {

InProcessHost::InProcessHost() {
  ResetModuleState();
  Install();
}

InProcessHost::~InProcessHost() {
  ResetModuleState();
}

void InProcessHost::Install() {
  ModuleState& m = Module();
  m.callbacks = host::Callbacks{Callbacks::DoButton, Callbacks::SetDro, Callbacks::GetDro,
                                Callbacks::GetLed,   Callbacks::SetLed, Callbacks::Code};
  m.blocks = Blocks();
}

void InProcessHost::Start(void* hostWindow) {
  current = this;
  ::SetDoButton(Callbacks::DoButton);
  ::SetSetDRO(Callbacks::SetDro);
  ::SetGetDRO(Callbacks::GetDro);
  ::SetGetLED(Callbacks::GetLed);
  ::SetSetLED(Callbacks::SetLed);
  ::SetCode(Callbacks::Code);
  ::SetProName(platform::HostStringArgument(""));
  window = hostWindow;
  const host::Blocks b = Blocks();
  ::InitControl(b.a, b.b, b.c, b.d);
  ::PostInitControl();
}

}  // namespace km4r::sim
