#include <dlfcn.h>

#include "platform/module_info.h"

namespace km4r::platform {

namespace {
void Anchor() {}
}  // namespace

std::string ModuleFileTitle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  return FileTitleFromPath(info.dli_fname);
}

// Linux keeps no registry of type libraries: registration has nothing to do.
int32_t RegisterServer() {
  return 0;
}
int32_t UnregisterServer() {
  return 0;
}

int32_t GetClassObject(const void* /*clsid*/, const void* /*iid*/, void** out) {
  if (out != nullptr) *out = nullptr;
  return static_cast<int32_t>(0x80040111u);  // CLASS_E_CLASSNOTAVAILABLE
}

int32_t CanUnloadNow() {
  return 0;
}

}  // namespace km4r::platform
