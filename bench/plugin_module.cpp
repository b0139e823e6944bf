#include "bench/plugin_module.h"

#include "bench/system.h"
#include "plugin/export_names.h"

namespace km4r::bench {

namespace {

template <typename Fn>
void Resolve(void* handle, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(sys::FindExport(handle, name));
}

}  // namespace

bool PluginModule::Open(const std::string& path, std::string* error) {
  Close();
  std::string why;
  handle_ = sys::LoadModule(path, &why);
  if (handle_ == nullptr) {
    // The system's message may name the path itself.
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    *error = "cannot load plug-in module " + path + ": " + why;
    return false;
  }
  for (const char* name : kExportedNames) {
    if (sys::FindExport(handle_, name) == nullptr) {
      *error = "plug-in module " + path + " does not export " + name;
      Close();
      return false;
    }
  }
  Resolve(handle_, "SetProName", &SetProName);
  Resolve(handle_, "InitControl", &InitControl);
  Resolve(handle_, "PostInitControl", &PostInitControl);
  Resolve(handle_, "Config", &Config);
  Resolve(handle_, "Update", &Update);
  Resolve(handle_, "StopPlug", &StopPlug);
  Resolve(handle_, "SetDoButton", &SetDoButton);
  Resolve(handle_, "SetSetDRO", &SetSetDRO);
  Resolve(handle_, "SetGetDRO", &SetGetDRO);
  Resolve(handle_, "SetGetLED", &SetGetLED);
  Resolve(handle_, "SetSetLED", &SetSetLED);
  Resolve(handle_, "SetCode", &SetCode);
  Resolve(handle_, "KM4R_VirtualBus", &VirtualBus);
  Resolve(handle_, "KM4R_ProfileOutcome", &ProfileOutcome);
  Resolve(handle_, "KM4R_PendantStatus", &PendantStatus);
  return true;
}

void PluginModule::Close() {
  if (handle_ != nullptr) sys::UnloadModule(handle_);
  handle_ = nullptr;
  SetProName = nullptr;
  InitControl = nullptr;
  PostInitControl = nullptr;
  Config = nullptr;
  Update = nullptr;
  StopPlug = nullptr;
  SetDoButton = nullptr;
  SetSetDRO = nullptr;
  SetGetDRO = nullptr;
  SetGetLED = nullptr;
  SetSetLED = nullptr;
  ProfileOutcome = nullptr;
  PendantStatus = nullptr;
  SetCode = nullptr;
  VirtualBus = nullptr;
}

}  // namespace km4r::bench
