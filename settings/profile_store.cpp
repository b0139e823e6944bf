#include "settings/profile_store.h"

#include <algorithm>
#include <cstdio>

#include "platform/profile_file.h"
#include "plugin/module_state.h"

namespace km4r {

namespace {

bool Blank(const std::string& bytes) {
  return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

// Whether disk is what an in-place write of written over replaced leaves when
// cut short: written's start, then replaced from there on (or the zeros that
// reserve room past its end), at least as long as replaced and no longer
// than either text.
bool CutShort(const std::string& disk, const std::string& replaced, const std::string& written) {
  if (disk == replaced || disk == written || disk.size() < replaced.size() ||
      disk.size() > std::max(replaced.size(), written.size()))
    return false;
  std::size_t i = 0;
  while (i < disk.size() && i < written.size() && disk[i] == written[i]) ++i;
  for (; i < disk.size(); ++i)
    if (disk[i] != (i < replaced.size() ? replaced[i] : '\0')) return false;
  return true;
}

// The file layer's reasons carry over as they are.
static_assert(int{ProfileSaveResult::ReadOnlyFile} == platform::FileWriteResult::ReadOnlyFile &&
              int{ProfileSaveResult::FolderNotWritable} ==
                  platform::FileWriteResult::FolderNotWritable);

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
  why_ = ProfileSaveResult::Other;
  changed_ = false;
  document_ = platform::CreateXmlDocument();
  if (!document_) return;
  if (!path_.empty()) {
    std::string bytes;
    platform::RecoveryCopy copy;
    const bool record = platform::ReadRecoveryCopy(path_, kMaxProfileBytes, &copy);
    switch (platform::ReadProfileFile(path_, kMaxProfileBytes, &bytes)) {
      case platform::FileReadResult::Read: {
        // An empty file is as good as none: a fresh profile is written.
        if (Blank(bytes)) {
          if (record) Settle(copy, nullptr, false);
          break;
        }
        const std::string disk = record ? bytes : std::string();
        const bool parsed = document_->Parse(std::move(bytes));
        if (record && Settle(copy, &disk, parsed)) break;
        if (!parsed) {
          document_ = platform::CreateXmlDocument();
          why_ = ProfileSaveResult::Damaged;
          keepFile_ = "The profile " + path_ + " is not well-formed XML";
        }
        break;
      }
      case platform::FileReadResult::Missing:
        // Deleted by the user, or gone from its name by a swap that failed
        // halfway: only a new text of ours that never took the name comes back.
        if (record) Settle(copy, nullptr, false);
        Adopt();
        break;
      case platform::FileReadResult::Unreadable:
        keepFile_ = "The profile " + path_ + " cannot be read";
        break;
      case platform::FileReadResult::TooLarge:
        why_ = ProfileSaveResult::Damaged;
        keepFile_ = "The profile " + path_ + " is larger than 64 MB";
        break;
    }
  }
  if (!document_) return;
  if (document_->DocumentElement() == nullptr) {
    document_->CreateDocumentElement("profile");
    changed_ = true;
  }
}

bool ProfileStore::Settle(const platform::RecoveryCopy& copy, const std::string* disk,
                          bool parsed) {
  // A file of the record's name that holds no record of ours is not ours.
  if (!copy.valid) return false;
  if (disk != nullptr && (*disk == copy.replaced || *disk == copy.written)) {
    platform::DropRecoveryCopy(copy);
    return false;
  }
  if (disk != nullptr && !parsed && CutShort(*disk, copy.replaced, copy.written)) {
    std::unique_ptr<platform::XmlDocument> document = platform::CreateXmlDocument();
    std::string reason;
    if (document && document->Parse(copy.replaced) &&
        platform::RestoreProfileFile(path_, copy, *disk, &reason)) {
      document_ = std::move(document);
      restored_ = copy.where;
      return true;
    }
  }
  std::string kept;
  keptAside_ = platform::KeepRecoveryAside(copy, &kept) ? kept : copy.where;
  return false;
}

void ProfileStore::Adopt() {
  std::string bytes, where;
  if (!platform::FindTemporaryFile(path_, kMaxProfileBytes, &bytes, &where)) return;
  std::unique_ptr<platform::XmlDocument> document = platform::CreateXmlDocument();
  if (document && document->Parse(std::move(bytes)) && platform::AdoptTemporaryFile(path_, where)) {
    document_ = std::move(document);
    restored_ = where;
  }
}

ProfileSaveResult ProfileStore::Prospect() const {
  ProfileSaveResult r;
  platform::FileWriteResult probe;
  if (!keepFile_.empty()) {
    r.reason = keepFile_;
    r.why = why_;
  } else if (!path_.empty() && !(probe = platform::ProbeProfileFile(path_)).reason.empty()) {
    r.reason = probe.reason;
    r.why = static_cast<ProfileSaveResult::Why>(probe.why);
  }
  if (!r.reason.empty()) r.outcome = ProfileSaveResult::NotSaved;
  return r;
}

std::string ProfileStore::LoadNote() const {
  ProfileSaveResult note;
  if (!restored_.empty()) note.outcome = ProfileSaveResult::Restored;
  note.reason = restored_;
  note.keptAside = keptAside_;
  return note.CopyNote();
}

ProfileSaveResult ProfileStore::Save() {
  saved_ = true;
  ProfileSaveResult result;
  result.keptAside = keptAside_;
  if (!restored_.empty()) {
    result.outcome = ProfileSaveResult::Restored;
    result.reason = restored_;
  }
  auto notSaved = [&result](std::string reason, ProfileSaveResult::Why why) {
    if (result.outcome == ProfileSaveResult::Restored)
      reason += "; the profile was restored from recovery copy " + result.reason;
    result.outcome = ProfileSaveResult::NotSaved;
    result.why = why;
    result.reason = std::move(reason);
    return result;
  };
  if (path_.empty()) return notSaved("No profile path", ProfileSaveResult::Other);
  if (!document_) return notSaved("No XML document on this system", ProfileSaveResult::Other);
  if (!keepFile_.empty()) return notSaved(keepFile_, why_);
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
  if (!whyNot.empty()) return notSaved(std::move(whyNot), ProfileSaveResult::Other);
  return notSaved(std::move(written.reason), static_cast<ProfileSaveResult::Why>(written.why));
}

std::string ProfileSaveResult::Describe() const {
  std::string text;
  switch (outcome) {
    case Saved:
      text = "saved";
      break;
    case Unchanged:
      text = "unchanged";
      break;
    case Restored:
      text = "restored from recovery copy " + reason;
      break;
    case NotSaved:
      text = "not saved: " + reason;
      break;
  }
  if (!keptAside.empty()) text += "; " + CopyNote();
  return text;
}

std::string ProfileSaveResult::CopyNote() const {
  std::string note;
  if (outcome == Restored)
    note = "The profile was restored from the copy an interrupted save left: " + reason;
  if (!keptAside.empty()) {
    if (!note.empty()) note += ". ";
    note +=
        "A copy left by an interrupted save does not fit the profile on disk; it was not "
        "used and is kept as " +
        keptAside;
  }
  return note;
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
