#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/commands.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::string FindPendantNode(const std::string& sysfsRoot) {
  std::error_code ec;
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(sysfsRoot, ec)) entries.push_back(e.path());
  // hidraw0 before hidraw1, whatever order the directory lists them in.
  std::sort(entries.begin(), entries.end());
  for (const fs::path& entry : entries) {
    std::ifstream uevent(entry / "device" / "uevent");
    std::string line;
    while (std::getline(uevent, line)) {
      if (Upper(line) == "HID_ID=0003:000004D8:0000FCE7")
        return "/dev/" + entry.filename().string();
    }
  }
  return "";
}

}  // namespace km4r::bench
