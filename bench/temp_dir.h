// A directory of our own under the system's temporary directory, removed
// with everything in it.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "bench/system.h"

namespace km4r::bench {

class TempDir {
 public:
  TempDir() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
#if defined(_WIN32)
    if (ec) base = std::filesystem::current_path(ec);
#else
    if (ec) base = "/tmp";
#endif
    path_ = sys::MakeTempDir(base, "pendant-bench-");
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const {
    return path_;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace km4r::bench
