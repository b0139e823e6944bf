/* A host written in C that calls every export of KM4R.dll the way a host
 * built with the platform's own C++ compiler does, and checks what such a
 * host can see afterwards: the reference count of the text object it passed,
 * its stack pointer, the results. It knows nothing of the module's headers:
 * its text objects are the window framework's strings (newer generation:
 * CStringData before the characters, blocks from a string manager), the
 * documented boundary. string_host.cpp tries every kind of them.
 *
 *   c_host KM4R.dll [timer]    exit status 0 when every check held; with
 *                              "timer", also the cycle timer's rate while
 *                              the module runs, in real time
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond, ...)                                       \
  do {                                                         \
    if (!(cond)) {                                             \
      ++failures;                                              \
      printf("FAILED %s:%d: %s: ", __FILE__, __LINE__, #cond); \
      printf(__VA_ARGS__);                                     \
      printf("\n");                                            \
    }                                                          \
  } while (0)

/* The framework's string: one pointer to the characters, preceded in the
 * same block by CStringData. Every block comes from the string manager named
 * in it, a static object of this program whose member functions are
 * __thiscall on i686. */
#if defined(__i386__)
#define THISCALL __attribute__((thiscall))
#else
#define THISCALL
#endif
struct Manager;
struct Header {
  struct Manager* manager;
  int length, capacity;
  long refs;
};
struct ManagerTable {
  struct Header*(THISCALL* allocate)(struct Manager*, int, int);
  void(THISCALL* free)(struct Manager*, struct Header*);
  struct Header*(THISCALL* reallocate)(struct Manager*, struct Header*, int, int);
  struct Header*(THISCALL* nil)(struct Manager*);
  struct Manager*(THISCALL* clone)(struct Manager*);
};
struct Manager {
  const struct ManagerTable* table;
};
struct Text {
  char* chars;
};

static int frees = 0;
static struct Manager manager;
static struct {
  struct Header h;
  char chars[8];
} nilString = {{&manager, 0, 0, 2}, ""};

static struct Header* THISCALL Allocate(struct Manager* self, int capacity, int charSize) {
  struct Header* h = malloc(sizeof *h + (size_t)capacity * charSize + charSize);
  h->manager = self;
  h->length = 0;
  h->capacity = capacity;
  h->refs = 1;
  return h;
}
static void THISCALL Free(struct Manager* self, struct Header* h) {
  (void)self;
  ++frees;
  free(h);
}
static struct Header* THISCALL Reallocate(struct Manager* self, struct Header* h, int capacity,
                                          int charSize) {
  (void)self;
  h = realloc(h, sizeof *h + (size_t)capacity * charSize + charSize);
  h->capacity = capacity;
  return h;
}
static struct Header* THISCALL Nil(struct Manager* self) {
  (void)self;
  InterlockedIncrement(&nilString.h.refs);
  return &nilString.h;
}
static struct Manager* THISCALL Clone(struct Manager* self) {
  return self;
}
static const struct ManagerTable managerTable = {Allocate, Free, Reallocate, Nil, Clone};
static struct Manager manager = {&managerTable};

static struct Text NewText(const char* s) {
  int n = (int)strlen(s);
  struct Header* h = manager.table->allocate(&manager, n, 1);
  struct Text t;
  t.chars = (char*)(h + 1);
  memcpy(t.chars, s, n + 1);
  h->length = n;
  return t;
}
static struct Header* HeaderOf(struct Text t) {
  return (struct Header*)t.chars - 1;
}

/* The stack pointer around each call: a callee that pops what the caller
 * pops too (or pops nothing where it must) leaves it moved. Only i686 has
 * two conventions. */
#if defined(__i386__)
#define SP_BEFORE() \
  void* spBefore;   \
  __asm__ volatile("movl %%esp, %0" : "=r"(spBefore))
#define SP_CHECK(what)                                                 \
  do {                                                                 \
    void* spAfter;                                                     \
    __asm__ volatile("movl %%esp, %0" : "=r"(spAfter));                \
    CHECK(spAfter == spBefore, "%s moved the stack by %d bytes", what, \
          (int)((char*)spAfter - (char*)spBefore));                    \
  } while (0)
#else
#define SP_BEFORE() (void)0
#define SP_CHECK(what) (void)0
#endif

/* The calling conventions of the exports: the host's entry points are plain
 * C functions (__cdecl); a text passed by value is, on i686, the object's
 * bytes in the argument slot and, on x86_64, the address of a temporary the
 * caller made; in both the callee destroys it. */
#if defined(__i386__)
typedef const char*(__cdecl* SetProNameFn)(struct Text byValue);
#else
typedef const char*(__cdecl* SetProNameFn)(struct Text* temporary);
#endif
typedef BOOL(__cdecl* InitControlFn)(void*, void*, void*, void*);
typedef void(__cdecl* VoidFn)(void);
/* KM4R_PendantStatus's record, as a C host declares it. */
struct PendantStatus {
  int32_t jogAxis;
  uint32_t decodeErrors;
};
typedef void(__cdecl* StatusFn)(struct PendantStatus*);
typedef void(__cdecl* SetterFn)(void*);
typedef HRESULT(STDAPICALLTYPE* StdapiFn)(void);
typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, LPVOID*);

