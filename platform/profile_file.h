// The profile's bytes on disk: read whole with a size cap, and replaced so
// that a failed save never leaves a half-written or wrongly owned profile.
// One implementation per platform.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace km4r::platform {

enum class FileReadResult {
  Read,        // bytes holds the whole file
  Missing,     // nothing at the path (a dangling link counts as missing)
  Unreadable,  // there, but not a regular file we may read
  TooLarge,    // larger than the cap: not read at all
};

FileReadResult ReadProfileFile(const std::string& path, std::size_t maxBytes, std::string* bytes);

struct FileWriteResult {
  bool written = false;
  bool confirmed = true;  // false: confirm refused the bytes
  std::string reason;     // why nothing was written
};

// Replaces the file's content with what produce writes, once confirm has
// agreed to it. A symbolic link is followed: its target is written and the
// link stays. Atomic (a temporary file in the same directory, then renamed or
// swapped in keeping the file's attributes) when the directory is writable;
// otherwise the file is written in place. A file the user cannot write is
// never replaced. confirm gets the bytes as written (read back from the
// temporary file), or a copy of them before an in-place write. The read-back
// reuses the storage of *spare when given (produce may fill it), so checking
// a large profile needs no fresh memory.
using WriteBytes = std::function<bool(const char* data, std::size_t size)>;
using ProduceBytes = std::function<bool(const WriteBytes& write)>;
using ConfirmBytes = std::function<bool(std::string bytes)>;
FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm, std::string* spare = nullptr);

// What produce writes, gathered in memory; false when it failed.
inline bool ProduceInto(const ProduceBytes& produce, std::string& bytes) {
  return produce([&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
}

}  // namespace km4r::platform
