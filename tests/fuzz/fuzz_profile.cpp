// Profile file bytes through the profile store and the pendant settings. The
// profile is the host's whole configuration: a file that does not parse must
// come out byte for byte as it went in, and one that does must read back what
// was saved into it. Settings that index tables must be inside them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "plugin/module_state.h"
#include "settings/choice_tables.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "profile fuzz: %s\n", what);
  std::abort();
}

const std::string& ProfilePath() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("km4r_fuzz_profile_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "profile.xml").string();
  }();
  return path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string& path = ProfilePath();
  const std::string original(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(original.data(), static_cast<std::streamsize>(original.size()));
  }
  // Whether the file parses, asked of the document layer on its own; an
  // empty or blank file counts as none, and a fresh profile replaces it.
  const bool parses = original.find_first_not_of(" \t\r\n") == std::string::npos ||
                      km4r::platform::CreateXmlDocument()->Parse(original);

  km4r::Module().profilePath = path;
  km4r::PendantSettings loaded;
  {
    km4r::ProfileStore store;
    km4r::LoadPendantSettings(store, loaded);
    if (loaded.AutoChangeSens < 0 ||
        static_cast<std::size_t>(loaded.AutoChangeSens) >= km4r::kSensitivityTable.size())
      Fail("AutoChangeSens outside its table");
    if (loaded.VelocityInAuto < 0 ||
        static_cast<std::size_t>(loaded.VelocityInAuto) >= km4r::kVelocityTable.size())
      Fail("VelocityInAuto outside its table");
    km4r::SavePendantSettings(store, loaded);
  }
  const std::string after = ReadAll(path);
  if (!parses) {
    if (after != original) Fail("a profile that does not parse was rewritten");
  } else {
    // What was saved reads back, and saving it again changes nothing.
    km4r::PendantSettings again;
    {
      km4r::ProfileStore store;
      km4r::LoadPendantSettings(store, again);
      km4r::SavePendantSettings(store, again);
    }
    if (loaded != again) Fail("saved settings do not read back");
    if (ReadAll(path) != after) Fail("a second save changed the file");
  }
  std::filesystem::remove(path);
  km4r::Module().profilePath.clear();
  return 0;
}
