// Socket library start-up at module load: the module asks for version 1.1 and
// refuses to load without it. Nothing in the plug-in uses sockets afterwards.
#pragma once

namespace km4r::platform::win32 {

inline constexpr char kSocketsFailedText[] = "Sockets Init Failed";

// The system calls, replaceable so the decision can be exercised without the
// system failing. startup gets the requested version (low byte major) and
// returns 0 and the granted version on success.
struct SocketApi {
  int (*startup)(unsigned short requested, unsigned short* granted);
  void (*cleanup)();
  void (*message)(const char* text);
};

// WSAStartup / WSACleanup / a message box with no owner.
SocketApi SystemSocketApi();

// Starts the library asking for 1.1. When it cannot be started or grants
// another version, tells the user and returns false (a granted library is
// released again first).
bool StartSockets(const SocketApi& api);
// Releases what a successful StartSockets took; does nothing otherwise.
void StopSockets(const SocketApi& api);

}  // namespace km4r::platform::win32
