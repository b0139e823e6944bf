// The few operating-system services the bench needs, one implementation per
// platform (posix/, win32/): loading the plug-in module, a private temporary
// directory, where the program itself lives and byte-exact standard streams.
#pragma once

#include <filesystem>
#include <string>

namespace km4r::bench::sys {

// The module's file name suffix: ".so" or ".dll".
const char* ModuleSuffix();

// Loads a module by path, privately; nullptr with a message on failure.
void* LoadModule(const std::string& path, std::string* error);
// The address of an exported name, nullptr when it is not exported.
void* FindExport(void* module, const char* name);
void UnloadModule(void* module);

// Creates a fresh directory whose name starts with prefix inside base;
// returns its path, or an empty path on failure.
std::filesystem::path MakeTempDir(const std::filesystem::path& base, const char* prefix);

// The directory of the running program (the current directory if unknown).
std::filesystem::path ExecutableDir();

// Standard output and error carry exactly the bytes written ("\n" stays one
// byte), so traces compare equal across platforms.
void UseBinaryStdio();

// The system's message for an error code (errno on posix, GetLastError's
// on Windows).
std::string ErrorText(unsigned long code);

// Whether standard input (and so the user) is a terminal.
bool StdinIsTerminal();
// Whether standard output is a terminal (escapes may be written).
bool StdoutIsTerminal();

}  // namespace km4r::bench::sys
