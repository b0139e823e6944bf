// HostString's value semantics, the same on every platform: each platform's
// file says how a block is allocated, shared and released.
#include "platform/host_string.h"

#include <cstring>

namespace km4r::platform {

HostString::HostString(const char* text) : text_(Allocate(text)) {}

HostString::HostString(const HostString& other) : text_(Retain(other.text_)) {}

HostString& HostString::operator=(const HostString& other) {
  char* shared = Retain(other.text_);
  Release(text_);
  text_ = shared;
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

void HostString::ReleaseAt(void* slot) {
  if (slot == nullptr) return;
  char* text = nullptr;
  std::memcpy(&text, slot, sizeof text);
  Release(text);
  text = nullptr;
  std::memcpy(slot, &text, sizeof text);
}

const char* HostString::TextAt(const void* slot) {
  if (slot == nullptr) return "";
  char* text = nullptr;
  std::memcpy(&text, slot, sizeof text);
  return text == nullptr ? "" : text;
}

HostString HostString::Adopt(HostStringObject object) {
  HostString s;
  s.text_ = object.text;
  return s;
}

HostStringObject HostString::Share() const {
  return HostStringObject{Retain(text_)};
}

}  // namespace km4r::platform
