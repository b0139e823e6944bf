// live on Windows: the pendant among the system's HID interfaces (SetupAPI,
// its vendor and product ids asked of each), read through overlapped reads
// that never wait; the recording written with WriteFile; the console's
// control events (Ctrl-C, Ctrl-Break, the window closed) as stop requests.
// For tests, --test-devices DIR stands in for the system's interfaces.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/commands.h"
#include "bench/live_system.h"
#include "bench/system.h"
#include "pendant/pendant_window.h"
#include "platform/hid_device.h"

namespace km4r::bench {

namespace fs = std::filesystem;
using platform::Handle;
using platform::kInvalidHandle;

namespace {

struct Interface {
  std::string path;
  unsigned vendor = 0;
  unsigned product = 0;
};

std::vector<Interface> SystemInterfaces() {
  platform::HidBackend& hid = platform::Hid();
  std::vector<Interface> found;
  for (const std::string& path : hid.EnumerateInterfaces()) {
    const Handle h = hid.Open(path.c_str(), platform::OpenMode::Query);
    platform::HidAttributes a;
    if (hid.GetAttributes(h, &a)) found.push_back({path, a.vendorId, a.productId});
    hid.Close(h);
  }
  return found;
}

// Each file in dir, in name order, is one interface: "VVVV PPPP PATH", the
// ids in hex and the path to open (a named pipe, say).
std::vector<Interface> TestInterfaces(const std::string& dir) {
  std::error_code ec;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir, ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Interface> found;
  for (const fs::path& file : files) {
    std::ifstream in(file);
    Interface i;
    if (in >> std::hex >> i.vendor >> i.product >> i.path) found.push_back(i);
  }
  return found;
}

volatile LONG g_stop = 0;
std::wstring g_testStopFile;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  InterlockedExchange(&g_stop, 1);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The console is closing (or the user logging off): the process ends as
  // soon as this returns, so hold on until the session has ended and the
  // program exits; the system's own grace period bounds the wait.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

struct PendantWatch::Impl {
  std::string testDir;
  Handle read = kInvalidHandle;
  Handle event = kInvalidHandle;
};

PendantWatch::PendantWatch(const LiveOptions& options) : impl_(std::make_unique<Impl>()) {
  impl_->testDir = options.testDevices;
}

PendantWatch::~PendantWatch() {
  Close();
  platform::Hid().Close(impl_->event);
}

std::string PendantWatch::Find() {
  const std::vector<Interface> found =
      impl_->testDir.empty() ? SystemInterfaces() : TestInterfaces(impl_->testDir);
  for (const Interface& i : found)
    if (i.vendor == kPendantVendorId && i.product == kPendantProductId) return i.path;
  return "";
}

bool PendantWatch::Open(const std::string& where, std::string* error, std::string* hint) {
  Close();
  platform::HidBackend& hid = platform::Hid();
  // Shared for reading and writing, as the plug-in opens it too.
  impl_->read = hid.Open(where.c_str(), platform::OpenMode::OverlappedRead);
  if (impl_->read == kInvalidHandle) {
    const DWORD why = GetLastError();
    *error = sys::ErrorText(why);
    *hint = why == ERROR_SHARING_VIOLATION || why == ERROR_ACCESS_DENIED
                ? "Another program holds the pendant without sharing it; close that program, "
                  "then plug the pendant in again.\n"
                : "";
    return false;
  }
  if (impl_->event == kInvalidHandle) impl_->event = hid.CreateReadEvent();
  return true;
}

void PendantWatch::Close() {
  // An outstanding read ends with the handle.
  platform::Hid().Close(impl_->read);
  impl_->read = kInvalidHandle;
}

bool PendantWatch::Read(std::vector<LiveReport>* reports) {
  reports->clear();
  if (impl_->read == kInvalidHandle) return true;
  platform::HidBackend& hid = platform::Hid();
  LiveReport r;
  // One read stays outstanding between calls; each completed one is taken
  // and the next started, until one has to wait.
  for (;;) {
    switch (hid.WaitRead(impl_->read, impl_->event, 0, r.data(), r.size())) {
      case platform::WaitResult::Completed:
        reports->push_back(r);
        break;
      case platform::WaitResult::Timeout:
        return true;
      case platform::WaitResult::Failed:
      case platform::WaitResult::Malformed:
        break;  // none outstanding (yet), or the device went: the next start says which
    }
    switch (hid.StartRead(impl_->read, impl_->event, r.data(), r.size())) {
      case platform::ReadStart::Completed:
        reports->push_back(r);
        break;
      case platform::ReadStart::Pending:
      case platform::ReadStart::Malformed:
        break;
      case platform::ReadStart::Failed:
        return false;
    }
  }
}

bool RecordFile::Create(const std::string& path, bool replace, std::string* error) {
  // Others may read it meanwhile (to follow the recording).
  HANDLE file =
      CreateFileW(fs::path(path).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  replace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = sys::ErrorText(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

void RecordFile::Write(const std::string& text) {
  if (!IsOpen()) return;
  std::size_t at = 0;
  while (at < text.size()) {
    DWORD n = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), text.data() + at,
                   static_cast<DWORD>(text.size() - at), &n, nullptr) ||
        n == 0)
      return;  // a full disk: the file holds what fitted
    at += n;
  }
}

void RecordFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

void CatchStopRequests(const LiveOptions& options) {
  // A program started in a new process group has Ctrl-C turned off; the
  // session's own console gets it back.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  // Wine delivers no console control event to a program whose console is
  // not a real one, so tests stop the session with a file in the test
  // devices' folder, which ends it as Ctrl-Break does.
  if (!options.testDevices.empty())
    g_testStopFile = (fs::path(options.testDevices) / "stop").wstring();
}

bool StopRequested() {
  if (g_stop != 0) return true;
  return !g_testStopFile.empty() &&
         GetFileAttributesW(g_testStopFile.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace km4r::bench
