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

// When the device answers, relative to one report cycle's read. The order is
// fixed by events, not by delays, so a busy machine changes nothing but speed.
enum class Arrival {
  BeforeTheRead,     // the report is already waiting
  DuringTheWait,     // the device answers while the cycle waits
  AfterTheWaitEnds,  // the cycle's wait has given up first
};

// Sends one report once released, from a thread of its own (the pendant
// answering while the cycle's thread is inside its wait).
class Answer {
 public:
  explicit Answer(FakeDevice* device) : device_(device) {
    go_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
  }
  ~Answer() {
    Release(false);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(go_);
  }
  // Lets the device answer, or with `send` false end without answering.
  void Release(bool send) {
    if (released_) return;
    released_ = true;
    send_ = send;
    SetEvent(go_);
  }
  const uint8_t* report() const { return report_; }

 private:
  static DWORD WINAPI Run(LPVOID p) {
    auto* self = static_cast<Answer*>(p);
    WaitForSingleObject(self->go_, INFINITE);
    if (self->send_) {
      Sleep(3);  // most likely lands inside a wait that has begun
      self->device_->Send(self->report_, kIn);
    }
    return 0;
  }
  FakeDevice* device_;
  uint8_t report_[kIn] = {0, 10, 20, 30, 40, 50, 60, 70};
  bool released_ = false;
  bool send_ = false;
  HANDLE go_;
  HANDLE thread_;
};

// A wait long enough that only a lost report makes it run out.
constexpr uint32_t kLostMs = 10000;

struct CycleRead {
  ReadStart start = ReadStart::Failed;
  WaitResult firstWait = WaitResult::Failed;   // this cycle's wait
  WaitResult secondWait = WaitResult::Failed;  // next cycle's wait, no new read
  bool untouchedWhilePending = true;           // nothing copied before completion
  bool delivered = false;                      // the report arrived intact
  bool leftOutstanding = false;
};

CycleRead RunCycleRead(Arrival arrival) {
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
    Answer answer(&device);
    if (arrival == Arrival::BeforeTheRead) device.Send(answer.report(), kIn);
    uint8_t report[kIn] = {9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t before[kIn] = {9, 9, 9, 9, 9, 9, 9, 9};
    out.start = hid.StartRead(h, event, report, kIn);
    if (out.start == ReadStart::Pending) {
      if (arrival == Arrival::DuringTheWait) {
        answer.Release(true);
        out.firstWait = hid.WaitRead(h, event, kLostMs, report, kIn);
      } else {
        out.firstWait = hid.WaitRead(h, event, 5, report, kIn);
        out.untouchedWhilePending = std::memcmp(report, before, kIn) == 0;
        answer.Release(true);
        out.secondWait = hid.WaitRead(h, event, kLostMs, report, kIn);
      }
    }
    out.delivered = std::memcmp(report, answer.report(), kIn) == 0;
    out.leftOutstanding = hid.WaitRead(h, event, 0, report, kIn) != WaitResult::Failed;
  }
  hid.Close(h);
  hid.Close(event);
  return out;
}

TEST(Win32Hid, EachArrivalIsDeliveredOnceInTheCycleItBelongsTo) {
  const struct {
    const char* name;
    Arrival arrival;
    ReadStart start;
    WaitResult firstWait;
    WaitResult secondWait;
  } rows[] = {
      {"waiting before the read", Arrival::BeforeTheRead, ReadStart::Completed, WaitResult::Failed,
       WaitResult::Failed},
      {"during the wait", Arrival::DuringTheWait, ReadStart::Pending, WaitResult::Completed,
       WaitResult::Failed},
      {"after the wait gave up", Arrival::AfterTheWaitEnds, ReadStart::Pending, WaitResult::Timeout,
       WaitResult::Completed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const CycleRead r = RunCycleRead(row.arrival);
    EXPECT_EQ(r.start, row.start);
    EXPECT_EQ(r.firstWait, row.firstWait);
    EXPECT_EQ(r.secondWait, row.secondWait);
    EXPECT_TRUE(r.untouchedWhilePending) << "a timed-out read leaves the report as it was";
    EXPECT_TRUE(r.delivered);
    EXPECT_FALSE(r.leftOutstanding);
  }
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
