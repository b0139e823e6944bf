// Module facts and type-library self-registration on Windows.
#include <windows.h>
// windows.h first: oleauto.h needs its types
#include <oleauto.h>

#include <string>

#include "platform/module_info.h"
#include "platform/win32/module_handle.h"

namespace km4r::platform {

namespace {

constexpr int32_t kSelfRegTypeLib = static_cast<int32_t>(0x80040200u);  // SELFREG_E_TYPELIB
// {0C9FB259-B864-40A5-B59F-65E11E209FC4}, the identity of resource TYPELIB 1.
constexpr GUID kTypeLibId = {
    0x0C9FB259, 0xB864, 0x40A5, {0xB5, 0x9F, 0x65, 0xE1, 0x1E, 0x20, 0x9F, 0xC4}};
constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
#if defined(_WIN64)
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

// The module's full path; empty when it cannot be had. Grows the buffer
// instead of accepting a truncated path.
template <typename Char, typename Fn>
std::basic_string<Char> ModulePath(Fn getFileName) {
  std::basic_string<Char> path(MAX_PATH, Char{});
  while (path.size() <= 32768) {
    const DWORD n = getFileName(win32::ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
  return {};
}

// Nothing of this module registers component classes, so their update has
// nothing to do and cannot fail.
int32_t UpdateClassEntries(bool /*registering*/) {
  return 0;
}

}  // namespace

namespace win32 {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

}  // namespace win32

std::string ModuleFileTitle() {
  return FileTitleFromPath(ModulePath<char>(&GetModuleFileNameA));
}

int32_t RegisterServer() {
  std::wstring path = ModulePath<wchar_t>(&GetModuleFileNameW);
  if (path.empty()) return kSelfRegTypeLib;
  ITypeLib* lib = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib)) || lib == nullptr)
    return kSelfRegTypeLib;
  const HRESULT hr = RegisterTypeLib(lib, path.data(), nullptr);
  lib->Release();
  if (FAILED(hr)) return kSelfRegTypeLib;
  return UpdateClassEntries(true);
}

int32_t UnregisterServer() {
  if (FAILED(UnRegisterTypeLib(kTypeLibId, kTypeLibMajor, kTypeLibMinor, LANG_NEUTRAL, kSysKind)))
    return kSelfRegTypeLib;
  return UpdateClassEntries(false);
}

int32_t GetClassObject(const void* /*clsid*/, const void* /*iid*/, void** out) {
  if (out != nullptr) *out = nullptr;
  return static_cast<int32_t>(CLASS_E_CLASSNOTAVAILABLE);
}

int32_t CanUnloadNow() {
  return static_cast<int32_t>(S_OK);
}

}  // namespace km4r::platform
