// The Windows device layer's report I/O, against a named pipe standing in for
// the pendant: the same overlapped read, bounded wait and synchronous write
// the report cycle makes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/hid_device.h"

namespace km4r::platform {
namespace {

constexpr std::size_t kIn = 8;
constexpr std::size_t kOut = 21;

std::string PipeName(const char* tag) {
  return "\\\\.\\pipe\\km4r-" + std::string(tag) + "-" + std::to_string(GetCurrentProcessId());
}

// Server end of a pipe the backend opens as its device.
class FakeDevice {
 public:
  FakeDevice(const char* tag, DWORD direction) : name_(PipeName(tag)) {
    server_ = CreateNamedPipeA(name_.c_str(), direction, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0,
                               nullptr);
  }
  ~FakeDevice() {
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
  }
  bool ok() const { return server_ != INVALID_HANDLE_VALUE; }
  const char* path() const { return name_.c_str(); }
  bool Accept() {
    return ConnectNamedPipe(server_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
  }
  bool Send(const uint8_t* data, std::size_t len) {
    DWORD n = 0;
    return WriteFile(server_, data, static_cast<DWORD>(len), &n, nullptr) && n == len;
  }
  std::size_t Receive(uint8_t* data, std::size_t len) {
    DWORD n = 0;
    return ReadFile(server_, data, static_cast<DWORD>(len), &n, nullptr) ? n : 0;
  }
  HANDLE server() const { return server_; }

 private:
  std::string name_;
  HANDLE server_;
};

double NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Sends one report a delay after Go(), from a thread of its own (the pendant
// answering while the cycle waits). The thread is running before the read
// starts, so its start-up time does not count against the delay.
class LateReport {
 public:
  LateReport(FakeDevice* device, DWORD delayMs) : device_(device), delayMs_(delayMs) {
    go_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
  }
  ~LateReport() {
    SetEvent(go_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(go_);
  }
  void Go() { SetEvent(go_); }
  void Join() {
    SetEvent(go_);
    WaitForSingleObject(thread_, INFINITE);
  }
  const uint8_t* report() const { return report_; }
  double sentAt() const { return sentAt_; }

 private:
  static DWORD WINAPI Run(LPVOID p) {
    auto* self = static_cast<LateReport*>(p);
    WaitForSingleObject(self->go_, INFINITE);
    Sleep(self->delayMs_);
    if (self->delayMs_ != 0) {
      self->device_->Send(self->report_, kIn);
      self->sentAt_ = NowMs();
    }
    return 0;
  }
  FakeDevice* device_;
  DWORD delayMs_;
  uint8_t report_[kIn] = {0, 10, 20, 30, 40, 50, 60, 70};
  double sentAt_ = 0;
  HANDLE go_;
  HANDLE thread_;
};

// One report cycle's read against a device that answers delayMs after the
// read starts (0: the report is already waiting).
struct CycleRead {
  ReadStart start = ReadStart::Failed;
  WaitResult firstWait = WaitResult::Failed;   // the 5 ms wait of this cycle
  WaitResult secondWait = WaitResult::Failed;  // next cycle's wait, no new read
  bool untouchedWhilePending = true;           // nothing copied before completion
  bool delivered = false;                      // the report arrived intact
  bool leftOutstanding = false;
  double sentAfterMs = 0;     // when the device had sent, after the read started
  double firstWaitEndMs = 0;  // when the first wait returned, after the read started
};

CycleRead RunCycleRead(DWORD delayMs) {
  CycleRead out;
  HidBackend& hid = Hid();
  FakeDevice device("read", PIPE_ACCESS_OUTBOUND);
  const Handle h = hid.Open(device.path(), OpenMode::OverlappedRead);
  const Handle event = hid.CreateReadEvent();
  if (!device.ok() || h == kInvalidHandle || !device.Accept() || event == kInvalidHandle) {
    ADD_FAILURE() << "pipe set-up failed";
    return out;
  }
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(event), 0), WAIT_OBJECT_0)
      << "created signalled";
  {
    LateReport late(&device, delayMs);
    if (delayMs == 0) device.Send(late.report(), kIn);
    uint8_t report[kIn] = {9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t before[kIn] = {9, 9, 9, 9, 9, 9, 9, 9};
    const double startedAt = NowMs();
    out.start = hid.StartRead(h, event, report, kIn);
    if (delayMs != 0) late.Go();
    if (out.start == ReadStart::Pending) {
      out.firstWait = hid.WaitRead(h, event, 5, report, kIn);
      out.firstWaitEndMs = NowMs() - startedAt;
      if (out.firstWait == WaitResult::Timeout) {
        out.untouchedWhilePending = std::memcmp(report, before, kIn) == 0;
        Sleep(20);  // the rest of the 25 ms period
        out.secondWait = hid.WaitRead(h, event, 5, report, kIn);
      }
    }
    out.delivered = std::memcmp(report, late.report(), kIn) == 0;
    out.leftOutstanding = hid.WaitRead(h, event, 0, report, kIn) != WaitResult::Failed;
    late.Join();
    out.sentAfterMs = late.sentAt() - startedAt;
  }
  hid.Close(h);
  hid.Close(event);
  return out;
}

TEST(Win32Hid, ReportReadyBeforeTheReadCompletesAtOnce) {
  const CycleRead r = RunCycleRead(0);
  EXPECT_EQ(r.start, ReadStart::Completed);
  EXPECT_TRUE(r.delivered);
  EXPECT_FALSE(r.leftOutstanding);
}

TEST(Win32Hid, ReportThreeMillisecondsAfterTheReadStartCompletesInTheSameWait) {
  // Under emulation on a busy machine the device thread can be late by more
  // than the 2 ms of slack. A run in which the report went out only after the
  // wait had given up proves nothing and is repeated; one in which it went
  // out well inside the wait and was not seen is a fault.
  std::string late;
  for (int attempt = 0; attempt < 20; ++attempt) {
    const CycleRead r = RunCycleRead(3);
    ASSERT_EQ(r.start, ReadStart::Pending);
    EXPECT_TRUE(r.delivered);
    EXPECT_FALSE(r.leftOutstanding);
    if (r.firstWait == WaitResult::Completed) return;
    ASSERT_EQ(r.firstWait, WaitResult::Timeout);
    ASSERT_GT(r.sentAfterMs + 1.0, r.firstWaitEndMs)
        << "sent at " << r.sentAfterMs << " ms, yet the wait that ended at " << r.firstWaitEndMs
        << " ms did not see it";
    late += " " + std::to_string(r.sentAfterMs);
  }
  GTEST_SKIP() << "the device thread never answered in time here; sent after (ms):" << late;
}

TEST(Win32Hid, ReportSevenMillisecondsAfterTheReadStartCompletesInTheNextCycle) {
  const CycleRead r = RunCycleRead(7);
  ASSERT_EQ(r.start, ReadStart::Pending);
  EXPECT_EQ(r.firstWait, WaitResult::Timeout);
  EXPECT_TRUE(r.untouchedWhilePending) << "a timed-out read leaves the report as it was";
  EXPECT_EQ(r.secondWait, WaitResult::Completed);
  EXPECT_TRUE(r.delivered);
  EXPECT_FALSE(r.leftOutstanding);
}

TEST(Win32Hid, ClosingWithAReadOutstandingEndsItUnseen) {
  HidBackend& hid = Hid();
  FakeDevice device("close", PIPE_ACCESS_OUTBOUND);
  ASSERT_TRUE(device.ok());
  const Handle h = hid.Open(device.path(), OpenMode::OverlappedRead);
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_TRUE(device.Accept());
  const Handle event = hid.CreateReadEvent();
  uint8_t report[kIn] = {};
  ASSERT_EQ(hid.StartRead(h, event, report, kIn), ReadStart::Pending);
  hid.Close(h);
  EXPECT_EQ(hid.WaitRead(h, event, 5, report, kIn), WaitResult::Failed);
  hid.Close(event);
}

TEST(Win32Hid, WriteDeliversTheWholeReportSynchronously) {
  HidBackend& hid = Hid();
  FakeDevice device("write", PIPE_ACCESS_INBOUND);
  ASSERT_TRUE(device.ok());
  const Handle h = hid.Open(device.path(), OpenMode::SyncWrite);
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_TRUE(device.Accept());
  uint8_t out[kOut];
  for (std::size_t i = 0; i < kOut; ++i) out[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_TRUE(hid.Write(h, out, kOut));
  uint8_t got[64] = {};
  EXPECT_EQ(device.Receive(got, sizeof got), kOut);
  EXPECT_EQ(std::memcmp(got, out, kOut), 0);
  hid.Close(h);
  EXPECT_FALSE(hid.Write(h, out, kOut)) << "closed handle";
}

TEST(Win32Hid, InvalidHandlesFailWithoutSystemCalls) {
  HidBackend& hid = Hid();
  uint8_t buf[kIn] = {};
  HidAttributes attrs;
  EXPECT_EQ(hid.Open("\\\\.\\pipe\\km4r-no-such-device", OpenMode::Query), kInvalidHandle);
  EXPECT_FALSE(hid.GetAttributes(kInvalidHandle, &attrs));
  EXPECT_EQ(hid.StartRead(kInvalidHandle, kInvalidHandle, buf, kIn), ReadStart::Failed);
  EXPECT_EQ(hid.WaitRead(kInvalidHandle, kInvalidHandle, 0, buf, kIn), WaitResult::Failed);
  EXPECT_FALSE(hid.Write(kInvalidHandle, buf, kIn));
  hid.Close(kInvalidHandle);
  EXPECT_EQ(hid.RegisterNotification(nullptr, hid.HidClassGuid()), 0u);
}

TEST(Win32Hid, HidClassGuidIsTheSystemOne) {
  // {4D1E55B2-F16F-11CF-88CB-001111000030}
  const Guid g = Hid().HidClassGuid();
  EXPECT_EQ(g.data1, 0x4D1E55B2u);
  EXPECT_EQ(g.data2, 0xF16F);
  EXPECT_EQ(g.data3, 0x11CF);
  const uint8_t tail[8] = {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
  EXPECT_EQ(std::memcmp(g.data4, tail, 8), 0);
}

}  // namespace
}  // namespace km4r::platform
