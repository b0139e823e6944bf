// Scratch files for the settings tests: each test gets a directory of its own
// that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/xml_document.h"
#include "plugin/module_state.h"

namespace km4r::test {

class ScratchDir {
 public:
  ScratchDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("km4r_settings_" + name);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::string();
  f.seekg(0, std::ios::end);
  std::string out(static_cast<std::size_t>(f.tellg()), '\0');
  f.seekg(0);
  f.read(out.data(), static_cast<std::streamsize>(out.size()));
  return out;
}

inline void UseProfile(const std::string& path) {
  Module().profilePath = path;
}

// text as the platform's document writes it back after parsing it unchanged.
// A save re-serialises (quote style, the blanks between top-level nodes), so
// files are compared by content through this.
inline std::string AsSaved(const std::string& text) {
  std::string out;
  auto doc = platform::CreateXmlDocument();
  if (!doc || !doc->Parse(text) || !doc->Serialize(&out)) ADD_FAILURE() << "refused:\n" << text;
  return out;
}

}  // namespace km4r::test
