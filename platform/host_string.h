// Reference-counted text shared with the host across the plug-in boundary
// (the SetProName argument and the host's status text). Host and plug-in must
// agree on this layout, so it is fixed here:
//
//   object:  one pointer, `text_`, to the first character of a heap block;
//   block:   [int32 refs][int32 length][int32 capacity][int32 reserved]
//            followed by capacity + 1 chars, NUL-terminated;
//   empty:   text_ == nullptr, or a block of length 0.
//
// Blocks come from the C runtime's malloc and go back through free, which both
// sides of the boundary share. refs counts owners; the last one frees. There
// are no threads, so the count is a plain integer.
#pragma once

#include <cstddef>

namespace km4r::platform {

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
  int RefCount() const;  // 0 for the empty string

  // Assigns text to a HostString object stored at `slot`, which may be
  // unaligned host memory; the object is read and written back with memcpy.
  static void AssignAt(void* slot, const char* text);
  // Reads the text of a HostString object stored at `slot` (nullptr slot or
  // empty string gives "").
  static const char* TextAt(const void* slot);
  // Releases the object at `slot` and leaves it empty (host side clean-up).
  static void ReleaseAt(void* slot);

 private:
  struct Header {
    int refs;
    int length;
    int capacity;
    int reserved;
  };
  static Header* HeaderOf(char* text);
  static char* Allocate(const char* text);
  static void Release(char* text);

  char* text_ = nullptr;
};

}  // namespace km4r::platform
