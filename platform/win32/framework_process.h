// What the process tells of the host's window framework, decided once from the
// framework DLL it has loaded, and reads of host memory that cannot fault.
// Shared by the string and the window side of the host boundary
// (implemented in host_string_win32.cpp).
#pragma once

#include <cstddef>

namespace km4r::platform::win32 {

enum class FrameworkGeneration { kUnknown, kOlder, kNewer };

struct FrameworkProcess {
  // Of the strings: x86_64 only ever had the newer. On i686 the older when
  // only mfc42*.dll is loaded, the newer when only one of mfc70*…mfc140*.dll
  // is; both loaded, unknown; none loaded (the framework linked in
  // statically, or a host of our own), the newer, object by object.
  FrameworkGeneration generation;
  // A framework DLL of either generation is loaded: the host links it, so
  // CCmdTarget has its m_pModuleState.
  bool dll;
};
const FrameworkProcess& Framework();

// `n` bytes at `p` are committed and readable.
bool Readable(const void* p, std::size_t n);

}  // namespace km4r::platform::win32
