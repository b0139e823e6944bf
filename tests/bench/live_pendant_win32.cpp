// A stand-in pendant for `pendant-bench live --test-devices DIR` on Windows:
// a named pipe the bench reads as the pendant's HID interface, and the
// device file in DIR that names it. Commands, one a line on standard input:
//   plug            make the pipe and the file; wait until the bench opens it
//   unplug          remove the file, close the pipe
//   report B0 .. B7 send one input report (hex bytes)
// A separate program, so that the test script starts every Windows program
// itself (a 32-bit one under emulation cannot start another).
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

HANDLE g_pipe = INVALID_HANDLE_VALUE;

// Overlapped, so that no wait on the bench is unbounded.
bool Finish(BOOL started, OVERLAPPED* o, DWORD ms) {
  if (started || GetLastError() == ERROR_PIPE_CONNECTED) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  DWORD n = 0;
  if (WaitForSingleObject(o->hEvent, ms) != WAIT_OBJECT_0) CancelIo(g_pipe);
  return GetOverlappedResult(g_pipe, o, &n, TRUE) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: live_pendant_win32 DIR\n");
    return 2;
  }
  const std::filesystem::path file = std::filesystem::path(argv[1]) / "pendant";
  const std::string name = "\\\\.\\pipe\\km4r-live-" + std::to_string(GetCurrentProcessId());
  OVERLAPPED o{};
  o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    bool ok = true;
    if (command == "plug") {
      g_pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
      std::ofstream(file) << "04d8 fce7 " << name << '\n';
      ok = g_pipe != INVALID_HANDLE_VALUE && Finish(ConnectNamedPipe(g_pipe, &o), &o, 120000);
    } else if (command == "unplug") {
      std::filesystem::remove(file);
      CloseHandle(g_pipe);
      g_pipe = INVALID_HANDLE_VALUE;
    } else if (command == "report") {
      unsigned char r[8] = {};
      for (unsigned char& b : r) {
        unsigned v = 0;
        in >> std::hex >> v;
        b = static_cast<unsigned char>(v);
      }
      ok = Finish(WriteFile(g_pipe, r, sizeof r, nullptr, &o), &o, 20000);
    }
    if (!ok) {
      std::fprintf(stderr, "live_pendant_win32: '%s' failed (error %lu)\n", line.c_str(),
                   GetLastError());
      return 1;
    }
  }
  return 0;
}
