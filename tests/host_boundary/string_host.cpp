// A host whose text and window objects are the window framework's own, laid
// out and managed as the framework does it, from Microsoft's documentation of
// the classes and nothing of the module's code:
//
//   newer  CStringData {manager, length, capacity, count} before the text;
//          every block from a string manager (IAtlStringMgr) that counts and
//          checks each call; its nil string for the empty text.
//   older  {count, length, capacity} before the text (i686 only); blocks of
//          capacity 64/128/256/512 from pools, others from new[], one static
//          empty string with count -1; FreeData returns a block that is in no
//          pool and not the host's own to the C runtime's delete[].
//
// Every block has a no-access page right before its header (pass "front")
// or right after its capacity (pass "back", up to 7 bytes of alignment
// between, filled with a pattern that must survive). The module is loaded
// after a module named like the framework's DLL of that generation, as a
// host built on the framework has it.
//
// The window objects (CWnd, m_hWnd after CCmdTarget's members) end right
// before a no-access page, and are handed to InitControl.
//
//   km4r_string_host MODULE FRAMEWORK_DLL[,FRAMEWORK_DLL]|- newer|older|undecided|static [CASE]
//       runs every case of the tables (or only the one named CASE): window
//       objects through InitControl, strings through SetProName and, with
//       the virtual pendant turning the wheel while jogging is switched off
//       in the host, through the status text " Jog OFF. "; exit status 0
//       when every check held. "undecided" runs the newer generation's
//       string cases with the DLLs of both generations loaded, where the
//       module cannot tell and must only read; "static" loads no framework
//       DLL (a host linked statically) and runs the newer generation's.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/host_interface.h"

