#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/win32/host_window.h"
#include "platform/window.h"
#include "tests/support/test_host_window.h"

namespace km4r::platform {
namespace {

class RecordingWindow : public ChildWindow {
 public:
  std::vector<uintptr_t> timers;
  std::vector<uintptr_t> deviceEvents;
  const void* lastEventData = nullptr;

 protected:
  void OnTimer(uintptr_t id) override { timers.push_back(id); }
  intptr_t OnDeviceChange(uintptr_t type, const void* data) override {
    deviceEvents.push_back(type);
    lastEventData = data;
    return 0x55;
  }
};

HostWindow* HostOf(test::TestHostWindow& w) {
  return static_cast<HostWindow*>(w.Handle());
}
HWND HwndOf(const ChildWindow& c) {
  return static_cast<HWND>(c.NativeHandle());
}

TEST(Win32ChildWindow, IsAHiddenChildOfTheHostWithIdOneAndTenByTen) {
  test::TestHostWindow host;
  RecordingWindow w;
  ASSERT_TRUE(w.Create(HostOf(host), 0, 0, 10, 10, 1));
  HWND hwnd = HwndOf(w);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetParent(hwnd), HostOf(host)->hwnd);
  EXPECT_EQ(GetDlgCtrlID(hwnd), 1);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_EQ(style & (WS_CHILD | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_BORDER), WS_CHILD);
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, HostOf(host)->hwnd, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right - r.left, 10);
  EXPECT_EQ(r.bottom - r.top, 10);
  char title[8] = "x";
  EXPECT_EQ(GetWindowTextA(hwnd, title, sizeof title), 0);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  EXPECT_STREQ(cls, win32::ChildWindowClassName());
  EXPECT_EQ(w.Parent(), HostOf(host));
  EXPECT_EQ(host.ChildCount(), 1u);
  // A host that links an older framework statically: no m_pModuleState.
  alignas(HostWindow) unsigned char staticBuild[sizeof(HostWindow)] = {};
  const HWND hostHwnd = HostOf(host)->hwnd;
  std::memcpy(staticBuild + kWindowHandleOffsets[1], &hostHwnd, sizeof hostHwnd);
  RecordingWindow second;
  ASSERT_TRUE(second.Create(reinterpret_cast<HostWindow*>(staticBuild), 0, 0, 10, 10, 1));
  EXPECT_EQ(GetParent(HwndOf(second)), hostHwnd);
}

// The HWND first: a layout of its own, not the framework's window object.
struct HandleFirst {
  HWND hwnd = nullptr;
  unsigned char rest[0x40] = {};
};

TEST(Win32ChildWindow, WithoutAUsableHostWindowItMakesAWindowOfItsOwn) {
  test::TestHostWindow host;
  HostWindow noWindow;  // hwnd null
  HandleFirst handleFirst;
  handleFirst.hwnd = HostOf(host)->hwnd;
  HostWindow otherThread;
  std::thread([&otherThread] {
    otherThread.hwnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
  }).join();  // the window dies with its thread: not a window of this one either way
  const struct {
    const char* name;
    HostWindow* parent;
  } rows[] = {{"null parent", nullptr},
              {"parent without HWND", &noWindow},
              {"HWND first", reinterpret_cast<HostWindow*>(&handleFirst)},
              {"window of another thread", &otherThread}};
  for (const auto& row : rows) {
    RecordingWindow w;
    ASSERT_TRUE(w.Create(row.parent, 0, 0, 10, 10, 1)) << row.name;
    EXPECT_EQ(w.Parent(), nullptr) << row.name;
    // Message-only: under the message root, neither the desktop nor the host.
    const HWND root = GetAncestor(HwndOf(w), GA_PARENT);
    EXPECT_NE(root, GetDesktopWindow()) << row.name;
    EXPECT_NE(root, HostOf(host)->hwnd) << row.name;
    EXPECT_EQ(host.ChildCount(), 0u) << row.name;
    ASSERT_TRUE(w.StartTimer(1, 25)) << row.name;
    host.AwaitTimerMessages(host.TimerMessages() + 3, 10000);
    EXPECT_EQ(w.timers.size(), 3u) << row.name;
  }
  RecordingWindow w;
  ASSERT_TRUE(w.Create(HostOf(host), 0, 0, 10, 10, 1));
  EXPECT_FALSE(w.Create(HostOf(host), 0, 0, 10, 10, 1));
  EXPECT_EQ(host.ChildCount(), 1u);
}

TEST(Win32ChildWindow, OnlyTimerAndDeviceChangeReachTheHandlers) {
  test::TestHostWindow host;
  RecordingWindow w;
  ASSERT_TRUE(w.Create(HostOf(host), 0, 0, 10, 10, 1));
  const char record[32] = {};
  const struct {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    std::size_t timers, events;
    LRESULT result;  // checked where a handler answered
  } rows[] = {
      {WM_TIMER, 7, 0, 1, 0, 0},
      {WM_DEVICECHANGE, 0x8004, reinterpret_cast<LPARAM>(record), 1, 1, 0x55},
      {WM_USER + 5, 1, 2, 1, 1, 0},
      {WM_COMMAND, 1, 0, 1, 1, 0},
  };
  for (const auto& row : rows) {
    const LRESULT r = SendMessageA(HwndOf(w), row.msg, row.wp, row.lp);
    EXPECT_EQ(w.timers.size(), row.timers) << row.msg;
    EXPECT_EQ(w.deviceEvents.size(), row.events) << row.msg;
    if (row.msg == WM_DEVICECHANGE) {
      EXPECT_EQ(r, row.result);
    }
  }
  EXPECT_EQ(w.timers[0], 7u);
  EXPECT_EQ(w.deviceEvents[0], 0x8004u);
  EXPECT_EQ(w.lastEventData, record);
}

TEST(Win32ChildWindow, TimerRunsOnRealTimeAndEndsWithTheWindow) {
  test::TestHostWindow host;
  auto* w = new RecordingWindow;
  ASSERT_TRUE(w->Create(HostOf(host), 0, 0, 10, 10, 1));
  ASSERT_TRUE(w->StartTimer(1, 25));
  ASSERT_TRUE(w->StartTimer(1, 25));  // restarting is not a second timer
  EXPECT_EQ(host.TimerCount(), 1u);
  const double ms = host.AwaitTimerMessages(10, 10000);
  ASSERT_EQ(w->timers.size(), 10u);
  EXPECT_GE(ms, 9 * 25 - 20) << "a second timer or a shorter period";
  for (uintptr_t id : w->timers) EXPECT_EQ(id, 1u);
  const uint64_t delivered = host.TimerMessages();
  delete w;
  EXPECT_EQ(host.ChildCount(), 0u);
  EXPECT_EQ(host.TimerCount(), 0u);
  host.Advance(100);
  EXPECT_EQ(host.TimerMessages(), delivered);
}

TEST(Win32ChildWindow, HostWindowDestroyedFirstLeavesTheObjectSafe) {
  RecordingWindow w;
  {
    test::TestHostWindow host;
    ASSERT_TRUE(w.Create(HostOf(host), 0, 0, 10, 10, 1));
    ASSERT_TRUE(w.StartTimer(1, 25));
  }  // destroys the host window and with it the child
  EXPECT_FALSE(w.IsCreated());
  EXPECT_EQ(w.NativeHandle(), nullptr);
  EXPECT_FALSE(w.StartTimer(1, 25));
}

}  // namespace
}  // namespace km4r::platform
