// HostString on Windows: the host's objects are the window framework's own
// strings (platform/win32/framework_string.h), handled as the framework
// handles them. Which generation the host uses is decided once per process
// from the framework module it has loaded, and every object must agree with
// it before a count changes or a byte is written; an object the module cannot
// place is only read.
//
// Strings made here (by hosts of our own: the tests, the bench) are of the
// newer generation with a string manager of this module.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/host_string.h"
#include "platform/win32/framework_process.h"
#include "platform/win32/framework_string.h"

namespace km4r::platform {

namespace win32 {

bool Readable(const void* p, std::size_t n) {
  auto at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t end = at + n;
  if (p == nullptr || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof mbi) == 0) return false;
    if (mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
    at = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  }
  return true;
}

namespace {

bool AnyLoaded(const char* const* names, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (GetModuleHandleA(names[i]) != nullptr) return true;
  return false;
}

FrameworkProcess DetectProcess() {
  static const char* const kOlder[] = {"mfc42.dll", "mfc42u.dll", "mfc42d.dll", "mfc42ud.dll"};
  static const char* const kNewer[] = {
      "mfc70.dll",   "mfc70u.dll",   "mfc70d.dll",  "mfc70ud.dll",  "mfc71.dll",   "mfc71u.dll",
      "mfc71d.dll",  "mfc71ud.dll",  "mfc80.dll",   "mfc80u.dll",   "mfc80d.dll",  "mfc80ud.dll",
      "mfc90.dll",   "mfc90u.dll",   "mfc90d.dll",  "mfc90ud.dll",  "mfc100.dll",  "mfc100u.dll",
      "mfc100d.dll", "mfc100ud.dll", "mfc110.dll",  "mfc110u.dll",  "mfc110d.dll", "mfc110ud.dll",
      "mfc120.dll",  "mfc120u.dll",  "mfc120d.dll", "mfc120ud.dll", "mfc140.dll",  "mfc140u.dll",
      "mfc140d.dll", "mfc140ud.dll"};
  const bool older = AnyLoaded(kOlder, sizeof kOlder / sizeof kOlder[0]);
  const bool newer = AnyLoaded(kNewer, sizeof kNewer / sizeof kNewer[0]);
#if defined(_WIN64)
  return {FrameworkGeneration::kNewer, older || newer};
#else
  if (older && newer) return {FrameworkGeneration::kUnknown, true};
  if (older) return {FrameworkGeneration::kOlder, true};
  return {FrameworkGeneration::kNewer, newer};
#endif
}

}  // namespace

const FrameworkProcess& Framework() {
  static const FrameworkProcess process = DetectProcess();
  return process;
}

}  // namespace win32

namespace {

using Generation = win32::FrameworkGeneration;
using win32::kOlderPoolSizes;
using win32::kStringManagerSlots;
using win32::NewerHeader;
using win32::OlderHeader;
using win32::Readable;
using win32::StringManager;
using win32::StringManagerTable;

// Counts a real host never reaches; a larger one is not a count.
constexpr long kMaxRefs = 1L << 30;
constexpr int kMaxLength = 1 << 30;

// --- this module's own string manager --------------------------------------

NewerHeader* KM4R_THISCALL OwnAllocate(StringManager* self, int capacity, int charSize);
void KM4R_THISCALL OwnFree(StringManager* self, NewerHeader* data);
NewerHeader* KM4R_THISCALL OwnReallocate(StringManager* self, NewerHeader* data, int capacity,
                                         int charSize);
NewerHeader* KM4R_THISCALL OwnNil(StringManager* self);
StringManager* KM4R_THISCALL OwnClone(StringManager* self);

const StringManagerTable kOwnTable = {OwnAllocate, OwnFree, OwnReallocate, OwnNil, OwnClone};
StringManager g_ownManager = {&kOwnTable};

// Its empty string: a count of two that GetNilString raises, so no release
// ever brings it to zero.
struct {
  NewerHeader header;
  char text[sizeof(void*)];
} g_ownNil = {{&g_ownManager, 0, 0, 2}, {}};

std::size_t BlockSize(int capacity, int charSize) {
  return sizeof(NewerHeader) + (static_cast<std::size_t>(capacity) + 1) * charSize;
}

NewerHeader* KM4R_THISCALL OwnAllocate(StringManager* self, int capacity, int charSize) {
  if (capacity < 0 || charSize <= 0) return nullptr;
  auto* h = static_cast<NewerHeader*>(std::malloc(BlockSize(capacity, charSize)));
  if (h == nullptr) return nullptr;
  *h = NewerHeader{self, 0, capacity, 1};
  return h;
}

void KM4R_THISCALL OwnFree(StringManager*, NewerHeader* data) {
  if (data != &g_ownNil.header) std::free(data);
}

NewerHeader* KM4R_THISCALL OwnReallocate(StringManager*, NewerHeader* data, int capacity,
                                         int charSize) {
  if (capacity < 0 || charSize <= 0) return nullptr;
  auto* h = static_cast<NewerHeader*>(std::realloc(data, BlockSize(capacity, charSize)));
  if (h != nullptr) h->capacity = capacity;
  return h;
}

NewerHeader* KM4R_THISCALL OwnNil(StringManager*) {
  InterlockedIncrement(&g_ownNil.header.refs);
  return &g_ownNil.header;
}

StringManager* KM4R_THISCALL OwnClone(StringManager* self) {
  return self;
}

// --- what the host's memory is ------------------------------------------------

bool InImage(const void* p) {
  HMODULE m = nullptr;
  return GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<LPCWSTR>(p), &m) != 0;
}

