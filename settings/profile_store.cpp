#include "settings/profile_store.h"

#include <cstdio>

#include "platform/profile_file.h"
#include "plugin/module_state.h"

namespace km4r {

namespace {

bool Blank(const std::string& bytes) {
  return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

ProfileStore::ProfileStore() {
  if (platform::ProfilePathUsable()) path_ = Module().profilePath;
  Load();
}

ProfileStore::~ProfileStore() {
  if (!saved_) Save();
}

void ProfileStore::Load() {
  keepFile_.clear();
  changed_ = false;
  document_ = platform::CreateXmlDocument();
  if (!document_) return;
  if (!path_.empty()) {
    std::string bytes;
    switch (platform::ReadProfileFile(path_, kMaxProfileBytes, &bytes)) {
      case platform::FileReadResult::Read:
        // An empty file is as good as none (a fresh profile is written),
        // unless a cut-short save left it so.
        if (Blank(bytes)) {
          Restore();
        } else if (!document_->Parse(std::move(bytes)) && !Restore()) {
          keepFile_ = "profile " + path_ + " is not well-formed XML";
        }
        break;
      case platform::FileReadResult::Missing:
        // Gone from its name by a swap that failed halfway: its copy is put back.
        Restore();
        break;
      case platform::FileReadResult::Unreadable:
        keepFile_ = "profile " + path_ + " cannot be read";
        break;
      case platform::FileReadResult::TooLarge:
        keepFile_ = "profile " + path_ + " is larger than 64 MB";
        break;
    }
  }
  if (!document_) return;
  if (document_->DocumentElement() == nullptr) {
    document_->CreateDocumentElement("profile");
    changed_ = true;
  }
}

bool ProfileStore::Restore() {
  std::string copy, where, reason;
  if (!platform::ReadRecoveryCopy(path_, kMaxProfileBytes, &copy, &where) || Blank(copy))
    return false;
  if (!document_->Parse(copy) || !platform::RestoreProfileFile(path_, copy, &reason)) {
    document_ = platform::CreateXmlDocument();
    if (!reason.empty()) keepFile_ = reason;
    return !reason.empty();
  }
  restored_ = where;
  return true;
}

ProfileSaveResult ProfileStore::Save() {
  saved_ = true;
  ProfileSaveResult result;
  if (!restored_.empty()) {
    result.outcome = ProfileSaveResult::Restored;
    result.reason = restored_;
  }
  auto notSaved = [&result](std::string reason) {
    if (result.outcome == ProfileSaveResult::Restored)
      reason += "; the profile was restored from recovery copy " + result.reason;
    result.outcome = ProfileSaveResult::NotSaved;
    result.reason = std::move(reason);
    return result;
  };
  if (path_.empty()) return notSaved("no profile path");
  if (!document_) return notSaved("no XML document on this system");
  if (!keepFile_.empty()) return notSaved(keepFile_);
  // The profile loaded: copies a cut-short save left of it are stale now.
  platform::RemoveStaleCopies(path_);
  if (!changed_) return result;
  const std::uint64_t digest = document_->Digest();
  // The text is written, read back and parsed again, and must be this
  // document. The document is let go once written, so a large profile is
  // never held twice over.
  std::unique_ptr<platform::XmlDocument> check;
  std::string spare, whyNot;
  platform::FileWriteResult written = platform::WriteProfileFile(
      path_,
      [this, &spare, &whyNot](const platform::WriteBytes& write) {
        const bool ok = document_->Serialize(write);
        if (!ok) whyNot = document_->WhyNotSerialized();
        spare = document_->Release();
        document_.reset();
        return ok;
      },
      [&check, digest](std::string bytes) {
        check = platform::CreateXmlDocument();
        return check && check->Parse(std::move(bytes)) && check->Digest() == digest;
      },
      &spare);
  if (!document_) {
    if (written.confirmed && check) {
      document_ = std::move(check);
    } else {
      Load();  // what the file holds, which is unchanged
    }
  }
  changed_ = false;
  if (written.written) {
    if (result.outcome != ProfileSaveResult::Restored) result.outcome = ProfileSaveResult::Saved;
    return result;
  }
  if (written.unchanged) return result;
  return notSaved(whyNot.empty() ? std::move(written.reason) : std::move(whyNot));
}

std::string ProfileSaveResult::Describe() const {
  switch (outcome) {
    case Saved:
      return "saved";
    case Unchanged:
      return "unchanged";
    case Restored:
      return "restored from recovery copy " + reason;
    case NotSaved:
      break;
  }
  return "not saved: " + reason;
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
    changed_ = true;
    return defaultValue;
  }
  return ParseProfileInt(text.c_str());
}

void ProfileStore::SetInt(const char* section, const char* key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  // Unchanged text leaves the document as loaded.
  platform::XmlElement k = FindKey(section, key);
  if (k != nullptr && document_->Text(k) == text) return;
  if (k == nullptr) k = FindOrCreateKey(section, key);
  if (k != nullptr) {
    document_->SetText(k, text);
    changed_ = true;
  }
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