namespace {

int g_failures = 0;

#define CHECK(cond, ...)                                                \
  do {                                                                  \
    if (!(cond)) {                                                      \
      ++g_failures;                                                     \
      std::printf("FAILED %s: line %d: %s: ", g_case, __LINE__, #cond); \
      std::printf(__VA_ARGS__);                                         \
      std::printf("\n");                                                \
    }                                                                   \
  } while (0)

const char* g_case = "setup";
bool g_back = false;       // pass "back": the guard page right after the capacity
bool g_undecided = false;  // both generations' DLLs loaded

// --- guarded blocks ----------------------------------------------------------

constexpr unsigned char kPattern = 0xA5;

struct Region {
  char* base = nullptr;  // the first guard page
  char* open = nullptr;  // the first accessible byte
  std::size_t openSize = 0;
  char* block = nullptr;
  std::size_t blockSize = 0;
};

std::size_t PageSize() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwPageSize;
}

Region NewRegion(std::size_t size) {
  const std::size_t page = PageSize();
  const std::size_t pages = (size + page - 1) / page;
  Region r;
  r.base = static_cast<char*>(
      VirtualAlloc(nullptr, (pages + 2) * page, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
  if (r.base == nullptr) {
    std::printf("VirtualAlloc failed\n");
    std::exit(1);
  }
  DWORD old;
  VirtualProtect(r.base + page, pages * page, PAGE_READWRITE, &old);
  r.open = r.base + page;
  r.openSize = pages * page;
  std::memset(r.open, kPattern, r.openSize);
  if (g_back) {
    const auto end = reinterpret_cast<uintptr_t>(r.open + r.openSize);
    r.block = reinterpret_cast<char*>((end - size) & ~uintptr_t{7});
  } else {
    r.block = r.open;
  }
  r.blockSize = size;
  return r;
}

// Nothing written between the guard pages outside the block.
bool PatternIntact(const Region& r) {
  for (const char* p = r.open; p < r.open + r.openSize; ++p) {
    if (p >= r.block && p < r.block + r.blockSize) continue;
    if (static_cast<unsigned char>(*p) != kPattern) return false;
  }
  return true;
}

void FreeRegion(const Region& r) {
  VirtualFree(r.base, 0, MEM_RELEASE);
}

struct Counts {
  int allocate = 0, free = 0, reallocate = 0, nil = 0, clone = 0;
  int poolFree = 0, runtimeFree = 0;
  bool operator==(const Counts& o) const {
    return allocate == o.allocate && free == o.free && reallocate == o.reallocate && nil == o.nil &&
           clone == o.clone && poolFree == o.poolFree && runtimeFree == o.runtimeFree;
  }
  Counts operator-(const Counts& o) const {
    return {allocate - o.allocate, free - o.free,         reallocate - o.reallocate,  nil - o.nil,
            clone - o.clone,       poolFree - o.poolFree, runtimeFree - o.runtimeFree};
  }
};

void Print(const char* what, const Counts& c) {
  std::printf(
      "  %s: allocate %d free %d reallocate %d nil %d clone %d poolFree %d runtimeFree %d\n", what,
      c.allocate, c.free, c.reallocate, c.nil, c.clone, c.poolFree, c.runtimeFree);
}

// The host's side of its framework, for either generation.
class Framework {
 public:
  virtual ~Framework() = default;
  // A string of count 1 holding `text`; capacity 0 lets the framework choose.
  virtual char* Make(const char* text, int capacity) = 0;
  // The same from a string manager the host made at run time (newer only).
  virtual char* MakeAtRunTime(const char* text, int capacity) { return Make(text, capacity); }
  virtual char* Copy(char* text) = 0;  // the copy constructor
  virtual char* Empty() = 0;           // the empty string, as a new object gets it
  virtual void Lock(char* text) = 0;   // LockBuffer
  virtual void Unlock(char* text) = 0;
  virtual void Release(char* text) = 0;  // the destructor
  virtual long Refs(const char* text) = 0;
  virtual int Capacity(const char* text) = 0;
  virtual int Length(const char* text) = 0;
  virtual void SetLength(char* text, int length) = 0;  // to spoil a header
  virtual bool Owns(const char* text) = 0;             // a block of the host's framework
  virtual std::size_t Live() = 0;                      // blocks the framework holds
  virtual int Damaged() = 0;                           // live blocks written outside
  virtual long NilRefs() = 0;
  Counts counts;
  int errors = 0;  // a call the framework would not accept
};

// --- newer generation --------------------------------------------------------

#if defined(_WIN64)
#define THISCALL
#else
#define THISCALL __attribute__((thiscall))
#endif

struct Manager;
struct StringData {  // CStringData
  Manager* manager;
  int length;
  int capacity;
  long refs;
};
struct ManagerTable {  // IAtlStringMgr
  StringData*(THISCALL* allocate)(Manager*, int, int);
  void(THISCALL* free)(Manager*, StringData*);
  StringData*(THISCALL* reallocate)(Manager*, StringData*, int, int);
  StringData*(THISCALL* getNilString)(Manager*);
  Manager*(THISCALL* clone)(Manager*);
};
struct Manager {
  const ManagerTable* table;
};

class NewerFramework;
NewerFramework* g_newer = nullptr;

class NewerFramework final : public Framework {
 public:
  NewerFramework() {
    g_newer = this;
    nilRegion_ = NewRegion(sizeof(StringData) + 1);
    nil_ = reinterpret_cast<StringData*>(nilRegion_.block);
    *nil_ = StringData{&manager_, 0, 0, 2};
    Text(nil_)[0] = '\0';
  }
  static StringData* Data(const char* text) {
    return reinterpret_cast<StringData*>(const_cast<char*>(text)) - 1;
  }
  static char* Text(StringData* d) { return reinterpret_cast<char*>(d + 1); }

  ~NewerFramework() override { delete runtime_; }
  char* Make(const char* text, int capacity) override {
    return MakeWith(&manager_, text, capacity);
  }
  char* MakeAtRunTime(const char* text, int capacity) override {
    return MakeWith(runtime_, text, capacity);
  }
  char* Copy(char* text) override {
    StringData* d = Data(text);
    Manager* m = d->manager->table->clone(d->manager);
    if (d->refs >= 0 && m == d->manager) {
      InterlockedIncrement(&d->refs);
      return text;
    }
    StringData* c = m->table->allocate(m, d->length, 1);
    std::memcpy(Text(c), text, d->length + 1);
    c->length = d->length;
    return Text(c);
  }
  char* Empty() override { return Text(manager_.table->getNilString(&manager_)); }
  void Lock(char* text) override {
    StringData* d = Data(text);
    if (--d->refs == 0) d->refs = -1;
  }
  void Unlock(char* text) override {
    StringData* d = Data(text);
    if (d->refs < 0 && ++d->refs == 0) d->refs = 1;
  }
  void Release(char* text) override {
    StringData* d = Data(text);
    if (InterlockedDecrement(&d->refs) <= 0) d->manager->table->free(d->manager, d);
  }
  long Refs(const char* text) override { return Data(text)->refs; }
  int Capacity(const char* text) override { return Data(text)->capacity; }
  int Length(const char* text) override { return Data(text)->length; }
  void SetLength(char* text, int length) override { Data(text)->length = length; }
  bool Owns(const char* text) override {
    return blocks_.count(Data(text)) != 0 || Data(text) == nil_;
  }
  std::size_t Live() override { return blocks_.size(); }
  int Damaged() override {
    int n = PatternIntact(nilRegion_) ? 0 : 1;
    for (const auto& b : blocks_) n += PatternIntact(b.second) ? 0 : 1;
    return n;
  }
  long NilRefs() override { return nil_->refs; }

 private:
  static char* MakeWith(Manager* m, const char* text, int capacity) {
    const int n = static_cast<int>(std::strlen(text));
    StringData* d = m->table->allocate(m, capacity > n ? capacity : n, 1);
    std::memcpy(Text(d), text, n + 1);
    d->length = n;
    return Text(d);
  }
  static bool Ours(const Manager* m) { return m == &manager_ || m == g_newer->runtime_; }
  static StringData* THISCALL Allocate(Manager* self, int capacity, int charSize) {
    ++g_newer->counts.allocate;
    if (!Ours(self) || charSize != 1 || capacity < 0) ++g_newer->errors;
    const Region r = NewRegion(sizeof(StringData) + capacity + 1);
    auto* d = reinterpret_cast<StringData*>(r.block);
    *d = StringData{self, 0, capacity, 1};
    Text(d)[0] = '\0';
    g_newer->blocks_[d] = r;
    return d;
  }
  static void THISCALL Free(Manager* self, StringData* d) {
    ++g_newer->counts.free;
    auto it = g_newer->blocks_.find(d);
    if (!Ours(self) || it == g_newer->blocks_.end()) {
      ++g_newer->errors;
      std::printf("  Free of a block the manager does not hold\n");
      return;
    }
    if (!PatternIntact(it->second)) ++g_newer->errors;
    FreeRegion(it->second);
    g_newer->blocks_.erase(it);
  }
  static StringData* THISCALL Reallocate(Manager* self, StringData* d, int capacity, int charSize) {
    ++g_newer->counts.reallocate;
    auto it = g_newer->blocks_.find(d);
    if (!Ours(self) || it == g_newer->blocks_.end() || charSize != 1 || capacity < d->length) {
      ++g_newer->errors;
      return nullptr;
    }
    const Region r = NewRegion(sizeof(StringData) + capacity + 1);
    auto* moved = reinterpret_cast<StringData*>(r.block);
    std::memcpy(moved, d, sizeof(StringData) + d->length + 1);
    moved->capacity = capacity;
    FreeRegion(it->second);
    g_newer->blocks_.erase(it);
    g_newer->blocks_[moved] = r;
    return moved;
  }
  static StringData* THISCALL GetNilString(Manager* self) {
    ++g_newer->counts.nil;
    if (self != &g_newer->manager_) ++g_newer->errors;
    InterlockedIncrement(&g_newer->nil_->refs);
    return g_newer->nil_;
  }
  static Manager* THISCALL Clone(Manager* self) {
    ++g_newer->counts.clone;
    return self;
  }
  static const ManagerTable kTable;
  // A static object in the host's image, as the framework's own manager is,
  // and one allocated at run time.
  static Manager manager_;
  Manager* runtime_ = new Manager{&kTable};

  Region nilRegion_;
  StringData* nil_ = nullptr;
  std::map<StringData*, Region> blocks_;
};
const ManagerTable NewerFramework::kTable = {Allocate, Free, Reallocate, GetNilString, Clone};
Manager NewerFramework::manager_ = {&NewerFramework::kTable};

// --- older generation --------------------------------------------------------

struct OlderData {
  long refs;
  int length;
  int capacity;
};

class OlderFramework final : public Framework {
 public:
  OlderFramework() {
    nilRegion_ = NewRegion(sizeof(OlderData) + 1);
    nil_ = reinterpret_cast<OlderData*>(nilRegion_.block);
    *nil_ = OlderData{-1, 0, 0};
    Text(nil_)[0] = '\0';
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    if (crt == nullptr) crt = LoadLibraryA("msvcrt.dll");
    deleteArray_ = reinterpret_cast<void(__cdecl*)(void*)>(
        reinterpret_cast<void*>(GetProcAddress(crt, "??_V@YAXPAX@Z")));
    if (deleteArray_ == nullptr)
      deleteArray_ = reinterpret_cast<void(__cdecl*)(void*)>(
          reinterpret_cast<void*>(GetProcAddress(crt, "??3@YAXPAX@Z")));
  }
  static OlderData* Data(const char* text) {
    return reinterpret_cast<OlderData*>(const_cast<char*>(text)) - 1;
  }
  static char* Text(OlderData* d) { return reinterpret_cast<char*>(d + 1); }

  // AllocBuffer: the pools for up to 512 characters; `capacity` other than 0
  // stands for a block the framework had from new[] (a debug build's).
  char* Make(const char* text, int capacity) override {
    const int n = static_cast<int>(std::strlen(text));
    if (n == 0) return Empty();
    OlderData* d = capacity > 0 ? NewBlock(capacity) : AllocBuffer(n);
    std::memcpy(Text(d), text, n + 1);
    d->length = n;
    return Text(d);
  }
  char* Copy(char* text) override {
    OlderData* d = Data(text);
    if (d->refs >= 0) {
      InterlockedIncrement(&d->refs);
      return text;
    }
    return Make(text, 0);
  }
  char* Empty() override { return Text(nil_); }
  void Lock(char* text) override { Data(text)->refs = -1; }
  void Unlock(char* text) override {
    if (Data(text) != nil_) Data(text)->refs = 1;
  }
  void Release(char* text) override {
    OlderData* d = Data(text);
    if (d != nil_ && InterlockedDecrement(&d->refs) <= 0) FreeData(d);
  }
  long Refs(const char* text) override { return Data(text)->refs; }
  int Capacity(const char* text) override { return Data(text)->capacity; }
  int Length(const char* text) override { return Data(text)->length; }
  void SetLength(char* text, int length) override { Data(text)->length = length; }
  bool Owns(const char* text) override {
    return blocks_.count(Data(text)) != 0 || Data(text) == nil_;
  }
  std::size_t Live() override { return blocks_.size(); }
  int Damaged() override {
    int n = PatternIntact(nilRegion_) ? 0 : 1;
    for (const auto& b : blocks_) n += PatternIntact(b.second) ? 0 : 1;
    return n;
  }
  long NilRefs() override { return nil_->refs; }

 private:
  static bool PoolSize(int capacity) {
    return capacity == 64 || capacity == 128 || capacity == 256 || capacity == 512;
  }
  OlderData* NewBlock(int capacity) {
    const Region r = NewRegion(sizeof(OlderData) + capacity + 1);
    auto* d = reinterpret_cast<OlderData*>(r.block);
    *d = OlderData{1, 0, capacity};
    blocks_[d] = r;
    return d;
  }
  OlderData* AllocBuffer(int n) {
    for (int pool : {64, 128, 256, 512})
      if (n <= pool) return NewBlock(pool);
    return NewBlock(n);
  }
  void FreeData(OlderData* d) {
    auto it = blocks_.find(d);
    if (it != blocks_.end()) {
      if (PoolSize(d->capacity)) ++counts.poolFree;
      if (!PatternIntact(it->second)) ++errors;
      FreeRegion(it->second);
      blocks_.erase(it);
      return;
    }
    // Not the host's: a pool block would be freed into the pool here.
    if (PoolSize(d->capacity) || deleteArray_ == nullptr) {
      ++errors;
      std::printf("  FreeData of a foreign block of capacity %d\n", d->capacity);
      return;
    }
    ++counts.runtimeFree;
    deleteArray_(d);
  }

  Region nilRegion_;
  OlderData* nil_ = nullptr;
  std::map<OlderData*, Region> blocks_;
  void(__cdecl* deleteArray_)(void*) = nullptr;
};

// --- the module --------------------------------------------------------------

struct TextObject {
  char* text;
};
#if defined(_WIN64)
using SetProNameFn = const char* (*)(TextObject* temporary);
#else
using SetProNameFn = const char* (*)(TextObject byValue);
#endif

HMODULE g_module = nullptr;

template <typename Fn>
Fn Export(const char* name) {
  void* f = reinterpret_cast<void*>(GetProcAddress(g_module, name));
  if (f == nullptr) {
    std::printf("%s not exported\n", name);
    std::exit(1);
  }
  return reinterpret_cast<Fn>(f);
}

// The callee destroys a by-value object: the host hands it over.
const char* CallSetProName(char* argument) {
  TextObject object{argument};
#if defined(_WIN64)
  return Export<SetProNameFn>("SetProName")(&object);
#else
  return Export<SetProNameFn>("SetProName")(object);
#endif
}

class TickClock final : public km4r::platform::Clock {
 public:
  uint64_t NowMs() const override { return GetTickCount64(); }
};

void __cdecl DoButton(short) {}
void __cdecl SetDro(short, double) {}
double __cdecl GetDro(short) {
  return 0.0;
}
// Every indicator unlit: jogging is switched off in the host.
bool __cdecl GetLed(short) {
  return false;
}
void __cdecl SetLed(short, bool) {}
void __cdecl Code(const char*) {}

void Pump(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  MSG msg;
  while (GetTickCount64() < end) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// --- the cases ---------------------------------------------------------------

enum class Where { kSetProName, kStatus };
enum class Start {
  kUnshared,
  kShared,
  kEmpty,
  kLocked,
  kLockedTwice,  // LockBuffer twice: the newer framework's count -2
  kTooSmall,
  kSpoiled,
  kEmbeddedNul,     // a NUL inside the text, the length after it
  kRuntimeManager,  // newer: from a manager made at run time (status: too small)
};

constexpr long kFreed = -100;  // the object's block went back to its framework

struct Case {
  const char* name;
  Where where;
  Start start;
  bool newer;          // row of the newer generation's table
  Counts module;       // what the module's call did to the framework
  long refsAfter;      // the argument's / status object's count afterwards
  bool statusWritten;  // the status reads " Jog OFF. " afterwards
  bool sameBlock;      // the status object kept its block
  int capacityAfter;   // 0: not checked
};

Counts C(int allocate, int free, int reallocate, int nil, int clone) {
  Counts c;
  c.allocate = allocate;
  c.free = free;
  c.reallocate = reallocate;
  c.nil = nil;
  c.clone = clone;
  return c;
}
Counts None() {
  return Counts{};
}

const char* const kJogOff = " Jog OFF. ";

// clang-format off
const Case kCases[] = {
  // newer generation: every block through the manager named in its header
  {"newer SetProName unshared temporary", Where::kSetProName, Start::kUnshared, true, C(0, 1, 0, 0, 0), kFreed, false, false, 0},
  {"newer SetProName shared with the host", Where::kSetProName, Start::kShared, true, None(), 1, false, false, 0},
  {"newer SetProName empty", Where::kSetProName, Start::kEmpty, true, None(), 2, false, false, 0},
  {"newer SetProName copy of a locked string", Where::kSetProName, Start::kLocked, true, C(0, 1, 0, 0, 0), kFreed, false, false, 0},
  {"newer SetProName spoiled header", Where::kSetProName, Start::kSpoiled, true, None(), 1, false, false, 0},
  {"newer SetProName embedded NUL", Where::kSetProName, Start::kEmbeddedNul, true, C(0, 1, 0, 0, 0), kFreed, false, false, 0},
  {"newer SetProName manager made at run time", Where::kSetProName, Start::kRuntimeManager, true, C(0, 1, 0, 0, 0), kFreed, false, false, 0},
  {"newer status unshared with room", Where::kStatus, Start::kUnshared, true, None(), 1, true, true, 32},
  {"newer status too small", Where::kStatus, Start::kTooSmall, true, C(0, 0, 1, 0, 0), 1, true, false, 10},
  {"newer status shared with the host", Where::kStatus, Start::kShared, true, C(1, 0, 0, 0, 1), 1, true, false, 10},
  {"newer status empty", Where::kStatus, Start::kEmpty, true, C(1, 0, 0, 0, 1), 1, true, false, 10},
  {"newer status locked", Where::kStatus, Start::kLocked, true, None(), -1, true, true, 32},
  {"newer status spoiled header", Where::kStatus, Start::kSpoiled, true, None(), 1, false, true, 32},
  {"newer status locked twice", Where::kStatus, Start::kLockedTwice, true, None(), -2, true, true, 32},
  {"newer status embedded NUL", Where::kStatus, Start::kEmbeddedNul, true, None(), 1, true, true, 32},
  {"newer status manager made at run time", Where::kStatus, Start::kRuntimeManager, true, C(0, 0, 1, 0, 0), 1, true, false, 10},
  // older generation: counts only while another owner remains, never a free
  {"older SetProName unshared temporary", Where::kSetProName, Start::kUnshared, false, None(), 1, false, false, 0},
  {"older SetProName shared with the host", Where::kSetProName, Start::kShared, false, None(), 1, false, false, 0},
  {"older SetProName empty", Where::kSetProName, Start::kEmpty, false, None(), -1, false, false, 0},
  {"older SetProName copy of a locked string", Where::kSetProName, Start::kLocked, false, None(), 1, false, false, 0},
  {"older SetProName spoiled header", Where::kSetProName, Start::kSpoiled, false, None(), 1, false, false, 0},
  {"older status unshared with room", Where::kStatus, Start::kUnshared, false, None(), 1, true, true, 64},
  {"older status too small", Where::kStatus, Start::kTooSmall, false, None(), 1, true, false, 10},
  {"older status shared with the host", Where::kStatus, Start::kShared, false, None(), 1, true, false, 10},
  {"older status empty", Where::kStatus, Start::kEmpty, false, None(), 1, true, false, 10},
  {"older status locked", Where::kStatus, Start::kLocked, false, None(), -1, true, true, 64},
  {"older status spoiled header", Where::kStatus, Start::kSpoiled, false, None(), 1, false, true, 64},
  {"older status embedded NUL", Where::kStatus, Start::kEmbeddedNul, false, None(), 1, true, true, 64},
};
// clang-format on

struct Session {
  km4r::platform::VirtualBus* bus = nullptr;
  int pendant = -1;
  int wheel = 0;
  unsigned char* statusSlot = nullptr;
  HWND module = nullptr;  // the module's window: its cycle runs at WM_TIMER
};

// One wheel step while jogging is off, taken by the module's cycle. The
// cycle is run here, as the timer would run it, so that the case does not
// depend on when the system's timer fires; a read may take a cycle to
// complete before the report is taken, and it is decoded in the cycle that
// takes it.
bool TurnWheel(Session& s) {
  s.wheel = (s.wheel + 1) & 0xFF;
  const unsigned char report[8] = {0, static_cast<unsigned char>(s.wheel), 5, 0x41, 1, 0, 0, 0};
  s.bus->QueueInput(s.pendant, report, sizeof report);
  for (int cycle = 0; cycle < 100; ++cycle) {
    SendMessageA(s.module, WM_TIMER, 1, 0);
    if (s.bus->QueuedInputs(s.pendant) == 0) return true;
    Pump(5);
  }
  return false;
}

char* Slot(const Session& s) {
  char* text = nullptr;
  std::memcpy(&text, s.statusSlot, sizeof text);
  return text;
}
void SetSlot(Session& s, char* text) {
  std::memcpy(s.statusSlot, &text, sizeof text);
}

void RunCase(const Case& c, Framework& f, const std::string& path, Session* session) {
  g_case = c.name;
  const std::size_t liveBefore = f.Live();
  const long nilBefore = f.NilRefs();
  const bool status = c.where == Where::kStatus;
  const char* initial = status ? "Ready" : path.c_str();
  char* kept = nullptr;    // the host's own object
  char* object = nullptr;  // the argument, or the status object
  switch (c.start) {
    case Start::kUnshared:
      object = f.Make(initial, status ? (c.newer ? 32 : 0) : 0);
      break;
    case Start::kShared:
      kept = f.Make(initial, 0);
      object = f.Copy(kept);
      break;
    case Start::kEmpty:
      object = f.Empty();
      break;
    case Start::kLocked:
    case Start::kLockedTwice:
      kept = f.Make(initial, status && c.newer ? 32 : 0);
      f.Lock(kept);
      if (c.start == Start::kLockedTwice) f.Lock(kept);
      if (status) {
        object = kept;
        kept = nullptr;
      } else {
        object = f.Copy(kept);
      }
      break;
    case Start::kTooSmall:
      object = f.Make("Hi", 2);
      break;
    case Start::kSpoiled:
      object = f.Make(initial, status ? (c.newer ? 32 : 0) : 0);
      f.SetLength(object, f.Length(object) + 1);  // the header disagrees with its text
      break;
    case Start::kEmbeddedNul: {
      // The text before the NUL is what a reader of the characters sees.
      const std::string longer = std::string(initial) + "#tail";
      object = f.Make(longer.c_str(), status ? (c.newer ? 32 : 0) : 0);
      object[std::strlen(initial)] = '\0';
      break;
    }
    case Start::kRuntimeManager:
      object = status ? f.MakeAtRunTime("Hi", 2) : f.MakeAtRunTime(initial, 0);
      break;
  }
  const std::string objectText = object;
  const int lengthBefore = f.Length(object);
  char* result = object;
  unsigned char header[sizeof(StringData)] = {};
  if (g_undecided) std::memcpy(header, object - sizeof header, sizeof header);
  const Counts before = f.counts;
  if (status) {
    SetSlot(*session, object);
    CHECK(TurnWheel(*session), "the module took no report");
    result = Slot(*session);
  } else {
    const char* name = CallSetProName(object);
    CHECK(name != nullptr && std::strstr(name, " Pendant --Harbrook Ver 3.3.0") != nullptr,
          "name '%s'", name == nullptr ? "(null)" : name);
  }
  const Counts did = f.counts - before;
  const Counts want = g_undecided ? None() : c.module;
  CHECK(did == want, "framework calls differ");
  if (!(did == want)) {
    Print("made", did);
    Print("want", want);
  }
  CHECK(f.errors == 0, "%d call(s) the framework refuses", f.errors);
  CHECK(f.Damaged() == 0, "%d block(s) written outside", f.Damaged());
  if (kept != nullptr) {
    CHECK(std::strcmp(kept, initial) == 0, "the host's copy reads '%s'", kept);
    const long keptRefs = c.start == Start::kLocked ? -1 : (g_undecided && kept == object ? 2 : 1);
    CHECK(f.Refs(kept) == keptRefs, "the host's copy has count %ld, want %ld", f.Refs(kept),
          keptRefs);
  }
  if (g_undecided) {
    // Only read: not a byte of the object changed, the field kept it.
    CHECK(result == object, "the status field changed");
    CHECK(std::memcmp(header, object - sizeof header, sizeof header) == 0 && objectText == object,
          "the object changed");
  } else if (status) {
    CHECK(std::strcmp(result, c.statusWritten ? kJogOff : objectText.c_str()) == 0, "status '%s'",
          result);
    CHECK((result == object) == c.sameBlock, "status block %s", result == object ? "kept" : "new");
    CHECK(f.Refs(result) == c.refsAfter, "status count %ld, want %ld", f.Refs(result), c.refsAfter);
    if (c.capacityAfter != 0)
      CHECK(f.Capacity(result) == c.capacityAfter ||
                (!c.newer && !c.sameBlock && f.Capacity(result) >= c.capacityAfter),
            "status capacity %d, want %d", f.Capacity(result), c.capacityAfter);
    if (!c.newer && !c.sameBlock) {
      // A block of the C runtime, unpooled, that FreeData hands to delete[].
      CHECK(!f.Owns(result), "the status block is the host's");
      const int cap = f.Capacity(result);
      CHECK(cap != 64 && cap != 128 && cap != 256 && cap != 512, "pool capacity %d", cap);
      CHECK(f.Length(result) == 10, "status length %d", f.Length(result));
    }
    if (!c.newer && c.start == Start::kTooSmall)
      CHECK(f.Refs(object) == 1, "old status count %ld", f.Refs(object));  // left to the host
  }
  if (!g_undecided && c.refsAfter != kFreed && (!status || !c.statusWritten)) {
    // Not the module's to change: the header reads as the host left it.
    CHECK(f.Length(object) == lengthBefore, "length field %d, want %d", f.Length(object),
          lengthBefore);
  }
  if (!g_undecided && !status && c.refsAfter != kFreed) {
    // The framework's empty string: back to its count before the host's copy.
    const long want = c.start == Start::kEmpty && c.newer ? nilBefore : c.refsAfter;
    CHECK(f.Refs(object) == want, "argument count %ld, want %ld", f.Refs(object), want);
  }
  if (c.start == Start::kSpoiled) f.SetLength(object, f.Length(object) - 1);

  // The host releases everything through its own framework.
  if (status) {
    while (f.Refs(result) < 0) f.Unlock(result);
    const Counts r0 = f.counts;
    f.Release(result);
    if (!c.newer && !c.sameBlock)
      CHECK((f.counts - r0).runtimeFree == 1, "the module's block did not go to delete[]");
    if (!c.newer && c.start == Start::kTooSmall) f.Release(object);
    SetSlot(*session, f.Empty());
  } else if (g_undecided ||
             (c.refsAfter != kFreed && c.start != Start::kShared && c.start != Start::kEmpty)) {
    f.Release(object);  // the argument the module left to the host
  }
  if (kept != nullptr) {
    if (f.Refs(kept) < 0) f.Unlock(kept);
    f.Release(kept);
  }
  CHECK(f.Live() == liveBefore, "%d block(s) left after the host released everything",
        static_cast<int>(f.Live() - liveBefore));
  // A status field holds the empty string again, one more owner of it.
  const long nilWant = nilBefore + (status && c.newer ? 1 : 0);
  CHECK(f.NilRefs() == nilWant, "empty string count %ld, want %ld", f.NilRefs(), nilWant);
  CHECK(f.errors == 0, "%d call(s) the framework refuses", f.errors);
}

// --- the window object -------------------------------------------------------

// CWnd's m_hWnd follows CCmdTarget's m_pModuleState; an older static build
// has no m_pModuleState, so there m_hWnd is one slot earlier and m_hWndOwner
// follows it.
constexpr std::size_t kHandleAt = sizeof(void*) == 8 ? 0x40 : 0x20;
constexpr std::size_t kStaticHandleAt = kHandleAt - sizeof(void*);
constexpr std::size_t kWholeObject = kHandleAt + 2 * sizeof(void*);

enum class Role { kNothing, kMain, kChild, kOwned, kLoose, kPointer };
const char* const kRoleNames[] = {
    "nothing (a window of its own)", "main", "child", "owned", "loose", "pointer"};

// The host thread's windows: its main window, a child of it, a popup it owns,
// and another top-level window.
struct HostWindows {
  HWND main, child, owned, loose;
  HWND Of(Role r) const {
    const HWND all[] = {nullptr, main, child, owned, loose, nullptr};
    return all[static_cast<int>(r)];
  }
};

struct WindowCase {
  const char* name;
  bool dll;                   // run with a framework DLL loaded; else with none (static)
  std::size_t size;           // the object's bytes, the last right before a no-access page
  Role early, handle, after;  // at kStaticHandleAt, kHandleAt and one slot after it
  Role parent;                // where the module's window is
};

// clang-format off
const WindowCase kWindowCases[] = {
  {"DLL: the object ends before m_hWnd", true, kHandleAt, Role::kPointer, Role::kNothing, Role::kNothing, Role::kNothing},
  {"DLL: the object ends before m_pModuleState", true, kStaticHandleAt, Role::kNothing, Role::kNothing, Role::kNothing, Role::kNothing},
  {"DLL: m_hWndOwner another window", true, kWholeObject, Role::kPointer, Role::kMain, Role::kLoose, Role::kMain},
  {"DLL: m_hWnd a child, the place before it the main window", true, kWholeObject, Role::kMain, Role::kChild, Role::kNothing, Role::kChild},
  {"static older: m_hWndOwner a child of the main window", false, kWholeObject, Role::kMain, Role::kChild, Role::kNothing, Role::kMain},
  {"static older: m_hWndOwner a popup of the main window", false, kWholeObject, Role::kMain, Role::kOwned, Role::kNothing, Role::kMain},
  {"static older: m_hWndOwner another top-level window", false, kWholeObject, Role::kMain, Role::kLoose, Role::kNothing, Role::kMain},
  {"static older: m_hWnd a child, m_hWndOwner the main window", false, kWholeObject, Role::kChild, Role::kMain, Role::kNothing, Role::kMain},
  {"static newer: m_pModuleState, then m_hWnd", false, kWholeObject, Role::kPointer, Role::kMain, Role::kLoose, Role::kMain},
  {"static older: the object ends after m_hWnd", false, kHandleAt, Role::kMain, Role::kNothing, Role::kNothing, Role::kMain},
  {"static: the object ends before both places", false, kStaticHandleAt, Role::kNothing, Role::kNothing, Role::kNothing, Role::kNothing},
};
// clang-format on

// The module's windows right under `parent` (HWND_MESSAGE: message-only ones).
std::vector<HWND> ModuleWindows(HWND parent) {
  std::vector<HWND> found;
  for (HWND h = FindWindowExA(parent, nullptr, nullptr, nullptr); h != nullptr;
       h = FindWindowExA(parent, h, nullptr, nullptr))
    if (reinterpret_cast<HMODULE>(GetWindowLongPtrA(h, GWLP_HINSTANCE)) == g_module)
      found.push_back(h);
  return found;
}

// How many windows the module has under the host's windows or as message-only
// ones, and where the last of them is.
std::size_t Placed(const HostWindows& w, Role& where) {
  std::size_t total = 0;
  for (Role role : {Role::kMain, Role::kChild, Role::kOwned, Role::kLoose, Role::kNothing}) {
    const std::size_t n = ModuleWindows(role == Role::kNothing ? HWND_MESSAGE : w.Of(role)).size();
    total += n;
    if (n != 0) where = role;
  }
  return total;
}

using InitControlFn = bool (*)(void*, void*, void*, void*);

// InitControl with the object as HostBlockD, then StopPlug: exactly one
// window of the module, under the case's parent, and the object unchanged.
void RunWindowCase(const WindowCase& c, const HostWindows& w, std::vector<unsigned char>* blocks) {
  g_case = c.name;
  Region r = NewRegion(c.size);
  r.block = r.open + r.openSize - c.size;
  r.blockSize = c.size;
  std::memset(r.block, 0, c.size);
  const struct {
    std::size_t at;
    Role role;
  } slots[] = {
      {kStaticHandleAt, c.early}, {kHandleAt, c.handle}, {kHandleAt + sizeof(void*), c.after}};
  for (const auto& slot : slots) {
    // m_pModuleState points into the host's image.
    const void* value = slot.role == Role::kPointer ? static_cast<const void*>(&g_case)
                                                    : static_cast<const void*>(w.Of(slot.role));
    if (slot.at + sizeof value <= c.size) std::memcpy(r.block + slot.at, &value, sizeof value);
  }
  const std::vector<unsigned char> object(r.block, r.block + c.size);
  Export<InitControlFn>("InitControl")(blocks[0].data(), blocks[1].data(), blocks[2].data(),
                                       r.block);
  Role where = Role::kPointer;
  const std::size_t total = Placed(w, where);
  CHECK(total == 1 && where == c.parent, "%d module window(s), under %s, want under %s",
        static_cast<int>(total), kRoleNames[static_cast<int>(where)],
        kRoleNames[static_cast<int>(c.parent)]);
  Export<void (*)()>("StopPlug")();
  CHECK(Placed(w, where) == 0, "the module's window outlived StopPlug");
  CHECK(std::memcmp(object.data(), r.block, c.size) == 0 && PatternIntact(r),
        "the window object was written");
  FreeRegion(r);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf(
        "usage: km4r_string_host MODULE FRAMEWORK_DLL[,FRAMEWORK_DLL]|- "
        "newer|older|undecided|static [CASE]\n");
    return 2;
  }
  g_undecided = std::strcmp(argv[3], "undecided") == 0;
  const bool dll = std::strcmp(argv[3], "static") != 0;
  const bool newer = std::strcmp(argv[3], "older") != 0;
  const char* only = argc > 4 ? argv[4] : nullptr;
  // The framework's DLL is in the process before the module, as in a host
  // built on it.
  for (std::string dlls = dll ? argv[2] : ""; !dlls.empty();) {
    const std::size_t comma = dlls.find(',');
    const std::string dll = dlls.substr(0, comma);
    dlls = comma == std::string::npos ? "" : dlls.substr(comma + 1);
    if (LoadLibraryA(dll.c_str()) == nullptr) {
      std::printf("cannot load %s\n", dll.c_str());
      return 1;
    }
  }
  CoInitialize(nullptr);
  g_module = LoadLibraryA(argv[1]);
  if (g_module == nullptr) {
    std::printf("cannot load %s\n", argv[1]);
    return 1;
  }
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string path = std::string(temp) + "km4r_string_host_profile.xml";

  Session session;
  session.bus = Export<km4r::platform::VirtualBus* (*)()>("KM4R_VirtualBus")();
  TickClock clock;
  session.bus->Reset();
  session.bus->SetClock(&clock);
  session.pendant = session.bus->AddDevice("\\\\?\\hid#virtual#pendant", 0x04D8, 0xFCE7);
  Export<void (*)(km4r::host::DoButtonFn)>("SetDoButton")(&DoButton);
  Export<void (*)(km4r::host::SetDroFn)>("SetSetDRO")(&SetDro);
  Export<void (*)(km4r::host::GetDroFn)>("SetGetDRO")(&GetDro);
  Export<void (*)(km4r::host::GetLedFn)>("SetGetLED")(&GetLed);
  Export<void (*)(km4r::host::SetLedFn)>("SetSetLED")(&SetLed);
  Export<void (*)(km4r::host::CodeFn)>("SetCode")(&Code);

  int ran = 0;
  // The host thread's windows, the main one the session's.
  const HINSTANCE self = GetModuleHandleA(nullptr);
  HostWindows windows{};
  windows.main = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                 nullptr, self, nullptr);
  windows.child =
      CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, windows.main, nullptr, self, nullptr);
  windows.owned =
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, windows.main, nullptr, self, nullptr);
  windows.loose = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 1, 1, nullptr,
                                  nullptr, self, nullptr);
  std::vector<unsigned char> blocks[] = {std::vector<unsigned char>(km4r::host::kBlockASize),
                                         std::vector<unsigned char>(km4r::host::kBlockBSize),
                                         std::vector<unsigned char>(km4r::host::kBlockCSize)};
  std::printf("window object\n");
  for (const WindowCase& c : kWindowCases)
    if (c.dll == dll && (only == nullptr || c.name == std::string(only))) {
      RunWindowCase(c, windows, blocks);
      ++ran;
    }

  auto wanted = [&](const Case& c, Where where) {
    return c.newer == newer && c.where == where && (only == nullptr || c.name == std::string(only));
  };
  Framework* f = newer ? static_cast<Framework*>(new NewerFramework())
                       : static_cast<Framework*>(new OlderFramework());
  const char* const passes[] = {"front", "back"};
  for (int pass = 0; pass < 2; ++pass) {
    g_back = pass == 1;
    std::printf("SetProName, guard page %s\n", passes[pass]);
    for (const Case& c : kCases)
      if (wanted(c, Where::kSetProName)) {
        RunCase(c, *f, path, nullptr);
        ++ran;
      }
  }

  // A whole session; the status text is the host's and the module writes it
  // while the wheel turns with jogging switched off.
  g_back = false;
  session.statusSlot = blocks[2].data() + km4r::host::offset::kStatusText;
  SetSlot(session, f->Empty());
  // The framework's CWnd: CObject's virtual table, CCmdTarget's members, m_hWnd.
  struct {
    const void* vtable = nullptr;
    long refs = 1;
    void* outer = nullptr;
    uintptr_t inner = 0, dispatch = 0;
    BOOL resultExpected = TRUE;
    uintptr_t connectionPoints = 0;
    void* moduleState = nullptr;
    HWND hwnd = nullptr;
  } window;
  static_assert(offsetof(decltype(window), hwnd) == kHandleAt);
  window.hwnd = windows.main;
  g_case = "session";
  char* argument = f->Make(path.c_str(), 0);
  CallSetProName(argument);
  if (!newer || g_undecided) {
    CHECK(f->Refs(argument) == 1, "argument count %ld", f->Refs(argument));
    f->Release(argument);  // the module left it
  }
  Export<InitControlFn>("InitControl")(blocks[0].data(), blocks[1].data(), blocks[2].data(),
                                       &window);
  Export<void (*)()>("PostInitControl")();
  const std::vector<HWND> made = ModuleWindows(window.hwnd);
  CHECK(made.size() == 1, "the module made %d window(s) under the host's",
        static_cast<int>(made.size()));
  session.module = made.empty() ? nullptr : made[0];
  CHECK(TurnWheel(session), "the module took no report");
  for (int pass = 0; pass < 2; ++pass) {
    g_back = pass == 1;
    std::printf("status text, guard page %s\n", passes[pass]);
    for (const Case& c : kCases)
      if (wanted(c, Where::kStatus)) {
        f->Release(Slot(session));
        RunCase(c, *f, path, &session);
        ++ran;
      }
  }
  g_case = "session end";
  Export<void (*)()>("StopPlug")();
  f->Release(Slot(session));
  SetSlot(session, nullptr);
  for (HWND h : {windows.child, windows.owned, windows.loose, windows.main}) DestroyWindow(h);
  CHECK(f->Live() == 0, "%d block(s) left at the end", static_cast<int>(f->Live()));
  CHECK(f->errors == 0, "%d call(s) the framework refuses", f->errors);
  delete f;
  DeleteFileA(path.c_str());
  CHECK(ran > 0, "no case named '%s'", only == nullptr ? "" : only);
  std::printf("%d case run(s): %s: %d failure(s)\n", ran, g_failures == 0 ? "passed" : "FAILED",
              g_failures);
  std::fflush(stdout);
  return g_failures == 0 ? 0 : 1;
}
