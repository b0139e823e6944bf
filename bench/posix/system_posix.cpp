#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

#include "bench/system.h"

namespace km4r::bench::sys {

const char* ModuleSuffix() {
  return ".so";
}

void* LoadModule(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "unknown error";
  }
  return handle;
}

void* FindExport(void* module, const char* name) {
  return dlsym(module, name);
}

void UnloadModule(void* module) {
  dlclose(module);
}

std::filesystem::path MakeTempDir(const std::filesystem::path& base, const char* prefix) {
  std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : self.parent_path();
}

void UseBinaryStdio() {}

std::string ErrorText(unsigned long code) {
  return std::strerror(static_cast<int>(code));
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}
bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

}  // namespace km4r::bench::sys
