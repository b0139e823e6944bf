// The configuration dialog as a user meets it: Config of the built module
// opens the real modal dialog, and a second thread works it the way a user
// would (lists, fields, OK, Escape, the message box) while the module's
// thread sits in the dialog's message loop. What reaches the profile is the
// result.
#include <windows.h>
// windows.h first
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/module_path_win32.h"
#include "platform/host_string.h"

namespace km4r {
namespace {

constexpr int kStepSize2 = 4033;
constexpr int kStepJogRate = 4170;
constexpr int kDecidigit = 4023;
constexpr int kScreenSel1 = 4024;
constexpr DWORD kWaitMs = 10000;

using sim::ModulePath;

// An export of the loaded module, typed; nullptr when it is missing.
template <typename Fn>
Fn Export(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The value of a pendant setting in the profile text, or -999 when it is not
// there.
int Stored(const std::string& profile, const std::string& key) {
  const std::string open = "<" + key + ">";
  const std::size_t at = profile.find(open);
  if (at == std::string::npos) return -999;
  return std::atoi(profile.c_str() + at + open.size());
}

// A top-level window of the system's dialog class with this caption and
// owner, or nullptr once the time is up.
HWND WaitForDialog(const char* caption, HWND owner, DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", caption); w != nullptr;
         w = FindWindowExA(nullptr, w, "#32770", caption))
      if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner) return w;
    Sleep(10);
  } while (GetTickCount() - start < ms);
  return nullptr;
}

bool WaitGone(HWND w, DWORD ms) {
  const DWORD start = GetTickCount();
  while (IsWindow(w)) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(10);
  }
  return true;
}

std::string TextOf(HWND w) {
  char text[1024] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

enum class Act { Select, Type, Ok, DismissMessage, EscapeKey, CancelCommand };
struct Step {
  Act act;
  int id = 0;
  const char* text = "";
};

// Plays the steps against the dialog; every problem ends up in errors (the
// test framework's checks belong to the main thread). Whatever happens, the
// dialog is closed at the end so the module's thread comes back.
void Play(const std::vector<Step>& steps, std::vector<std::string>& errors) {
  HWND dlg = WaitForDialog("01", nullptr, kWaitMs);
  if (dlg == nullptr) {
    errors.push_back("the dialog did not appear");
    return;
  }
  for (const Step& step : steps) {
    switch (step.act) {
      case Act::Select: {
        const LRESULT row =
            SendDlgItemMessageA(dlg, step.id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(step.text));
        if (row == CB_ERR)
          errors.push_back("list " + std::to_string(step.id) + " has no " + step.text);
        else
          SendDlgItemMessageA(dlg, step.id, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
        break;
      }
      case Act::Type:
        SendDlgItemMessageA(dlg, step.id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.text));
        break;
      case Act::Ok:
        // Posted: a message box may open inside the handler.
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
        break;
      case Act::DismissMessage: {
        HWND box = WaitForDialog(nullptr, dlg, kWaitMs);
        if (box == nullptr) {
          errors.push_back("no message box");
          break;
        }
        const std::string text = TextOf(GetDlgItem(box, 0xFFFF));
        if (text != step.text) errors.push_back("message box says '" + text + "'");
        if (TextOf(box) != "KM4R") errors.push_back("message box caption '" + TextOf(box) + "'");
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        if (!WaitGone(box, kWaitMs)) errors.push_back("the message box stayed");
        if (!IsWindow(dlg)) errors.push_back("the dialog closed with the message box");
        break;
      }
      case Act::EscapeKey: {
        // To the control with the keyboard focus, as the key would go.
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        HWND target = dlg;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info) &&
            info.hwndFocus != nullptr)
          target = info.hwndFocus;
        PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
      }
      case Act::CancelCommand:
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    }
  }
  if (WaitGone(dlg, kWaitMs)) return;
  errors.push_back("the dialog is still open");
  // Closes whatever box a faulty dialog keeps opening, then the dialog.
  for (int tries = 0; tries < 20 && IsWindow(dlg); ++tries) {
    if (HWND box = WaitForDialog(nullptr, dlg, 100))
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    WaitGone(dlg, 500);
  }
}

struct Setting {
  const char* key;
  int value;
};
struct DialogCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<Setting> stored;  // in the profile afterwards
};