static HMODULE module;
static void* Export(const char* name) {
  void* f = (void*)GetProcAddress(module, name);
  CHECK(f != NULL, "%s not exported", name);
  if (f == NULL) exit(1);
  return f;
}

/* Callbacks as the host hands them over. */
static int codes = 0;
static void __cdecl DoButton(short code) {
  (void)code;
}
static void __cdecl SetDro(short code, double v) {
  (void)code;
  (void)v;
}
static double __cdecl GetDro(short code) {
  (void)code;
  return 0.0;
}
static BOOL __cdecl GetLed(short code) {
  (void)code;
  return FALSE;
}
static void __cdecl SetLed(short code, BOOL on) {
  (void)code;
  (void)on;
}
static void __cdecl Code(const char* text) {
  (void)text;
  ++codes;
}

static const char* CallSetProName(struct Text arg) {
  SetProNameFn setProName = (SetProNameFn)Export("SetProName");
  const char* name;
  SP_BEFORE();
#if defined(__i386__)
  name = setProName(arg);
#else
  {
    struct Text temporary = arg;
    name = setProName(&temporary);
  }
#endif
  SP_CHECK("SetProName");
  return name;
}

/* Every message of this thread until `count` timer messages have come (0:
   none awaited) or `ms` has passed: the module's timer runs in here. Stores
   the milliseconds that passed in `*elapsed`. */
static int Pump(DWORD ms, int count, DWORD* elapsed) {
  int timers = 0;
  DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER) ++timers;
      DispatchMessageA(&msg);
    }
    *elapsed = GetTickCount() - start;
    if (*elapsed >= ms || (count > 0 && timers >= count)) return timers;
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  }
}

/* Whether the run also counts the module's timer messages in real time. */
static int timerChecks = 0;

static void Run(void* windowObject, HWND frame, int childExpected) {
  static unsigned char a[166400], b[133700], c[1162100];
  BOOL ok;
  int timers;
  DWORD elapsed;
  InitControlFn initControl = (InitControlFn)Export("InitControl");
  {
    SP_BEFORE();
    ok = initControl(a, b, c, windowObject);
    SP_CHECK("InitControl");
  }
  CHECK(ok, "InitControl returned false");
  CHECK((FindWindowExA(frame, NULL, NULL, NULL) != NULL) == childExpected,
        "child window of the host's: %d, want %d", FindWindowExA(frame, NULL, NULL, NULL) != NULL,
        childExpected);
  {
    static const char* const calls[] = {"PostInitControl", "Update", "DoDwell", "Reset", "JogOn",
                                        "JogOff",          "Purge",  "Probe",   "Home"};
    size_t i;
    for (i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
      VoidFn f = (VoidFn)Export(calls[i]);
      SP_BEFORE();
      f();
      SP_CHECK(calls[i]);
    }
  }
  if (timerChecks) {
    /* A busy machine only delays ticks: they must come, never faster than
       the 25 ms period. */
    CHECK(Pump(10000, 1, &elapsed) > 0, "no timer message in 10 s");
    timers = Pump(10000, 10, &elapsed);
    CHECK(timers == 10, "%d timer messages in 10 s", timers);
    CHECK(elapsed >= 9 * 25 - 20, "10 timer messages in %lu ms", (unsigned long)elapsed);
    CHECK(codes == 0, "host actions without a pendant");
  }
  {
    StatusFn status = (StatusFn)Export("KM4R_PendantStatus");
    struct PendantStatus st = {7, 7};
    SP_BEFORE();
    status(&st);
    SP_CHECK("KM4R_PendantStatus");
    CHECK(st.jogAxis == -1 && st.decodeErrors == 0, "status %d, %u without a pendant",
          (int)st.jogAxis, (unsigned)st.decodeErrors);
  }
  {
    VoidFn stop = (VoidFn)Export("StopPlug");
    SP_BEFORE();
    stop();
    SP_CHECK("StopPlug");
  }
  CHECK(FindWindowExA(frame, NULL, NULL, NULL) == NULL, "child window left behind");
  if (timerChecks) {
    timers = Pump(100, 0, &elapsed);
    CHECK(timers == 0, "%d timer messages after StopPlug", timers);
  }
}

