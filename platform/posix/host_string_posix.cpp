// HostString on Linux, where no framework exists: the bench's own layout.
//
//   block:   [int32 refs][int32 length][int32 capacity][int32 reserved]
//            followed by capacity + 1 chars, NUL-terminated;
//   empty:   text == nullptr, or a block of length 0.
//
// refs counts owners; the last one frees. A count of zero or below marks a
// block the host owns (its static empty string, or a buffer it has locked):
// such a block is never freed and never written through, and a copy of it
// gets a block of its own. There are no threads, so the count is a plain
// integer.
#include "platform/host_string.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace km4r::platform {

namespace {

struct Header {
  int refs;
  int length;
  int capacity;
  int reserved;
};

// The header is read and written with memcpy: a host block need not be
// aligned for int.
int RefsOf(const char* text) {
  int refs = 0;
  std::memcpy(&refs, text - sizeof(Header) + offsetof(Header, refs), sizeof refs);
  return refs;
}

void SetRefs(char* text, int refs) {
  std::memcpy(text - sizeof(Header) + offsetof(Header, refs), &refs, sizeof refs);
}

}  // namespace

char* HostString::Allocate(const char* text) {
  if (text == nullptr || *text == '\0') return nullptr;
  const std::size_t n = std::strlen(text);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(Header) + n + 1));
  if (block == nullptr) throw std::bad_alloc();
  Header h{1, static_cast<int>(n), static_cast<int>(n), 0};
  std::memcpy(block, &h, sizeof h);
  char* chars = reinterpret_cast<char*>(block + sizeof(Header));
  std::memcpy(chars, text, n + 1);
  return chars;
}

// A new owner of `text`: shares a counted block, copies a host-owned one.
char* HostString::Retain(char* text) {
  if (text == nullptr) return nullptr;
  const int refs = RefsOf(text);
  if (refs <= 0) return Allocate(text);
  SetRefs(text, refs + 1);
  return text;
}

void HostString::Release(char* text) {
  if (text == nullptr) return;
  const int refs = RefsOf(text);
  if (refs <= 0) return;  // the host's own storage
  if (refs == 1) {
    std::free(text - sizeof(Header));
    return;
  }
  SetRefs(text, refs - 1);
}

std::size_t HostString::length() const {
  if (text_ == nullptr) return 0;
  int n = 0;
  std::memcpy(&n, text_ - sizeof(Header) + offsetof(Header, length), sizeof n);
  return static_cast<std::size_t>(n);
}

int HostString::RefCount() const {
  return text_ == nullptr ? 0 : RefsOf(text_);
}

HostString HostString::FromParam(HostStringParam param) {
  return param;
}

void HostString::AssignAt(void* slot, const char* text) {
  if (slot == nullptr) return;
  char* old = nullptr;
  std::memcpy(&old, slot, sizeof old);
  char* fresh = Allocate(text);
  std::memcpy(slot, &fresh, sizeof fresh);
  Release(old);
}

void HostString::EmptyAt(void* slot) {
  if (slot == nullptr) return;
  char* text = nullptr;
  std::memcpy(slot, &text, sizeof text);
}

}  // namespace km4r::platform
