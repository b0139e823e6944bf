#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <system_error>

#include "bench/system.h"

namespace km4r::bench::sys {

const char* ModuleSuffix() {
  return ".dll";
}

void* LoadModule(const std::string& path, std::string* error) {
  // A module that cannot be found must not raise a message box.
  const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD why = GetLastError();
  SetErrorMode(mode);
  if (module == nullptr) *error = ErrorText(why);
  return module;
}

void* FindExport(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) {
  FreeLibrary(static_cast<HMODULE>(module));
}

std::filesystem::path MakeTempDir(const std::filesystem::path& base, const char* prefix) {
  // No mkdtemp here: try unguessable names until one can be created (the
  // creation itself fails when the name exists, so two runs never share one).
  LARGE_INTEGER seed{};
  QueryPerformanceCounter(&seed);
  unsigned long long state = static_cast<unsigned long long>(seed.QuadPart) ^
                             (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06llx", (state >> 40) & 0xFFFFFFULL);
    const std::filesystem::path dir = base / (std::string(prefix) + suffix);
    if (CreateDirectoryW(dir.wstring().c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::filesystem::path ExecutableDir() {
  wchar_t self[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  if (n == 0 || n >= sizeof self / sizeof self[0]) return std::filesystem::current_path();
  return std::filesystem::path(std::wstring(self, n)).parent_path();
}

void UseBinaryStdio() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::string ErrorText(unsigned long code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}
bool StdoutIsTerminal() {
  return _isatty(_fileno(stdout)) != 0;
}

}  // namespace km4r::bench::sys
