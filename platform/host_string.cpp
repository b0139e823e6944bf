#include "platform/host_string.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace km4r::platform {

HostString::Header* HostString::HeaderOf(char* text) {
  return reinterpret_cast<Header*>(text - sizeof(Header));
}

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

void HostString::Release(char* text) {
  if (text == nullptr) return;
  Header* h = HeaderOf(text);
  if (--h->refs <= 0) std::free(h);
}

HostString::HostString(const char* text) : text_(Allocate(text)) {}

HostString::HostString(const HostString& other) : text_(other.text_) {
  if (text_ != nullptr) ++HeaderOf(text_)->refs;
}

HostString& HostString::operator=(const HostString& other) {
  if (other.text_ != nullptr) ++HeaderOf(other.text_)->refs;
  Release(text_);
  text_ = other.text_;
  return *this;
}

HostString& HostString::operator=(const char* text) {
  char* fresh = Allocate(text);
  Release(text_);
  text_ = fresh;
  return *this;
}

HostString::~HostString() {
  Release(text_);
}

const char* HostString::c_str() const {
  return text_ == nullptr ? "" : text_;
}

std::size_t HostString::length() const {
  return text_ == nullptr ? 0 : static_cast<std::size_t>(HeaderOf(text_)->length);
}

int HostString::RefCount() const {
  return text_ == nullptr ? 0 : HeaderOf(text_)->refs;
}

void HostString::AssignAt(void* slot, const char* text) {
  if (slot == nullptr) return;
  char* old = nullptr;
  std::memcpy(&old, slot, sizeof old);
  char* fresh = Allocate(text);
  std::memcpy(slot, &fresh, sizeof fresh);
  Release(old);
}

const char* HostString::TextAt(const void* slot) {
  if (slot == nullptr) return "";
  char* text = nullptr;
  std::memcpy(&text, slot, sizeof text);
  return text == nullptr ? "" : text;
}

void HostString::ReleaseAt(void* slot) {
  if (slot == nullptr) return;
  char* text = nullptr;
  std::memcpy(&text, slot, sizeof text);
  Release(text);
  text = nullptr;
  std::memcpy(slot, &text, sizeof text);
}

}  // namespace km4r::platform