bool Executable(const void* p) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!InImage(p) || VirtualQuery(p, &mbi, sizeof mbi) == 0) return false;
  return mbi.State == MEM_COMMIT &&
         (mbi.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                         PAGE_EXECUTE_WRITECOPY)) != 0;
}

// The header agrees with itself and with its text: the framework keeps the
// length within the capacity and a NUL right after the length. The text may
// hold NULs of its own.
bool TextMatches(const char* text, int length, int capacity) {
  if (length < 0 || length > kMaxLength || capacity < length) return false;
  if (!Readable(text, static_cast<std::size_t>(length) + 1)) return false;
  return text[length] == '\0';
}

// The newer framework's lock nests (each LockBuffer takes the count one
// further below zero); the older's sets -1.
bool PlausibleNewerRefs(long refs) {
  return refs != 0 && refs > -kMaxRefs && refs < kMaxRefs;
}
bool PlausibleOlderRefs(long refs) {
  return refs == -1 || (refs >= 1 && refs < kMaxRefs);
}

// A newer-generation object: header and text agree, and the manager is a
// readable object (static or made at run time) whose table lies in a loaded
// module and holds five entry points of loaded code.
bool NewerObject(const char* text, NewerHeader*& where, NewerHeader& h) {
  if (text == nullptr || reinterpret_cast<uintptr_t>(text) % alignof(NewerHeader) != 0)
    return false;
  const char* at = text - sizeof(NewerHeader);
  if (!Readable(at, sizeof(NewerHeader))) return false;
  std::memcpy(&h, at, sizeof h);
  if (!PlausibleNewerRefs(h.refs) || !TextMatches(text, h.length, h.capacity)) return false;
  if (reinterpret_cast<uintptr_t>(h.manager) % alignof(StringManager) != 0 ||
      !Readable(h.manager, sizeof(StringManager)))
    return false;
  const StringManagerTable* table = nullptr;
  std::memcpy(&table, h.manager, sizeof table);
  if (!InImage(table) || !Readable(table, sizeof(StringManagerTable))) return false;
  void* slots[kStringManagerSlots];
  std::memcpy(slots, table, sizeof slots);
  for (void* slot : slots)
    if (!Executable(slot)) return false;
  where = reinterpret_cast<NewerHeader*>(const_cast<char*>(at));
  return true;
}

bool OlderObject(const char* text, OlderHeader*& where, OlderHeader& h) {
  if (text == nullptr || reinterpret_cast<uintptr_t>(text) % alignof(OlderHeader) != 0)
    return false;
  const char* at = text - sizeof(OlderHeader);
  if (!Readable(at, sizeof(OlderHeader))) return false;
  std::memcpy(&h, at, sizeof h);
  if (!PlausibleOlderRefs(h.refs) || !TextMatches(text, h.length, h.capacity)) return false;
  where = reinterpret_cast<OlderHeader*>(const_cast<char*>(at));
  return true;
}

// One object as the module may treat it.
struct Object {
  Generation generation = Generation::kUnknown;
  NewerHeader* newer = nullptr;
  NewerHeader newerFields{};
  OlderHeader* older = nullptr;
  OlderHeader olderFields{};
};

Object Classify(const char* text) {
  Object o;
  switch (win32::Framework().generation) {
    case Generation::kNewer:
      if (NewerObject(text, o.newer, o.newerFields)) o.generation = Generation::kNewer;
      break;
    case Generation::kOlder:
      if (OlderObject(text, o.older, o.olderFields)) o.generation = Generation::kOlder;
      break;
    case Generation::kUnknown:
      break;
  }
  return o;
}

