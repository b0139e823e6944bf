#include "platform/win32/sockets.h"

#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

namespace km4r::platform::win32 {

namespace {

constexpr unsigned short kVersion11 = MAKEWORD(1, 1);
bool g_started = false;

int SystemStartup(unsigned short requested, unsigned short* granted) {
  WSADATA data{};
  const int rc = WSAStartup(requested, &data);
  *granted = rc == 0 ? data.wVersion : 0;
  return rc;
}

void SystemCleanup() {
  WSACleanup();
}

void SystemMessage(const char* text) {
  MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONERROR);
}

}  // namespace

SocketApi SystemSocketApi() {
  return SocketApi{&SystemStartup, &SystemCleanup, &SystemMessage};
}

bool StartSockets(const SocketApi& api) {
  unsigned short granted = 0;
  if (api.startup(kVersion11, &granted) != 0) {
    api.message(kSocketsFailedText);
    return false;
  }
  if (granted != kVersion11) {
    api.cleanup();
    api.message(kSocketsFailedText);
    return false;
  }
  g_started = true;
  return true;
}

void StopSockets(const SocketApi& api) {
  if (!g_started) return;
  g_started = false;
  api.cleanup();
}

}  // namespace km4r::platform::win32
