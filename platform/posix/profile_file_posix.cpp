// Profile files on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/profile_file.h"

namespace km4r::platform {

namespace {

FileFaults Faults;

std::string Dir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

std::string Because(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
  if (Faults.diskFull && !data.empty()) {
    errno = ENOSPC;
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file a path finally names, links followed even when the last one
// dangles (then the file is to be made where it points).
bool ResolveLinks(const std::string& path, std::string* target) {
  *target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(target->c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(target->c_str(), link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return false;
    const std::string to(link, static_cast<std::size_t>(n));
    *target = to[0] == '/' ? to : Dir(*target) + "/" + to;
  }
  errno = ELOOP;
  return false;
}

bool Writable(const std::string& dir) {
  return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// The user's own folders for recovery copies of profiles kept elsewhere: the
// cache folder, then a private one in the temporary folder.
std::string UserFolder(int which, bool create) {
  std::string base, dir;
  if (which == 0) {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
      base = cache;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
      base = std::string(home) + "/.cache";
    } else {
      return {};
    }
    dir = base + "/km4r";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    dir = base + "/km4r-" + std::to_string(::geteuid());
  }
  if (create) {
    ::mkdir(base.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
  }
  // Only a folder of this user's, never one another user made for us.
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return {};
  return dir;
}

// Names of the store's own copies of a profile: in its directory, and in the
// user's folders (where the full path's hash tells profiles of one name apart).
struct CopyNames {
  std::string dir, prefix;  // dir + "/" + prefix + "tmp..." or + "km4r-recovery"
  std::string Recovery() const { return dir + "/" + prefix + "km4r-recovery"; }
};

CopyNames Beside(const std::string& target) {
  std::string prefix(1, '.');
  prefix += Base(target);
  prefix += '.';
  return {Dir(target), prefix};
}

CopyNames Elsewhere(const std::string& target, int which, bool create = false) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : target) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return {UserFolder(which, create), Base(target) + "." + hex + "."};
}

// A new file of the store's naming, open for writing and locked, so that a
// later clean-up sees it is held.
int CreateTemp(const CopyNames& names, std::string* temp, mode_t mode = 0600) {
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    *temp = names.dir + "/" + names.prefix + "tmp" + std::to_string(::getpid()) + "_" +
            std::to_string(attempt);
    fd = ::open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd >= 0) ::flock(fd, LOCK_EX);
  return fd;
}

// Whether the file holds exactly bytes, read a piece at a time.
bool SameBytes(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<unsigned long long>(st.st_size) == bytes.size();
  char chunk[65536];
  std::size_t done = 0;
  while (same) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      same = n == 0 && done == bytes.size();
      break;
    }
    same = done + static_cast<std::size_t>(n) <= bytes.size() &&
           std::memcmp(chunk, bytes.data() + done, static_cast<std::size_t>(n)) == 0;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return same;
}

// Writes bytes as a complete file under name (a temporary file renamed), and
// keeps it open and locked: *fd, for the caller to close when done with it.
bool WriteWhole(const CopyNames& names, const std::string& name, const std::string& bytes, int* fd,
                std::string* reason) {
  std::string temp;
  *fd = CreateTemp(names, &temp);
  if (*fd < 0) {
    *reason = Because("cannot create a file in", names.dir);
    return false;
  }
  bool ok = WriteAll(*fd, bytes) && ::fsync(*fd) == 0 && ::rename(temp.c_str(), name.c_str()) == 0;
  if (!ok) {
    *reason = Because("cannot write", temp);
    ::unlink(temp.c_str());
    ::close(*fd);
    *fd = -1;
    return false;
  }
  const int dirFd = ::open(names.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// The previous bytes kept where the user can write, flushed, before the
// profile itself is touched.
bool WriteRecoveryCopy(const std::string& target, const std::string& old, int* fd,
                       std::string* where, std::string* reason) {
  if (Faults.noRecovery) {
    *reason = "no recovery copy of " + target + " can be made";
    return false;
  }
  std::string why;
  if (!Faults.noRecoveryBeside && Writable(Dir(target))) {
    const CopyNames names = Beside(target);
    *where = names.Recovery();
    if (WriteWhole(names, *where, old, fd, &why)) return true;
  }
  for (int which : {0, 1}) {
    const CopyNames names = Elsewhere(target, which, true);
    if (names.dir.empty() || !Writable(names.dir)) continue;
    *where = names.Recovery();
    if (WriteWhole(names, *where, old, fd, &why)) return true;
  }
  *reason = "no recovery copy of " + target + " can be made" + (why.empty() ? "" : ": " + why);
  return false;
}

// Room for size bytes in the open profile of old size, so that a full disk
// shows before any byte of it changes.
bool Reserve(int fd, std::size_t old, std::size_t size) {
  if (size <= old) return true;
  if (Faults.profileDiskFull || Faults.diskFull) {
    errno = ENOSPC;
    return false;
  }
#ifdef __linux__
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
#endif
  // Without fallocate: the new length written out, then taken back.
  std::string zeros(std::min<std::size_t>(size - old, 65536), '\0');
  std::size_t at = old;
  while (at < size) {
    const std::size_t n = std::min(zeros.size(), size - at);
    if (::pwrite(fd, zeros.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
      const int error = errno;
      (void)!::ftruncate(fd, static_cast<off_t>(old));
      errno = error;
      return false;
    }
    at += n;
  }
  const bool ok = ::fsync(fd) == 0;
  return ::ftruncate(fd, static_cast<off_t>(old)) == 0 && ok;
}

// Writes bytes over the profile's old content. A recovery copy is there.
bool WriteOver(const std::string& target, std::size_t old, const std::string& bytes,
               std::string* reason, bool* killed) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = Because("cannot write", target);
    return false;
  }
  if (!Reserve(fd, old, bytes.size())) {
    *reason = Because("no room to write", target);
    ::close(fd);
    return false;
  }
  if (Faults.kill == FileFaults::MidInPlace) {
    // Between the write and the truncation, or halfway through a longer text.
    (void)!::pwrite(fd, bytes.data(), bytes.size() < old ? bytes.size() : bytes.size() / 2, 0);
    ::close(fd);
    *killed = true;
    *reason = "killed while writing " + target;
    return false;
  }
  std::size_t done = 0;
  bool ok = !Faults.diskFull;
  while (ok && done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
  if (!ok) *reason = Because("cannot write", target);
  if (::close(fd) != 0 && ok) {
    ok = false;
    *reason = Because("cannot write", target);
  }
  return ok;
}

// Removes path unless another process holds it locked.
void RemoveIfFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
    ::unlink(path.c_str());
  ::close(fd);
}

void RemoveStale(const CopyNames& names) {
  if (names.dir.empty()) return;
  DIR* d = ::opendir(names.dir.c_str());
  if (d == nullptr) return;
  const std::string temps = names.prefix + "tmp", recovery = names.prefix + "km4r-recovery";
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name(e->d_name);
    if (name.substr(0, temps.size()) == temps || name == recovery)
      RemoveIfFree(names.dir + "/" + std::string(name));
  }
  ::closedir(d);
}

}  // namespace

void SetFileFaults(const FileFaults& faults) {
  Faults = faults;
}

FileReadResult ReadProfileFile(const std::string& path, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  // Non-blocking: a FIFO at the path must not hang the host.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? FileReadResult::Missing : FileReadResult::Unreadable;
  struct stat st {};
  FileReadResult result = FileReadResult::Read;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result = FileReadResult::Unreadable;
  } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    result = FileReadResult::TooLarge;
  } else {
    // Appended through a small buffer rather than read into a resized string:
    // zero-filling fresh memory first would cost as much as the read. One
    // byte beyond the cap shows a file that grew since fstat.
    bytes->reserve(std::min(maxBytes, static_cast<std::size_t>(st.st_size)) + 1);
    char chunk[16384];
    std::size_t done = 0;
    while (done <= maxBytes) {
      const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, maxBytes + 1 - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result = FileReadResult::Unreadable;
        break;
      }
      if (n == 0) break;
      bytes->append(chunk, static_cast<std::size_t>(n));
      done += static_cast<std::size_t>(n);
    }
    if (result == FileReadResult::Read && done > maxBytes) result = FileReadResult::TooLarge;
  }
  ::close(fd);
  if (result != FileReadResult::Read) bytes->clear();
  return result;
}

FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm, std::string* spare) {
  FileWriteResult r;
  std::string target;
  if (path.empty() || !ResolveLinks(path, &target)) {
    r.reason = Because("cannot resolve", path);
    return r;
  }
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    r.reason = target + " is not a regular file";
    return r;
  }
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    r.reason = Because("no permission to write", target);
    return r;
  }
  const std::string dir = Dir(target);
  // A renamed file belongs to whoever wrote it: someone else's profile is
  // written in place (after its recovery copy) so it keeps its owner.
  const bool sameOwner = !exists || st.st_uid == ::geteuid() || ::geteuid() == 0;
  // A renamed file also leaves the profile's other hard links behind.
  const bool oneLink = !exists || st.st_nlink <= 1;
  if (sameOwner && oneLink && !Faults.noTempBeside && Writable(dir)) {
    std::string temp;
    int fd = CreateTemp(Beside(target), &temp, 0666);
    if (fd >= 0) {
      bool ok = produce([fd](const char* data, std::size_t size) {
        return WriteAll(fd, std::string_view(data, size));
      });
      if (ok && exists) {
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
        if (ok && ::geteuid() == 0) ok = ::fchown(fd, st.st_uid, st.st_gid) == 0;
      }
      if (ok) ok = ::fsync(fd) == 0;
      if (!ok) r.reason = Because("cannot write", temp);
      if (ok && Faults.kill == FileFaults::AfterTemp) {
        ::close(fd);
        r.reason = "killed before replacing " + target;
        return r;
      }
      // What confirm sees is what the file holds.
      std::string written;
      if (spare != nullptr) written = std::move(*spare);
      if (ok && ReadProfileFile(temp, SIZE_MAX - 1, &written) != FileReadResult::Read) {
        ok = false;
        r.reason = Because("cannot read back", temp);
      }
      if (ok && exists && SameBytes(target, written)) {
        r.unchanged = true;
        ok = false;
      }
      if (ok && !confirm(std::move(written))) {
        ok = false;
        r.confirmed = false;
        r.reason = "the new text of " + target + " would not read back as the document";
      }
      if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        r.reason = Because("cannot replace", target);
      }
      if (!ok) ::unlink(temp.c_str());
      ::close(fd);
      if (ok) {
        const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
          ::fsync(dirFd);
          ::close(dirFd);
        }
      }
      r.written = ok;
      return r;
    }
  }
  if (!exists) {
    r.reason = Because("cannot create a file in", dir);
    return r;
  }
  std::string bytes;
  if (!ProduceInto(produce, bytes)) {
    r.reason = "the document cannot be written as text";
    return r;
  }
  if (spare != nullptr) std::string().swap(*spare);  // the text is held whole here instead
  if (SameBytes(target, bytes)) {
    r.unchanged = true;
    return r;
  }
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "the new text of " + target + " would not read back as the document";
    return r;
  }
  std::string old;
  if (ReadProfileFile(target, SIZE_MAX - 1, &old) != FileReadResult::Read) {
    r.reason = Because("cannot read", target);
    return r;
  }
  int recoveryFd = -1;
  std::string recovery;
  if (!WriteRecoveryCopy(target, old, &recoveryFd, &recovery, &r.reason)) return r;
  bool killed = false;
  r.written = WriteOver(target, old.size(), bytes, &r.reason, &killed);
  // Unless the profile holds something else than either text, the copy has
  // done its work (a kill leaves it for the next load).
  if (!killed && (r.written || SameBytes(target, old))) ::unlink(recovery.c_str());
  ::close(recoveryFd);
  return r;
}

bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, std::string* bytes,
                      std::string* where) {
  std::string target;
  if (path.empty() || !ResolveLinks(path, &target)) return false;
  for (const CopyNames& names : {Beside(target), Elsewhere(target, 0), Elsewhere(target, 1)}) {
    if (names.dir.empty()) continue;
    *where = names.Recovery();
    if (ReadProfileFile(*where, maxBytes, bytes) == FileReadResult::Read) return true;
  }
  return false;
}

bool RestoreProfileFile(const std::string& path, const std::string& bytes, std::string* reason) {
  std::string target, where, copy;
  if (!ResolveLinks(path, &target) || !ReadRecoveryCopy(path, SIZE_MAX - 1, &copy, &where) ||
      copy != bytes) {
    *reason = "no recovery copy of " + path;
    return false;
  }
  const int lock = ::open(where.c_str(), O_RDONLY | O_CLOEXEC);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  struct stat st {};
  bool killed = false;
  if (::stat(target.c_str(), &st) != 0) {
    // Gone: made afresh, to be written below.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) ::close(fd);
  }
  const bool ok = ::stat(target.c_str(), &st) == 0 &&
                  WriteOver(target, static_cast<std::size_t>(st.st_size), bytes, reason, &killed);
  if (ok) ::unlink(where.c_str());
  if (lock >= 0) ::close(lock);
  return ok;
}

void RemoveStaleCopies(const std::string& path) {
  std::string target;
  if (path.empty() || !ResolveLinks(path, &target)) return;
  RemoveStale(Beside(target));
  RemoveStale(Elsewhere(target, 0));
  RemoveStale(Elsewhere(target, 1));
}

}  // namespace km4r::platform