char* TextOf(NewerHeader* h) {
  return reinterpret_cast<char*>(h) + sizeof(NewerHeader);
}
char* TextOf(OlderHeader* h) {
  return reinterpret_cast<char*>(h) + sizeof(OlderHeader);
}

// Counts are shared with the host's threads: interlocked, as the framework
// changes them.
volatile LONG* RefsOf(NewerHeader* h) {
  return &h->refs;
}
volatile LONG* RefsOf(OlderHeader* h) {
  return &h->refs;
}

// CStringData::Release: the last owner frees through the block's manager.
void ReleaseNewer(NewerHeader* h) {
  if (InterlockedDecrement(RefsOf(h)) <= 0) {
    StringManager* m = h->manager;
    m->table->free(m, h);
  }
}

// The older framework's allocator is out of reach: a count goes down only
// while another owner remains. The block whose last owner is the module is
// left to the host (a small leak, never a foreign free).
void ReleaseOlder(OlderHeader* h) {
  volatile LONG* refs = RefsOf(h);
  LONG seen = *refs;
  while (seen > 1) {
    const LONG was = InterlockedCompareExchange(refs, seen - 1, seen);
    if (was == seen) return;
    seen = was;
  }
}

void SetLength(char* text, int length) {
  std::memcpy(text - sizeof(NewerHeader) + offsetof(NewerHeader, length), &length, sizeof length);
  text[length] = '\0';
}

// A block the older framework's FreeData hands to delete[]: from the C
// runtime DLL the framework shares, with a capacity no pool has. nullptr when
// that runtime is not loaded.
OlderHeader* OlderBlockFromRuntime(const char* text, int length) {
  HMODULE crt = GetModuleHandleA("msvcrt.dll");
  if (crt == nullptr) return nullptr;
  using NewArray = void*(__cdecl*)(std::size_t);
  // operator new[], else operator new: both are the runtime's malloc heap.
  auto allocate =
      reinterpret_cast<NewArray>(reinterpret_cast<void*>(GetProcAddress(crt, "??_U@YAPAXI@Z")));
  if (allocate == nullptr)
    allocate =
        reinterpret_cast<NewArray>(reinterpret_cast<void*>(GetProcAddress(crt, "??2@YAPAXI@Z")));
  if (allocate == nullptr) return nullptr;
  int capacity = length;
  for (int pool : kOlderPoolSizes)
    if (capacity == pool) ++capacity;
  auto* h = static_cast<OlderHeader*>(
      allocate(sizeof(OlderHeader) + static_cast<std::size_t>(capacity) + 1));
  if (h == nullptr) return nullptr;
  *h = OlderHeader{1, length, capacity};
  std::memcpy(TextOf(h), text, static_cast<std::size_t>(length) + 1);
  return h;
}

// CSimpleStringT::SetString with the framework's rules: in place when
// unshared (or locked) and large enough, Reallocate when unshared and too
// small, Clone then Allocate when shared, the manager's nil string for an
// empty text. Returns the object's new text pointer, or nullptr to leave the
// object as it is.
char* AssignNewer(char* current, NewerHeader* h, const NewerHeader& f, const char* text) {
  const int n = static_cast<int>(std::strlen(text));
  if (n == 0) {
    if (f.length == 0) return current;
    if (f.refs < 0) {
      SetLength(current, 0);
      return current;
    }
    StringManager* m = f.manager;
    ReleaseNewer(h);
    return TextOf(m->table->getNilString(m));
  }
  char* target = current;
  const int wanted = n > f.length ? n : f.length;
  if (f.refs > 1) {
    StringManager* m = f.manager->table->clone(f.manager);
    NewerHeader* fresh = m->table->allocate(m, wanted, 1);
    if (fresh == nullptr) return nullptr;
    const int copy = (f.length < wanted ? f.length : wanted) + 1;
    std::memcpy(TextOf(fresh), current, static_cast<std::size_t>(copy));
    fresh->length = f.length;
    ReleaseNewer(h);
    target = TextOf(fresh);
  } else if (f.capacity < n) {
    int grown =
        f.capacity > 1024 * 1000000 ? f.capacity + 1024 * 1024 : f.capacity + f.capacity / 2;
    if (grown < wanted) grown = wanted;
    StringManager* m = f.manager;
    NewerHeader* moved = m->table->reallocate(m, h, grown, 1);
    if (moved == nullptr) return nullptr;
    target = TextOf(moved);
  }
  std::memcpy(target, text, static_cast<std::size_t>(n));
  SetLength(target, n);
  return target;
}

