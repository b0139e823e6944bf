// KM4R.dll as the host sees it: loaded by path, driven through its exported
// entry points in the host's call order, and read for its resources.
#include <windows.h>
// windows.h first: oleauto.h needs its types
#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/host/module_path_win32.h"
#include "platform/host_string.h"
#include "plugin/host_interface.h"
#include "tests/support/test_host_window.h"

namespace km4r {
namespace {

using sim::ModulePath;

class Module {
 public:
  Module() : handle_(LoadLibraryA(ModulePath().c_str())) {}
  ~Module() {
    if (handle_ != nullptr) FreeLibrary(handle_);
  }
  HMODULE get() const { return handle_; }
  template <typename Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
  }

 private:
  HMODULE handle_;
};

int g_calls = 0;

TEST(Module, HostCallOrderRunsTheCycleTimerWithoutAPendant) {
  Module dll;
  ASSERT_NE(dll.get(), nullptr) << ModulePath();
  dll.Get<void (*)(host::DoButtonFn)>("SetDoButton")([](short) { ++g_calls; });
  dll.Get<void (*)(host::SetDroFn)>("SetSetDRO")([](short, double) { ++g_calls; });
  dll.Get<void (*)(host::GetDroFn)>("SetGetDRO")([](short) { return 0.0; });
  dll.Get<void (*)(host::GetLedFn)>("SetGetLED")([](short) { return false; });
  dll.Get<void (*)(host::SetLedFn)>("SetSetLED")([](short, bool) {});
  dll.Get<void (*)(host::CodeFn)>("SetCode")([](const char*) { ++g_calls; });

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_module_test_profile.xml";
  DeleteFileA(profile.c_str());
  platform::HostStringArgument profileName(profile.c_str());
  const char* name = dll.Get<const char* (*)(platform::HostStringParam)>("SetProName")(profileName);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "KM4R Pendant --Harbrook Ver 3.3.0");
  EXPECT_NE(GetFileAttributesA(profile.c_str()), INVALID_FILE_ATTRIBUTES) << "profile rewritten";

  std::vector<unsigned char> a(host::kBlockASize + 64), b(host::kBlockBSize + 64),
      c(host::kBlockCSize + 64);
  test::TestHostWindow window;
  EXPECT_TRUE(dll.Get<bool (*)(void*, void*, void*, void*)>("InitControl")(
      a.data(), b.data(), c.data(), window.Handle()));
  EXPECT_EQ(window.ChildCount(), 1u);
  dll.Get<void (*)()>("PostInitControl")();

  // Twenty ticks of a 25 ms timer; sooner would mean a second timer or a
  // shorter period (the system merges late ticks, it never bunches them).
  const double ms = window.AwaitTimerMessages(20, 10000);
  ASSERT_EQ(window.TimerMessages(), 20u) << "the timer stopped";
  EXPECT_GE(ms, 19 * 25 - 20);
  EXPECT_EQ(g_calls, 0) << "no pendant: no host actions";

  dll.Get<void (*)()>("StopPlug")();
  EXPECT_EQ(window.ChildCount(), 0u);
  const uint64_t delivered = window.TimerMessages();
  window.Advance(100);
  EXPECT_EQ(window.TimerMessages(), delivered);
  DeleteFileA(profile.c_str());
}

// --- resources --------------------------------------------------------------

class Reader {
 public:
  Reader(const uint8_t* p, std::size_t size) : begin_(p), p_(p), end_(p + size) {}
  template <typename T>
  T Take() {
    T v{};
    if (p_ + sizeof v <= end_) std::memcpy(&v, p_, sizeof v);
    p_ += sizeof v;
    return v;
  }
  // A name-or-ordinal field: "#N" for an ordinal, "" for none.
  std::string NameOrOrdinal() {
    const uint16_t first = Take<uint16_t>();
    if (first == 0) return {};
    if (first == 0xFFFF) return "#" + std::to_string(Take<uint16_t>());
    std::string s(1, static_cast<char>(first));
    for (uint16_t ch = Take<uint16_t>(); ch != 0 && p_ < end_; ch = Take<uint16_t>())
      s.push_back(static_cast<char>(ch));
    return s;
  }
  void AlignDword() {
    while ((p_ - begin_) % 4 != 0) ++p_;
  }
  void Skip(std::size_t n) { p_ += n; }

 private:
  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
};

// Class names are case-insensitive and may be stored as the system's ordinals.
std::string ClassName(const std::string& cls) {
  const struct {
    const char* ordinal;
    const char* name;
  } classes[] = {{"#128", "Button"}, {"#129", "Edit"}, {"#130", "Static"}, {"#133", "ComboBox"}};
  for (const auto& c : classes)
    if (cls == c.ordinal || lstrcmpiA(cls.c_str(), c.name) == 0) return c.name;
  return cls;
}

struct Item {
  DWORD style, exStyle;
  int16_t x, y, cx, cy;
  int32_t id;
  std::string cls, text;
};

