// The plug-in module as the host sees it: loaded by path and reached only
// through its exported names.
#pragma once

#include <string>

#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"

namespace km4r::bench {

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule() { Close(); }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Loads the module privately and resolves every entry point;
  // fails, closing it again, when one is missing.
  bool Open(const std::string& path, std::string* error);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

  decltype(&::SetProName) SetProName = nullptr;
  decltype(&::InitControl) InitControl = nullptr;
  decltype(&::PostInitControl) PostInitControl = nullptr;
  decltype(&::Config) Config = nullptr;
  decltype(&::Update) Update = nullptr;
  decltype(&::StopPlug) StopPlug = nullptr;
  decltype(&::SetDoButton) SetDoButton = nullptr;
  decltype(&::SetSetDRO) SetSetDRO = nullptr;
  decltype(&::SetGetDRO) SetGetDRO = nullptr;
  decltype(&::SetGetLED) SetGetLED = nullptr;
  decltype(&::SetSetLED) SetSetLED = nullptr;
  decltype(&::SetCode) SetCode = nullptr;
  // Only the bench build of the module has it.
  decltype(&::KM4R_VirtualBus) VirtualBus = nullptr;
  // What became of the profile in the last entry point that used it; a
  // module of another build may lack it.
  decltype(&::KM4R_ProfileOutcome) ProfileOutcome = nullptr;
  decltype(&::KM4R_PendantStatus) PendantStatus = nullptr;

  // Hands the module the six callbacks a host type provides as static
  // members (DoButton, SetDro, GetDro, GetLed, SetLed, Code).
  template <class Callbacks>
  void SetCallbacks() {
    SetDoButton(&Callbacks::DoButton);
    SetSetDRO(&Callbacks::SetDro);
    SetGetDRO(&Callbacks::GetDro);
    SetGetLED(&Callbacks::GetLed);
    SetSetLED(&Callbacks::SetLed);
    SetCode(&Callbacks::Code);
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace km4r::bench
