#include "bench/plugin_module.h"

#include <dlfcn.h>

namespace km4r::bench {

namespace {

template <typename Fn>
void Resolve(void* handle, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

bool PluginModule::Open(const std::string& path, std::string* error) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    *error = "cannot load plug-in module " + path + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  for (const char* name : kExportedNames) {
    if (dlsym(handle_, name) == nullptr) {
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
  return true;
}

void PluginModule::Close() {
  if (handle_ != nullptr) dlclose(handle_);
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
  SetCode = nullptr;
  VirtualBus = nullptr;
}

}  // namespace km4r::bench
