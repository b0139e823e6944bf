// The profile's bytes on disk: read whole with a size cap, and replaced so
// that no interrupted save leaves the profile half-written, emptied or
// wrongly owned. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // Why nothing was written, as far as the user can mend it.
  enum Why { Other, ReadOnlyFile, FolderNotWritable } why = Other;
  std::string reason;  // why nothing was written; starts with a capital
};

// Replaces the file's content with what produce writes, once confirm has
// agreed to it. A symbolic link is followed: its target is written and the
// link stays. Atomic (a temporary file in the same directory, then renamed or
// swapped in keeping the file's attributes) when the directory is writable.
// Otherwise the file is written in place, but only after a recovery record
// (the previous bytes and the new ones) is flushed beside it, else in the
// user's own folder, and the room for the new text is reserved; the record
// goes once the profile is flushed. Every file made is no more open to others
// than the profile from its first byte. Bytes equal to the file's are not
// written. A file the user cannot write is never replaced. confirm gets the
// bytes as written (read back from the temporary file), or a copy of them
// before an in-place write. The read-back reuses the storage of *spare when
// given (produce may fill it), so checking a large profile needs no fresh
// memory.
using WriteBytes = std::function<bool(const char* data, std::size_t size)>;
using ProduceBytes = std::function<bool(const WriteBytes& write)>;
using ConfirmBytes = std::function<bool(std::string bytes)>;
FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm, std::string* spare = nullptr);

// Why WriteProfileFile could not write the profile at path, checked before
// anything is made (reason "" when nothing stands in the way yet).
FileWriteResult ProbeProfileFile(const std::string& path);

// What an in-place save left: the text it replaced and the text it wrote.
struct RecoveryCopy {
  std::string where;     // the record's file
  bool valid = false;    // false: a file of the record's name that is no record of ours
  std::string replaced;  // the profile before the save
  std::string written;   // what the save was writing
};
// The record of an in-place save of this profile that did not finish; false
// when there is none.
bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, RecoveryCopy* copy);
// Writes the replaced text back as the profile, only while the profile still
// holds damaged, and then removes the record. False, with the reason, leaves
// both as they are.
bool RestoreProfileFile(const std::string& path, const RecoveryCopy& copy,
                        const std::string& damaged, std::string* reason);
// Moves the record aside under a name that no clean-up takes; *kept names it.
bool KeepRecoveryAside(const RecoveryCopy& copy, std::string* kept);
// Removes a record the profile on disk has made redundant.
void DropRecoveryCopy(const RecoveryCopy& copy);
// The newest complete temporary file of ours, for a profile that is missing
// (a swap that failed halfway); false when there is none.
bool FindTemporaryFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                       std::string* where);
// Gives that file the profile's name, unless a profile is there by now.
bool AdoptTemporaryFile(const std::string& path, const std::string& where);
// Removes the store's own temporary files and records of this profile: only
// exact names of its own, carrying its signature, that no process has open
// and that are not newly made, and only while the profile is on disk.
void RemoveStaleCopies(const std::string& path);

// The record's file: a signature line, the lengths and digests, then both
// texts. Shared by every platform.
std::string RecoveryRecord(const std::string& replaced, const std::string& written);
bool ParseRecoveryRecord(const std::string& file, std::string* replaced, std::string* written);
// Digest of a text; temporary files carry their content's in their name.
std::uint64_t TextDigest(const char* data, std::size_t size,
                         std::uint64_t seed = 14695981039346656037ull);
// A temporary file's name after the profile's prefix: "km4r-PID-DIGEST-N.tmp".
std::string TemporaryName(unsigned long pid, std::uint64_t digest, int attempt);
bool ParseTemporaryName(const std::string& name, unsigned long* pid, std::uint64_t* digest);

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
  bool swapHeld = false;        // after swapError, the new file stays held (Windows)
  // Called with each file the store makes, as soon as others could open it
  // by a name (at once where files are made named).
  std::function<void(const std::string& file)> created;
};
void SetFileFaults(const FileFaults& faults);

}  // namespace km4r::platform
