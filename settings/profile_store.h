// Short-lived accessor of the host's XML profile: loads the whole file at
// construction, reads and writes integers by section and key, and writes the
// whole document back at destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/xml_document.h"

namespace km4r {

// What a save did: true when the file was written, otherwise why not.
struct ProfileSaveResult {
  enum Status {
    Saved,
    NoProfile,    // no path, or no XML document object on this system
    FileKept,     // the file there could not be used, so it is left alone
    NotReadBack,  // the new text would not read back as the document
    WriteFailed,  // the file system refused
  };
  Status status = Saved;
  std::string reason;

  explicit operator bool() const { return status == Saved; }
  const char* description() const { return status == Saved ? "saved" : reason.c_str(); }
};

class ProfileStore {
 public:
  // Loads the file at the plug-in's profile path.
  ProfileStore();
  // Saves the document back to the path, unless Save already ran.
  virtual ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  int32_t GetInt(const char* section, const char* key, int32_t defaultValue);
  void SetInt(const char* section, const char* key, int32_t value);

  // Writes the document to the path now (the destructor then does not). The
  // new text is parsed again first and must equal the document in memory;
  // otherwise the file is left as it is and the store reads it anew.
  ProfileSaveResult Save();

  // Why the file at the path is left alone (unreadable, not XML, too
  // large), "" when it was loaded or is missing.
  const std::string& LoadProblem() const { return keepFile_; }
  const std::string& path() const { return path_; }

 private:
  void Load();
  platform::XmlElement FindKey(const char* section, const char* key);
  platform::XmlElement FindOrCreateKey(const char* section, const char* key);

  std::string path_;
  std::unique_ptr<platform::XmlDocument> document_;
  // Set when the file exists but could not be read or parsed: the host's
  // profile is worth more than our settings, so it is left alone.
  std::string keepFile_;
  bool saved_ = false;
};

// Anything larger is no profile; refusing it before parsing bounds memory.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{64} << 20;

// Reads a decimal integer: leading white space skipped, an optional sign,
// digits up to the first non-digit; 0 without digits. Values beyond 32 bits
// saturate.
int32_t ParseProfileInt(const char* text);

}  // namespace km4r
