// Short-lived accessor of the host's XML profile: loads the whole file at
// construction, reads and writes integers by section and key, and writes the
// whole document back at destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/xml_document.h"

namespace km4r {

class ProfileStore {
 public:
  // Loads the file at the plug-in's profile path.
  ProfileStore();
  // Saves the document back to the path.
  virtual ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  int32_t GetInt(const char* section, const char* key, int32_t defaultValue);
  void SetInt(const char* section, const char* key, int32_t value);

 private:
  platform::XmlElement FindKey(const char* section, const char* key);
  platform::XmlElement FindOrCreateKey(const char* section, const char* key);

  std::string path_;
  std::unique_ptr<platform::XmlDocument> document_;
  // Off when the file exists but could not be read or parsed: the host's
  // profile is worth more than our settings, so it is left alone.
  bool saveAllowed_ = false;
};

// Reads a decimal integer: leading white space skipped, an optional sign,
// digits up to the first non-digit; 0 without digits. Values beyond 32 bits
// saturate.
int32_t ParseProfileInt(const char* text);

}  // namespace km4r