void PrintTo(const DialogCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr const char* kNotAnInteger = "Please enter an integer.";

class ConfigDialogTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(ConfigDialogTest, StoresWhatTheUserConfirms) {
  const DialogCase& c = GetParam();
  HMODULE dll = LoadLibraryA(ModulePath().c_str());
  ASSERT_NE(dll, nullptr) << ModulePath();
  auto setProName = Export<const char* (*)(platform::HostStringParam)>(dll, "SetProName");
  auto config = Export<void (*)()>(dll, "Config");
  ASSERT_NE(setProName, nullptr);
  ASSERT_NE(config, nullptr);

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_dialog_test_profile.xml";
  {
    std::ofstream f(profile, std::ios::binary | std::ios::trunc);
    f << "<profile><Quorvix_KM4R_Pendant><StepSize2>3</StepSize2><StepJogRate>40</StepJogRate>"
         "<Decidigit>0</Decidigit><ScreenSel1>1</ScreenSel1></Quorvix_KM4R_Pendant></profile>";
  }
  setProName(platform::HostStringArgument(profile.c_str()));

  std::vector<std::string> errors;
  std::thread user(Play, std::cref(c.steps), std::ref(errors));
  config();  // returns when the dialog closes
  user.join();
  for (const std::string& e : errors) ADD_FAILURE() << e;

  const std::string saved = Slurp(profile);
  for (const Setting& want : c.stored)
    EXPECT_EQ(Stored(saved, want.key), want.value) << want.key << "\n" << saved;
  DeleteFileA(profile.c_str());
  FreeLibrary(dll);
}

// Profile before each case: StepSize2 3, StepJogRate 40, Decidigit 0, ScreenSel1 1.
const std::vector<Setting> kUnchanged = {
    {"StepSize2", 3}, {"StepJogRate", 40}, {"Decidigit", 0}, {"ScreenSel1", 1}};

INSTANTIATE_TEST_SUITE_P(
    Users, ConfigDialogTest,
    ::testing::Values(
        DialogCase{"ok_stores_list_and_field",
                   {{Act::Select, kStepSize2, "NONE"}, {Act::Type, kStepJogRate, "250"}, {Act::Ok}},
                   {{"StepSize2", 0}, {"StepJogRate", 250}, {"Decidigit", 0}}},
        DialogCase{
            "leading_integer_is_enough",
            {{Act::Select, kStepSize2, "0.1"}, {Act::Type, kStepJogRate, " 75mm"}, {Act::Ok}},
            {{"StepSize2", 4}, {"StepJogRate", 75}}},
        // Rows of the sorting lists are stored by their place in the table.
        DialogCase{"sorted_lists_store_the_table_index",
                   {{Act::Select, kDecidigit, "4"},
                    {Act::Select, kScreenSel1, " screen 5 (Offsets screen) "},
                    {Act::Ok}},
                   {{"Decidigit", 2}, {"ScreenSel1", 4}, {"StepSize2", 3}}},
        DialogCase{"text_in_feed_field_is_refused",
                   {{Act::Select, kStepSize2, "NONE"},
                    {Act::Type, kStepJogRate, "abc"},
                    {Act::Ok},
                    {Act::DismissMessage, 0, kNotAnInteger},
                    {Act::EscapeKey}},
                   kUnchanged},
        DialogCase{"corrected_after_refusal",
                   {{Act::Type, kStepJogRate, "abc"},
                    {Act::Ok},
                    {Act::DismissMessage, 0, kNotAnInteger},
                    {Act::Type, kStepJogRate, "250"},
                    {Act::Ok}},
                   {{"StepSize2", 3}, {"StepJogRate", 250}}},
        DialogCase{"escape_discards_edits",
                   {{Act::Select, kStepSize2, "NONE"},
                    {Act::Select, kDecidigit, "4"},
                    {Act::Type, kStepJogRate, "250"},
                    {Act::EscapeKey}},
                   kUnchanged},
        DialogCase{"cancel_discards_edits",
                   {{Act::Type, kStepJogRate, "250"}, {Act::CancelCommand}},
                   kUnchanged}),
    [](const auto& info) { return std::string(info.param.name); });

// A profile the module cannot use: a message box says so before the dialog
// opens, the OK'd edit is not written over the file, and a message box says
// what, where and that the file was left alone; the bench's export reports
// the same.
TEST(ConfigNotice, DamagedProfileIsReportedAndLeftUntouched) {
  HMODULE dll = LoadLibraryA(ModulePath().c_str());
  ASSERT_NE(dll, nullptr) << ModulePath();
  auto setProName = Export<const char* (*)(platform::HostStringParam)>(dll, "SetProName");
  auto config = Export<void (*)()>(dll, "Config");
  auto outcome = Export<const char* (*)()>(dll, "KM4R_ProfileOutcome");
  ASSERT_NE(setProName, nullptr);
  ASSERT_NE(config, nullptr);
  ASSERT_NE(outcome, nullptr);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_dialog_damaged_profile.xml";
  const std::string damaged = "<profile><Quorvix_KM4R_Pendant><StepJogRate>40</StepJogRate>";
  {
    std::ofstream f(profile, std::ios::binary | std::ios::trunc);
    f << damaged;
  }
  setProName(platform::HostStringArgument(profile.c_str()));
  const std::string reason = "The profile " + profile + " is not well-formed XML";
  EXPECT_EQ(std::string(outcome()), reason);

  std::vector<std::string> errors;
  std::string warned, shown;
  auto readBox = [&errors](std::string* text) {
    HWND box = WaitForDialog(nullptr, nullptr, kWaitMs);
    if (box == nullptr) {
      errors.push_back("no message box");
      return false;
    }
    *text = TextOf(GetDlgItem(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (!WaitGone(box, kWaitMs)) errors.push_back("the message box stayed");
    return true;
  };
  std::thread user([&] {
    // Told before the edit, not only after it.
    if (!readBox(&warned)) return;
    HWND dlg = WaitForDialog("01", nullptr, kWaitMs);
    if (dlg == nullptr) {
      errors.push_back("the dialog did not appear");
      return;
    }
    SendDlgItemMessageA(dlg, kStepJogRate, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("250"));
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (!WaitGone(dlg, kWaitMs)) errors.push_back("the dialog stayed open");
    readBox(&shown);
  });
  config();
  user.join();
  for (const std::string& e : errors) ADD_FAILURE() << e;
  EXPECT_NE(warned.find("cannot be kept"), std::string::npos) << warned;
  EXPECT_NE(warned.find(reason), std::string::npos) << warned;
  EXPECT_NE(shown.find("were not saved"), std::string::npos) << shown;
  EXPECT_NE(shown.find(reason), std::string::npos) << shown;
  // The path once, and what to do about this reason.
  EXPECT_EQ(shown.find(profile), shown.rfind(profile)) << shown;
  EXPECT_NE(shown.find("left untouched. Repair it, or move it away"), std::string::npos) << shown;
  EXPECT_EQ(std::string(outcome()), "not saved: " + reason);
  EXPECT_EQ(Slurp(profile), damaged);
  DeleteFileA(profile.c_str());
  FreeLibrary(dll);
}

// The host's active window owns the dialog and is disabled while it runs; a
// Config that reaches the module from inside the dialog's message loop (a
// host message handled there) does nothing.
void (*g_config)() = nullptr;
bool g_reentered = false;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    g_config();
    g_reentered = true;
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

std::size_t OpenDialogs() {
  std::size_t n = 0;
  for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", "01"); w != nullptr;
       w = FindWindowExA(nullptr, w, "#32770", "01"))
    n += IsWindowVisible(w) ? 1 : 0;
  return n;
}

TEST(ConfigDialogOwner, HostWindowIsDisabledAndASecondConfigDoesNothing) {
  HMODULE dll = LoadLibraryA(ModulePath().c_str());
  ASSERT_NE(dll, nullptr) << ModulePath();
  auto setProName = Export<const char* (*)(platform::HostStringParam)>(dll, "SetProName");
  g_config = Export<void (*)()>(dll, "Config");
  ASSERT_NE(setProName, nullptr);
  ASSERT_NE(g_config, nullptr);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_dialog_owner_profile.xml";
  setProName(platform::HostStringArgument(profile.c_str()));

  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "Km4rDialogOwnerHost";
  RegisterClassExA(&wc);
  HWND host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  SetForegroundWindow(host);
  SetActiveWindow(host);
  ASSERT_EQ(GetActiveWindow(), host);

  std::vector<std::string> errors;
  bool disabledWhileOpen = false;
  std::thread user([&] {
    HWND dlg = WaitForDialog("01", host, kWaitMs);
    if (dlg == nullptr) {
      errors.push_back("no dialog owned by the host's window");
    } else {
      disabledWhileOpen = !IsWindowEnabled(host);
      DWORD_PTR result = 0;
      if (SendMessageTimeoutA(host, WM_APP, 0, 0, SMTO_NORMAL, 3000, &result) == 0)
        errors.push_back("the second Config did not return");
      if (OpenDialogs() != 1) errors.push_back(std::to_string(OpenDialogs()) + " dialogs open");
    }
    for (int tries = 0; tries < 20 && OpenDialogs() > 0; ++tries) {
      for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", "01"); w != nullptr;
           w = FindWindowExA(nullptr, w, "#32770", "01"))
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      Sleep(100);
    }
  });
  g_config();
  user.join();
  for (const std::string& e : errors) ADD_FAILURE() << e;
  EXPECT_TRUE(disabledWhileOpen);
  EXPECT_TRUE(g_reentered);
  EXPECT_TRUE(IsWindowEnabled(host)) << "enabled again once the dialog closed";
  DestroyWindow(host);
  DeleteFileA(profile.c_str());
  FreeLibrary(dll);
}

}  // namespace
}  // namespace km4r