int main(int argc, char** argv) {
  const char* expectedName = "KM4R Pendant --Harbrook Ver 3.3.0";
  char profile[MAX_PATH];
  if (argc < 2 || argc > 3 || (argc == 3 && strcmp(argv[2], "timer") != 0)) {
    printf("usage: c_host MODULE [timer]\n");
    return 2;
  }
  timerChecks = argc == 3;
  GetTempPathA(MAX_PATH - 32, profile);
  lstrcatA(profile, "km4r_c_host_profile.xml");
  DeleteFileA(profile);
  CoInitialize(NULL);
  module = LoadLibraryA(argv[1]);
  CHECK(module != NULL, "cannot load %s", argv[1]);
  if (module == NULL) return 1;

  {
    static const struct {
      const char* name;
      void* fn;
    } setters[] = {{"SetDoButton", (void*)DoButton}, {"SetSetDRO", (void*)SetDro},
                   {"SetGetDRO", (void*)GetDro},     {"SetGetLED", (void*)GetLed},
                   {"SetSetLED", (void*)SetLed},     {"SetCode", (void*)Code}};
    size_t i;
    for (i = 0; i < sizeof setters / sizeof setters[0]; ++i) {
      SetterFn set = (SetterFn)Export(setters[i].name);
      SP_BEFORE();
      set(setters[i].fn);
      SP_CHECK(setters[i].name);
    }
  }

  /* SetProName: the host keeps its own reference; the copy it passes is the
   * callee's to release. */
  {
    struct Text path = NewText(profile);
    const char* name;
    ++HeaderOf(path)->refs; /* the by-value copy */
    name = CallSetProName(path);
    CHECK(HeaderOf(path)->refs == 1, "count %ld after the call, want 1", HeaderOf(path)->refs);
    CHECK(name != NULL && strcmp(name, expectedName) == 0, "name '%s'", name ? name : "(null)");
    CHECK(GetFileAttributesA(profile) != INVALID_FILE_ATTRIBUTES, "profile not written");
    /* Twice more: the count stays put. */
    ++HeaderOf(path)->refs;
    CallSetProName(path);
    ++HeaderOf(path)->refs;
    CallSetProName(path);
    CHECK(HeaderOf(path)->refs == 1, "count %ld after three calls, want 1", HeaderOf(path)->refs);
    CHECK(strcmp(path.chars, profile) == 0, "the host's text changed");
    /* An unshared temporary: the callee frees it through its manager. */
    CallSetProName(NewText(profile));
    CHECK(frees == 1, "%d block(s) freed, want 1", frees);
    manager.table->free(&manager, HeaderOf(path));
  }
  /* The empty string: the count the callee was given goes back. */
  {
    struct Text empty;
    const char* name;
    empty.chars = (char*)(manager.table->nil(&manager) + 1);
    name = CallSetProName(empty);
    CHECK(nilString.h.refs == 2 && nilString.chars[0] == '\0', "empty string count %ld",
          nilString.h.refs);
    CHECK(name != NULL && strcmp(name, expectedName) == 0, "name '%s'", name ? name : "(null)");
  }

  /* The run: window, timer, no pendant, stop. The window object is the
   * framework's CWnd (CObject's virtual table, CCmdTarget's members, then
   * m_hWnd), or one with the HWND first, which is no framework's: then the
   * module cannot parent to it but must run all the same. */
  {
    static void (*const vtable[2])(void) = {0, 0};
    HWND frame = CreateWindowExA(0, "STATIC", "c host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                                 NULL, GetModuleHandleA(NULL), NULL);
    struct {
      HWND hwnd;
      unsigned char rest[64];
    } plain = {frame, {0}};
    struct {
      const void* vtable;
      long m_dwRef;
      void* m_pOuterUnknown;
      ULONG_PTR m_xInnerUnknown, m_xDispatch;
      BOOL m_bResultExpected;
      ULONG_PTR m_xConnPtContainer;
      void* m_pModuleState;
      HWND m_hWnd;
    } framework = {vtable, 1, NULL, 0, 0, TRUE, 0, NULL, frame};
    Run(&framework, frame, 1);
    Run(&plain, frame, 0);
    DestroyWindow(frame);
  }

  /* Self-registration: STDAPI, so __stdcall on i686. */
  {
    static const GUID anyClass = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    void* out = (void*)1;
    HRESULT hr;
    GetClassObjectFn getClassObject = (GetClassObjectFn)Export("DllGetClassObject");
    StdapiFn canUnload = (StdapiFn)Export("DllCanUnloadNow");
    StdapiFn reg = (StdapiFn)Export("DllRegisterServer");
    StdapiFn unreg = (StdapiFn)Export("DllUnregisterServer");
    {
      SP_BEFORE();
      hr = getClassObject(&anyClass, &IID_IClassFactory, &out);
      SP_CHECK("DllGetClassObject");
    }
    CHECK(hr == CLASS_E_CLASSNOTAVAILABLE && out == NULL, "DllGetClassObject 0x%08lx",
          (unsigned long)hr);
    {
      SP_BEFORE();
      hr = canUnload();
      SP_CHECK("DllCanUnloadNow");
    }
    CHECK(hr == S_OK, "DllCanUnloadNow 0x%08lx", (unsigned long)hr);
    {
      SP_BEFORE();
      hr = reg();
      SP_CHECK("DllRegisterServer");
    }
    CHECK(hr == S_OK, "DllRegisterServer 0x%08lx", (unsigned long)hr);
    {
      SP_BEFORE();
      hr = unreg();
      SP_CHECK("DllUnregisterServer");
    }
    CHECK(hr == S_OK, "DllUnregisterServer 0x%08lx", (unsigned long)hr);
  }

  FreeLibrary(module);
  DeleteFileA(profile);
  CoUninitialize();
  printf("%s: %d failure(s)\n", failures == 0 ? "passed" : "FAILED", failures);
  return failures == 0 ? 0 : 1;
}
