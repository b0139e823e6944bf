// The window framework's string and window declarations as Microsoft ships them,
// compiled by clang for the Microsoft targets (check_framework_layout.cmake):
// the header sizes and offsets the module relies on (CWnd::m_hWnd's place
// among them, platform/win32/host_window.h), the string manager's
// member functions __thiscall on i686, and its virtual-table slots in
// declaration order (clang's dump of the table is checked by the script).
// Not built into anything; it includes no header.
struct IAtlStringMgr;

struct CStringData {
  IAtlStringMgr* pStringMgr;
  int nDataLength;
  int nAllocLength;
  long nRefs;
};

__interface IAtlStringMgr {
  CStringData* Allocate(int nAllocLength, int nCharSize) throw();
  void Free(CStringData * pData) throw();
  CStringData* Reallocate(CStringData * pData, int nAllocLength, int nCharSize) throw();
  CStringData* GetNilString() throw();
  IAtlStringMgr* Clone() throw();
};

// An implementation, so that the compiler lays out a table to dump.
struct Manager : IAtlStringMgr {
  CStringData* Allocate(int, int) throw() { return nullptr; }
  void Free(CStringData*) throw() {}
  CStringData* Reallocate(CStringData*, int, int) throw() { return nullptr; }
  CStringData* GetNilString() throw() { return nullptr; }
  IAtlStringMgr* Clone() throw() { return this; }
};
Manager manager;

// The older generation's header (MFC 4.x, i686).
struct OlderStringData {
  long nRefs;
  int nDataLength;
  int nAllocLength;
};

static_assert(sizeof(long) == 4, "");
static_assert(__builtin_offsetof(CStringData, nDataLength) == sizeof(void*), "");
static_assert(__builtin_offsetof(CStringData, nRefs) == sizeof(void*) + 8, "");
#if defined(_M_IX86)
static_assert(sizeof(CStringData) == 16, "");
static_assert(sizeof(OlderStringData) == 12, "");
static_assert(__is_same(decltype(&IAtlStringMgr::Free),
                        void (__thiscall IAtlStringMgr::*)(CStringData*)),
              "");
#elif defined(_M_X64)
static_assert(sizeof(CStringData) == 24, "");
#else
#error "a Microsoft target"
#endif

// The window object: CObject, CCmdTarget's members, CWnd's first member.
typedef struct HWND__* HWND;
struct CObject {
  virtual ~CObject() {}
};
// CCmdTarget as a static build of the older generation has it; the others
// add m_pModuleState.
struct CCmdTargetStatic : CObject {
  long m_dwRef;
  void* m_pOuterUnknown;
  __SIZE_TYPE__ m_xInnerUnknown;
  struct {
    __SIZE_TYPE__ m_vtbl;
  } m_xDispatch;
  int m_bResultExpected;
  struct {
    __SIZE_TYPE__ m_vtbl;
  } m_xConnPtContainer;
};
struct CCmdTarget : CCmdTargetStatic {
  void* m_pModuleState;
};
template <typename Target>
struct CWnd : Target {
  HWND m_hWnd;
};
#if defined(_M_IX86)
static_assert(__builtin_offsetof(CWnd<CCmdTarget>, m_hWnd) == 0x20, "");
static_assert(__builtin_offsetof(CWnd<CCmdTargetStatic>, m_hWnd) == 0x1C, "");
#else
static_assert(__builtin_offsetof(CWnd<CCmdTarget>, m_hWnd) == 0x40, "");
static_assert(__builtin_offsetof(CWnd<CCmdTargetStatic>, m_hWnd) == 0x38, "");
#endif
