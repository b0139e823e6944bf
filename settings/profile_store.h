// Short-lived accessor of the host's XML profile: loads the whole file at
// construction, reads and writes integers by section and key, and writes the
// whole document back at destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/profile_file.h"
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
  // What the user can do about NotSaved.
  enum Why { Other, ReadOnlyFile, FolderNotWritable, Damaged } why = Other;
  // A recovery copy that did not fit the profile, kept aside under this name.
  std::string keptAside;

  explicit operator bool() const { return outcome != NotSaved; }
  // "saved", "unchanged", "restored from recovery copy PATH" or
  // "not saved: REASON", then any copy kept aside.
  std::string Describe() const;
  // What the load did with copies of the profile, for the user: "" when nothing.
  std::string CopyNote() const;
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
  // Before any edit: NotSaved, with the reason, when the file cannot take
  // the settings (left alone at load, read-only, its folder not writable).
  ProfileSaveResult Prospect() const;
  // A restore or a copy kept aside at load, said as CopyNote says it.
  std::string LoadNote() const;
  const std::string& path() const { return path_; }

 private:
  void Load();
  // Settles a recovery record left by an in-place save against the profile
  // on disk (disk: its bytes, parsed: whether they are well-formed XML). The
  // record's text is put back and loaded only when disk is what a cut-short
  // write of that save leaves; true then. A record that disk makes redundant
  // goes; any other is kept aside.
  bool Settle(const platform::RecoveryCopy& copy, const std::string* disk, bool parsed);
  // A missing profile: the newest well-formed temporary file of ours takes
  // its name and is loaded.
  void Adopt();
  platform::XmlElement FindKey(const char* section, const char* key);
  platform::XmlElement FindOrCreateKey(const char* section, const char* key);

  std::string path_;
  std::unique_ptr<platform::XmlDocument> document_;
  // Set when the file exists but could not be read or parsed: the host's
  // profile is worth more than our settings, so it is left alone.
  std::string keepFile_;
  // The recovery copy put back at load, if any, and one kept aside.
  std::string restored_, keptAside_;
  ProfileSaveResult::Why why_ = ProfileSaveResult::Other;
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
