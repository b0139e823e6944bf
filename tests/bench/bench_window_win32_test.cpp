// The Windows host window of the bench: the plug-in's cycle runs only when
// the bench says so, and a dialog opened during Config is cancelled without
// letting the real timer through.
#include <windows.h>

#include <gtest/gtest.h>

#include "bench/bench_window.h"
#include "platform/win32/host_window.h"

namespace km4r::bench {
namespace {

struct Seen {
  int timers = 0;
  WPARAM lastId = 0;
};
Seen g_seen;

LRESULT CALLBACK CountTimers(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER) {
    ++g_seen.timers;
    g_seen.lastId = wp;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND MakeChild(HWND parent, int id) {
  static const char kClass[] = "Km4rBenchTestChild";
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExA(GetModuleHandleA(nullptr), kClass, &wc)) {
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &CountTimers;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassExA(&wc);
  }
  return CreateWindowExA(0, kClass, "", WS_CHILD, 0, 0, 10, 10, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleA(nullptr), nullptr);
}

TEST(BenchWindowWin32, EachAdvanceSendsOneCycleTimerToChildOne) {
  platform::VirtualClock clock;
  BenchWindow window(clock);
  HWND host = window.Host()->hwnd;
  ASSERT_NE(host, nullptr);
  g_seen = {};

  const struct {
    int childId;  // 0: no child window
    int advances;
    int timers;
  } rows[] = {{0, 2, 0}, {2, 2, 0}, {1, 3, 3}};
  uint64_t now = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.childId);
    HWND child = row.childId != 0 ? MakeChild(host, row.childId) : nullptr;
    g_seen = {};
    for (int i = 0; i < row.advances; ++i) window.Advance(25);
    now += 25 * static_cast<uint64_t>(row.advances);
    EXPECT_EQ(g_seen.timers, row.timers);
    if (row.timers > 0) {
      EXPECT_EQ(g_seen.lastId, 1u);
    }
    EXPECT_EQ(clock.NowMs(), now);
    if (child != nullptr) DestroyWindow(child);
  }
}

struct DialogRun {
  bool lingers = false;  // stays open 60 ms after Cancel, its own timer closes it
  bool initialised = false;
  int cancels = 0;
};
constexpr UINT_PTR kDialogTimer = 7;

// Ends on Cancel as the plug-in's dialog does, unless it lingers.
INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lp);
    auto* run = reinterpret_cast<DialogRun*>(lp);
    run->initialised = true;
    if (run->lingers) SetTimer(hwnd, kDialogTimer, 60, nullptr);
    return TRUE;
  }
  auto* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (run == nullptr) return FALSE;
  if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
    ++run->cancels;
    if (!run->lingers) EndDialog(hwnd, IDCANCEL);
    return TRUE;
  }
  if (msg == WM_TIMER && wp == kDialogTimer) {
    KillTimer(hwnd, kDialogTimer);
    EndDialog(hwnd, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

// An empty dialog template: no menu, the dialog class, no title, no controls.
struct alignas(4) EmptyTemplate {
  DLGTEMPLATE head{WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0, 100, 50};
  WORD menu = 0, windowClass = 0, title = 0, pad = 0;
};

TEST(BenchWindowWin32, ConfigDialogIsCancelledAndTheRealTimerStaysQuiet) {
  platform::VirtualClock clock;
  BenchWindow window(clock);
  HWND child = MakeChild(window.Host()->hwnd, 1);
  ASSERT_NE(child, nullptr);
  EmptyTemplate tmpl;
  for (bool lingers : {false, true}) {
    SCOPED_TRACE(lingers ? "dialog lingers" : "dialog ends on Cancel");
    g_seen = {};
    DialogRun run;
    run.lingers = lingers;
    INT_PTR result = 0;
    window.RunWithDialogCancelled([&] {
      // A real timer of the child, long due when the dialog's loop starts.
      SetTimer(child, 1, 1, nullptr);
      Sleep(30);
      result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), &tmpl.head, nullptr, &DialogProc,
                                       reinterpret_cast<LPARAM>(&run));
    });
    KillTimer(child, 1);
    EXPECT_TRUE(run.initialised) << "the dialog was never created";
    EXPECT_EQ(run.cancels, 1);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(g_seen.timers, 0) << "the child's real timer reached it";
  }

  // Outside Config nothing is cancelled any more.
  DialogRun run;
  HWND modeless = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &tmpl.head, nullptr,
                                             &DialogProc, reinterpret_cast<LPARAM>(&run));
  ASSERT_NE(modeless, nullptr);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, modeless, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  DestroyWindow(modeless);
  DestroyWindow(child);
}

}  // namespace
}  // namespace km4r::bench
