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

// What became of the profile in a store's lifetime, for the user to read.
struct ProfileSaveResult {
  enum Outcome {
    Saved,      // the file now holds the document
    Unchanged,  // the file already held it: nothing written
    Restored,   // the file was damaged by a cut-short save and its recovery
                // copy was put back at load; then saved or left unchanged
    NotSaved,   // reason says why; the file is as it was (or as restored)
  };
  Outcome outcome = Unchanged;
  std::string reason;  // NotSaved: why. Restored: which copy was put back.

  explicit operator bool() const { return outcome != NotSaved; }
  // "saved", "unchanged", "restored from recovery copy PATH" or
  // "not saved: REASON".
  std::string Describe() const;
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
  bool HasKey(const char* section, const char* key) { return FindKey(section, key) != nullptr; }
  void SetInt(const char* section, const char* key, int32_t value);

  // Writes the document to the path now (the destructor then does not),
  // unless nothing in it changed. The new text is parsed again first and must
  // equal the document in memory; otherwise the file is left as it is and the
  // store reads it anew.
  ProfileSaveResult Save();

  // Why the file at the path is left alone (unreadable, not XML, too
  // large), "" when it was loaded or is missing.
  const std::string& LoadProblem() const { return keepFile_; }
  const std::string& path() const { return path_; }

 private:
  void Load();
  // Puts back the recovery copy of a profile that does not parse, and loads
  // it; false when there is none to use.
  bool Restore();
  platform::XmlElement FindKey(const char* section, const char* key);
  platform::XmlElement FindOrCreateKey(const char* section, const char* key);

  std::string path_;
  std::unique_ptr<platform::XmlDocument> document_;
  // Set when the file exists but could not be read or parsed: the host's
  // profile is worth more than our settings, so it is left alone.
  std::string keepFile_;
  // The recovery copy put back at load, if any.
  std::string restored_;
  // Whether the document differs from the file as loaded.
  bool changed_ = false;
  bool saved_ = false;
};

// Anything larger is no profile; refusing it before parsing bounds memory.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{64} << 20;

// Reads a decimal integer: leading white space skipped, an optional sign,
// digits up to the first non-digit; 0 without digits. Values beyond 32 bits
// saturate.
int32_t ParseProfileInt(const char* text);

}  // namespace km4r