// The older CString's AssignCopy where the module can follow it: in place
// when unshared or locked and large enough (the lock kept); otherwise a block
// from the C runtime, the old one released as far as the module may.
char* AssignOlder(char* current, OlderHeader* h, const OlderHeader& f, const char* text) {
  const int n = static_cast<int>(std::strlen(text));
  if (f.refs <= 1 && n <= f.capacity) {
    if (n == 0 && f.length == 0) return current;
    std::memcpy(current, text, static_cast<std::size_t>(n) + 1);
    std::memcpy(current - sizeof(OlderHeader) + offsetof(OlderHeader, length), &n, sizeof n);
    return current;
  }
  if (n == 0) return nullptr;  // the framework's empty string is out of reach
  OlderHeader* fresh = OlderBlockFromRuntime(text, n);
  if (fresh == nullptr) return nullptr;
  if (f.refs > 1) ReleaseOlder(h);
  return TextOf(fresh);
}

}  // namespace

char* HostString::Allocate(const char* text) {
  const std::size_t n = text == nullptr ? 0 : std::strlen(text);
  if (n == 0) return TextOf(OwnNil(&g_ownManager));
  if (n > static_cast<std::size_t>(kMaxLength)) throw std::bad_alloc();
  NewerHeader* h = OwnAllocate(&g_ownManager, static_cast<int>(n), 1);
  if (h == nullptr) throw std::bad_alloc();
  std::memcpy(TextOf(h), text, n + 1);
  h->length = static_cast<int>(n);
  return TextOf(h);
}

// A new owner of `text`, as the framework's copy makes one: a share where the
// framework shares, a copy where it copies. An object the module cannot place
// is borrowed: the same pointer, no count changed (and none released later).
char* HostString::Retain(char* text) {
  if (text == nullptr) return TextOf(OwnNil(&g_ownManager));
  const Object o = Classify(text);
  switch (o.generation) {
    case Generation::kNewer: {
      StringManager* m = o.newerFields.manager->table->clone(o.newerFields.manager);
      if (o.newerFields.refs > 0 && m == o.newerFields.manager) {
        InterlockedIncrement(RefsOf(o.newer));
        return text;
      }
      NewerHeader* fresh = m->table->allocate(m, o.newerFields.length, 1);
      if (fresh == nullptr) throw std::bad_alloc();
      std::memcpy(TextOf(fresh), text, static_cast<std::size_t>(o.newerFields.length) + 1);
      fresh->length = o.newerFields.length;
      return TextOf(fresh);
    }
    case Generation::kOlder: {
      if (o.olderFields.refs >= 0) {
        InterlockedIncrement(RefsOf(o.older));
        return text;
      }
      if (o.olderFields.length == 0) return text;  // the framework's empty string
      OlderHeader* fresh = OlderBlockFromRuntime(text, o.olderFields.length);
      return fresh == nullptr ? text : TextOf(fresh);
    }
    case Generation::kUnknown:
      break;
  }
  return text;
}

void HostString::Release(char* text) {
  if (text == nullptr) return;
  const Object o = Classify(text);
  switch (o.generation) {
    case Generation::kNewer:
      ReleaseNewer(o.newer);
      break;
    case Generation::kOlder:
      ReleaseOlder(o.older);
      break;
    case Generation::kUnknown:
      break;
  }
}

std::size_t HostString::length() const {
  return std::strlen(c_str());
}

int HostString::RefCount() const {
  const Object o = Classify(text_);
  if (o.generation == Generation::kNewer) return static_cast<int>(o.newerFields.refs);
  if (o.generation == Generation::kOlder) return static_cast<int>(o.olderFields.refs);
  return 0;
}

HostString HostString::FromParam(HostStringParam param) {
#if defined(_WIN64)
  if (param == nullptr) return HostString();
  return Adopt(*param);
#else
  return Adopt(param);
#endif
}

void HostString::AssignAt(void* slot, const char* text) {
  if (slot == nullptr || text == nullptr) return;
  char* current = nullptr;
  std::memcpy(&current, slot, sizeof current);
  const Object o = Classify(current);
  char* now = nullptr;
  switch (o.generation) {
    case Generation::kNewer:
      now = AssignNewer(current, o.newer, o.newerFields, text);
      break;
    case Generation::kOlder:
      now = AssignOlder(current, o.older, o.olderFields, text);
      break;
    case Generation::kUnknown:
      break;  // a status line is not worth the host's heap
  }
  if (now != nullptr && now != current) std::memcpy(slot, &now, sizeof now);
}

void HostString::EmptyAt(void* slot) {
  if (slot == nullptr) return;
  char* nil = TextOf(OwnNil(&g_ownManager));
  std::memcpy(slot, &nil, sizeof nil);
}

}  // namespace km4r::platform