std::vector<uint8_t> LoadRes(HMODULE m, int id, LPCSTR type) {
  HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(id), type);
  if (r == nullptr) return {};
  HGLOBAL g = LoadResource(m, r);
  const auto* p = static_cast<const uint8_t*>(LockResource(g));
  return std::vector<uint8_t>(p, p + SizeofResource(m, r));
}

TEST(Module, DialogTemplate4013) {
  Module dll;
  ASSERT_NE(dll.get(), nullptr);
  const std::vector<uint8_t> res = LoadRes(dll.get(), 4013, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  ASSERT_FALSE(res.empty());
  Reader r(res.data(), res.size());
  ASSERT_EQ(r.Take<uint16_t>(), 1);       // extended template
  ASSERT_EQ(r.Take<uint16_t>(), 0xFFFF);  // signature
  r.Take<DWORD>();                        // help id
  const DWORD exStyle = r.Take<DWORD>();
  const DWORD style = r.Take<DWORD>();
  const uint16_t count = r.Take<uint16_t>();
  const int16_t x = r.Take<int16_t>(), y = r.Take<int16_t>();
  const int16_t cx = r.Take<int16_t>(), cy = r.Take<int16_t>();
  EXPECT_EQ(r.NameOrOrdinal(), "");  // no menu
  EXPECT_EQ(r.NameOrOrdinal(), "");  // the system's dialog class
  EXPECT_EQ(r.NameOrOrdinal(), "01");
  EXPECT_EQ(r.Take<uint16_t>(), 8);    // points
  EXPECT_EQ(r.Take<uint16_t>(), 400);  // regular
  EXPECT_EQ(r.Take<uint8_t>(), 0);     // not italic
  r.Take<uint8_t>();                   // charset
  EXPECT_EQ(r.NameOrOrdinal(), "MS Shell Dlg");

  const DWORD wanted = DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFOREGROUND | DS_SETFONT;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_EQ(style & (WS_SYSMENU | WS_VISIBLE | WS_CHILD), 0u);
  EXPECT_EQ(exStyle & WS_EX_TOPMOST, static_cast<DWORD>(WS_EX_TOPMOST));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(cx, 407);
  EXPECT_EQ(cy, 275);

  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    r.AlignDword();
    Item it;
    r.Take<DWORD>();
    it.exStyle = r.Take<DWORD>();
    it.style = r.Take<DWORD>();
    it.x = r.Take<int16_t>();
    it.y = r.Take<int16_t>();
    it.cx = r.Take<int16_t>();
    it.cy = r.Take<int16_t>();
    it.id = r.Take<int32_t>();
    it.cls = ClassName(r.NameOrOrdinal());
    it.text = r.NameOrOrdinal();
    r.Skip(r.Take<uint16_t>());
    items.push_back(it);
  }

  constexpr DWORD kList = CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP;
  constexpr DWORD kSorted = kList | CBS_SORT;
  const struct {
    int id;
    const char* cls;
    const char* text;
    int16_t x, y, cx, cy;
    DWORD style;  // bits that must be set (the kind's own bits come from the class)
  } expected[] = {
      {1, "Button", "OK", 338, 248, 64, 17, WS_TABSTOP},
      {-1, "Static", "#4021", 33, 87, 21, 19, SS_BITMAP},
      {-1, "Static", "Step Size Selection. Set NONE to Skip.", 197, 92, 123, 8, 0},
      {-1, "Static", "Quorvix KM4-R Pendant Configuration", 140, 22, 118, 8, 0},
      {4032, "ComboBox", "", 59, 90, 40, 84, kList},
      {4033, "ComboBox", "", 104, 90, 40, 83, kList},
      {4034, "ComboBox", "", 149, 90, 40, 85, kList},
      {4170, "Edit", "", 59, 110, 22, 14, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
      {-1, "Static", "Step Jogging Feed Rate. Set 0 to Use Feed Rate Currently in the System.", 90,
       112, 237, 8, 0},
      {-1, "Static", "#4026", 33, 159, 21, 19, SS_BITMAP},
      {-1, "Static", "Steps to Delay the Start of Axis Movement in Continous Mode. 0 to 100.", 98,
       164, 232, 8, 0},
      {-1, "Button", "", 7, 82, 395, 71, BS_GROUPBOX},
      {-1, "Button", "", 7, 154, 395, 27, BS_GROUPBOX},
      {4174, "Edit", "", 59, 162, 29, 14, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
      {4021, "ComboBox", "", 59, 131, 25, 120, kList},
      {4022, "ComboBox", "", 210, 131, 25, 120, kList},
      {-1, "Static", "Step / Vel  Mode Switch Sensitivity.", 91, 128, 113, 8, 0},
      {-1, "Static", "Speed Change Sensitivity in Velocity Mode.", 239, 132, 138, 8, 0},
      {-1, "Static", "Select 0 for Step only mode", 91, 138, 89, 8, 0},
      {-1, "Static", "Number of decimal digits for axis DRO", 37, 188, 121, 8, 0},
      {4023, "ComboBox", "", 163, 187, 25, 43, kSorted},
      {-1, "Static", "Screen selection. Set NONE to skip", 37, 210, 112, 8, 0},
      {4024, "ComboBox", "", 36, 222, 120, 150, kSorted},
      {4025, "ComboBox", "", 158, 222, 120, 150, kSorted},
      {4026, "ComboBox", "", 280, 222, 120, 150, kSorted},
      {4172, "Button", "Display Spindle Speed RPM", 200, 187, 101, 10,
       BS_AUTOCHECKBOX | WS_TABSTOP},
      {4173, "Button", "Use A Axis in C%-A Mode (v2 only).", 200, 201, 131, 10,
       BS_AUTOCHECKBOX | WS_TABSTOP},
  };
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& it = items[i];
    const auto& e = expected[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(e.id));
    EXPECT_EQ(it.id, e.id);
    EXPECT_EQ(it.cls, e.cls);
    EXPECT_EQ(it.text, e.text);
    EXPECT_EQ(it.x, e.x);
    EXPECT_EQ(it.y, e.y);
    EXPECT_EQ(it.cx, e.cx);
    EXPECT_EQ(it.cy, e.cy);
    EXPECT_EQ(it.style & e.style, e.style);
    EXPECT_NE(it.style & WS_VISIBLE, 0u);
    // Tab stops exactly on the controls with an id; no digits-only fields;
    // only the marked lists sort.
    EXPECT_EQ((it.style & WS_TABSTOP) != 0, e.id != -1);
    if (it.cls == "Edit") {
      EXPECT_EQ(it.style & ES_NUMBER, 0u);
    }
    if (it.cls == "ComboBox") {
      EXPECT_EQ((it.style & CBS_SORT) != 0, (e.style & CBS_SORT) != 0);
    }
  }
}

TEST(Module, BitmapsShowTheirLetterAboveTheirLine) {
  Module dll;
  ASSERT_NE(dll.get(), nullptr);
  const struct {
    int id;
    COLORREF ink;
    bool dashed;
  } rows[] = {{4021, RGB(0, 0, 255), true}, {4026, RGB(0, 0, 0), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    const std::vector<uint8_t> res = LoadRes(dll.get(), row.id, MAKEINTRESOURCEA(2));
    ASSERT_GE(res.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h;
    std::memcpy(&h, res.data(), sizeof h);
    EXPECT_EQ(h.biWidth, 31);
    EXPECT_EQ(h.biHeight, 31);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    const std::size_t stride = (31 * 3 + 3) & ~3u;
    ASSERT_GE(res.size(), h.biSize + stride * 31);
    auto pixel = [&](int x, int yTop) {
      const uint8_t* p = res.data() + h.biSize + stride * (30 - yTop) + x * 3;
      return RGB(p[2], p[1], p[0]);
    };
    int inkAbove = 0, inkOnLine = 0, gapsOnLine = 0;
    for (int yTop = 0; yTop < 24; ++yTop)
      for (int x = 0; x < 31; ++x) inkAbove += pixel(x, yTop) == row.ink;
    for (int x = 2; x <= 28; ++x) (pixel(x, 25) == row.ink ? inkOnLine : gapsOnLine)++;
    EXPECT_GT(inkAbove, 60) << "the letter";
    EXPECT_GT(inkOnLine, 15) << "the line";
    EXPECT_EQ(gapsOnLine > 0, row.dashed);
  }
}

TEST(Module, TypeLibraryHasItsIdentityAndNoClasses) {
  const std::string path = ModulePath();
  std::wstring wpath(path.begin(), path.end());
  ITypeLib* lib = nullptr;
  ASSERT_TRUE(SUCCEEDED(LoadTypeLibEx(wpath.c_str(), REGKIND_NONE, &lib)));
  TLIBATTR* attr = nullptr;
  ASSERT_TRUE(SUCCEEDED(lib->GetLibAttr(&attr)));
  const GUID id = {0x0C9FB259, 0xB864, 0x40A5, {0xB5, 0x9F, 0x65, 0xE1, 0x1E, 0x20, 0x9F, 0xC4}};
  EXPECT_TRUE(IsEqualGUID(attr->guid, id));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(attr);
  EXPECT_EQ(lib->GetTypeInfoCount(), 0u);
  lib->Release();
}

TEST(Module, ClassFactoryQueriesAnswerForAnEmptyList) {
  Module dll;
  ASSERT_NE(dll.get(), nullptr);
  void* out = reinterpret_cast<void*>(1);
  const GUID any = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(dll.Get<HRESULT(STDAPICALLTYPE*)(const void*, const void*, void**)>(
                "DllGetClassObject")(&any, &IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(dll.Get<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow")(), S_OK);
}

}  // namespace
}  // namespace km4r
