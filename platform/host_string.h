// Reference-counted text shared with the host across the plug-in boundary
// (the SetProName argument and the host's status text). The object is one
// pointer to the first character; what precedes the characters belongs to
// the string class the host uses:
//
//   Windows: the window framework's own string class, either generation
//            (platform/win32/framework_string.h, win32/host_string_win32.cpp).
//            Counts, allocations and releases follow the framework's rules;
//            an object the module cannot place is only read.
//   Linux:   there is no framework; the bench and the tests use a layout of
//            their own (posix/host_string_posix.cpp).
#pragma once

#include <cstddef>
#include <type_traits>

namespace km4r::platform {

// The object's bytes as they cross a C boundary: trivially copyable, so every
// compiler passes and stores it the same way.
struct HostStringObject {
  char* text;
};
static_assert(std::is_trivially_copyable_v<HostStringObject> &&
              sizeof(HostStringObject) == sizeof(void*));

class HostString;

// How an exported function receives a HostString passed by value, as the
// platform's own C++ compiler passes it. With the Microsoft ABI the callee
// destroys its by-value argument; i686 puts the object's bytes in the stack
// slot, x86_64 a pointer to a temporary the caller made. The Itanium ABI
// (Linux) passes a pointer to the caller's temporary, and the caller destroys
// it: there the parameter is the class itself.
#if defined(_WIN64)
using HostStringParam = HostStringObject*;
#elif defined(_WIN32)
using HostStringParam = HostStringObject;
#else
using HostStringParam = HostString;
#endif

class HostString {
 public:
  HostString() = default;
  explicit HostString(const char* text);
  HostString(const HostString& other);
  HostString& operator=(const HostString& other);
  HostString& operator=(const char* text);
  ~HostString();

  const char* c_str() const;
  std::size_t length() const;
  int RefCount() const;  // 0 where there is no count to read

  // The callee's side of a by-value argument: the returned string holds the
  // argument's own reference (Windows) or a copy (Linux), so the argument is
  // released exactly once whoever destroys it.
  static HostString FromParam(HostStringParam param);
  // Takes over the reference held by `object`.
  static HostString Adopt(HostStringObject object);
  // One more reference to this text, as a bare object (for a callee that
  // destroys it).
  HostStringObject Share() const;

  // Assigns text to a HostString object stored at `slot`, which may be
  // unaligned host memory; the object is read and written back with memcpy.
  // On Windows the object keeps its block where the framework would write in
  // place, and stays as it is where the module cannot tell what it is.
  static void AssignAt(void* slot, const char* text);
  // Reads the text of a HostString object stored at `slot` (nullptr slot or
  // empty string gives "").
  static const char* TextAt(const void* slot);
  // Puts an empty string object at `slot` (host side set-up: a host's string
  // field always holds an object).
  static void EmptyAt(void* slot);
  // Releases the object at `slot` and leaves it empty (host side clean-up).
  static void ReleaseAt(void* slot);

 private:
  static char* Allocate(const char* text);
  static char* Retain(char* text);
  static void Release(char* text);

  char* text_ = nullptr;
};

// The caller's side of passing a HostString by value to an exported function,
// done the way the platform's own compiler does it: the caller keeps its
// string and gives the callee an object of its own, which the callee (Windows)
// or this object (Linux) destroys. Use it as a temporary in the call:
//   SetProName(HostStringArgument(path));
class HostStringArgument {
 public:
  explicit HostStringArgument(const char* text) : value_(text) {}
  explicit HostStringArgument(const HostString& value) : value_(value) {}
  HostStringArgument(const HostStringArgument&) = delete;
  HostStringArgument& operator=(const HostStringArgument&) = delete;

#if defined(_WIN64)
  operator HostStringParam() {
    param_ = value_.Share();
    return &param_;
  }
#elif defined(_WIN32)
  operator HostStringParam() const {
    return value_.Share();
  }
#else
  operator HostStringParam() const {
    return value_;
  }
#endif

  // The caller's own string (its count shows whether the callee released).
  const HostString& Value() const {
    return value_;
  }

 private:
  HostString value_;
#if defined(_WIN64)
  HostStringObject param_{};
#endif
};

}  // namespace km4r::platform
