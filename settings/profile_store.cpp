#include "settings/profile_store.h"

#include <cstdio>

#include "plugin/module_state.h"

namespace km4r {

ProfileStore::ProfileStore() {
  if (platform::ProfilePathUsable()) path_ = Module().profilePath;
  document_ = platform::CreateXmlDocument();
  if (!document_) return;
  if (!path_.empty()) {
    switch (document_->Load(path_)) {
      case platform::XmlLoadResult::Loaded:
      case platform::XmlLoadResult::Missing:
        saveAllowed_ = true;
        break;
      case platform::XmlLoadResult::Unreadable:
      case platform::XmlLoadResult::Unparseable:
        // Start from a fresh, empty document; whatever the failed load left
        // behind is not to be trusted.
        document_ = platform::CreateXmlDocument();
        if (!document_) return;
        break;
    }
  }
  if (document_->DocumentElement() == nullptr) document_->CreateDocumentElement("profile");
}

ProfileStore::~ProfileStore() {
  if (document_ && saveAllowed_ && !path_.empty()) document_->Save(path_);
}

platform::XmlElement ProfileStore::FindKey(const char* section, const char* key) {
  if (!document_) return nullptr;
  platform::XmlElement root = document_->DocumentElement();
  if (root == nullptr) return nullptr;
  platform::XmlElement sec = document_->FirstChildElement(root, section);
  if (sec == nullptr) return nullptr;
  return document_->FirstChildElement(sec, key);
}

platform::XmlElement ProfileStore::FindOrCreateKey(const char* section, const char* key) {
  if (!document_) return nullptr;
  platform::XmlElement root = document_->DocumentElement();
  if (root == nullptr) return nullptr;
  platform::XmlElement sec = document_->FirstChildElement(root, section);
  if (sec == nullptr) {
    sec = document_->AppendChildElement(root, section);
    return sec == nullptr ? nullptr : document_->AppendChildElement(sec, key);
  }
  platform::XmlElement k = document_->FirstChildElement(sec, key);
  return k != nullptr ? k : document_->AppendChildElement(sec, key);
}

int32_t ProfileStore::GetInt(const char* section, const char* key, int32_t defaultValue) {
  platform::XmlElement k = FindKey(section, key);
  if (k == nullptr) return defaultValue;
  std::string text = document_->Text(k);
  if (text.empty()) {
    document_->Remove(k);
    return defaultValue;
  }
  return ParseProfileInt(text.c_str());
}

void ProfileStore::SetInt(const char* section, const char* key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  platform::XmlElement k = FindOrCreateKey(section, key);
  if (k != nullptr) document_->SetText(k, text);
}

int32_t ParseProfileInt(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulate negatively so INT32_MIN is reachable without overflow.
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value > -(int64_t{1} << 40)) value = value * 10 - (*p - '0');
  }
  if (!negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace km4r
