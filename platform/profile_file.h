// The profile's bytes on disk: read whole with a size cap, and replaced so
// that no interrupted save leaves the profile half-written, emptied or
// wrongly owned. One implementation per platform.
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
  bool unchanged = false;  // the file already held exactly these bytes: nothing written
  bool confirmed = true;   // false: confirm refused the bytes
  std::string reason;      // why nothing was written
};

// Replaces the file's content with what produce writes, once confirm has
// agreed to it. A symbolic link is followed: its target is written and the
// link stays. Atomic (a temporary file in the same directory, then renamed or
// swapped in keeping the file's attributes) when the directory is writable.
// Otherwise the file is written in place, but only after its previous bytes
// are flushed to a recovery copy (beside it, else in the user's own folder)
// and the room for the new text is reserved; the copy goes once the profile
// is flushed. Bytes equal to the file's are not written. A file the user
// cannot write is never replaced. confirm gets the bytes as written (read
// back from the temporary file), or a copy of them before an in-place write.
// The read-back reuses the storage of *spare when given (produce may fill
// it), so checking a large profile needs no fresh memory.
using WriteBytes = std::function<bool(const char* data, std::size_t size)>;
using ProduceBytes = std::function<bool(const WriteBytes& write)>;
using ConfirmBytes = std::function<bool(std::string bytes)>;
FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm, std::string* spare = nullptr);

// The profile's recovery copy, when an in-place write was cut short: a
// complete copy (it is only ever renamed into place whole). *where names it.
bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, std::string* bytes,
                      std::string* where);
// Writes bytes (the recovery copy's) back as the profile and then removes the
// copy. False, with the reason, leaves both as they are.
bool RestoreProfileFile(const std::string& path, const std::string& bytes, std::string* reason);
// Removes temporary and recovery copies of this profile, of the store's own
// naming, that no process holds. Called once the profile itself has loaded.
void RemoveStaleCopies(const std::string& path);

// What produce writes, gathered in memory; false when it failed.
inline bool ProduceInto(const ProduceBytes& produce, std::string& bytes) {
  return produce([&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
}

// Failures the system can produce, made on purpose so that tests can reach
// every path: the file layer then acts as if they had happened. A "kill"
// stops the save where it stands, leaving the files as a killed process
// would. Empty (the default) in the product.
struct FileFaults {
  bool noTempBeside = false;      // no file can be made beside the profile
  bool noRecoveryBeside = false;  // the recovery copy must go to the user's folder
  bool noRecovery = false;        // no recovery copy can be made anywhere
  bool diskFull = false;          // every write runs out of space
  bool profileDiskFull = false;   // the profile's own disk cannot grow it
  // AfterTemp: the temporary file is written, the swap not made. MidInPlace:
  // a shorter text written over the profile but not cut to length (a longer
  // one half written).
  enum Kill { NoKill, AfterTemp, MidInPlace } kill = NoKill;
  int sharingViolations = 0;    // the swap meets a file held open this many times (Windows)
  unsigned long swapError = 0;  // the swap fails once with this error, as documented (Windows)
};
void SetFileFaults(const FileFaults& faults);

}  // namespace km4r::platform
