// Short-lived accessor of the host's XML profile: loads the whole file at
// construction, reads and writes integers by section and key, and writes the
// whole document back at destruction.
#pragma once

#include <cstdint>
#include <string>

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
  std::string path_;
};

}  // namespace km4r
