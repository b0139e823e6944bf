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

std::string Hex(std::uint64_t value) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(value));
  return hex;
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

// The profile's absolute name with its folder's links resolved: one profile
// has one name however the host spells it.
std::string Canonical(const std::string& target) {
  char real[PATH_MAX];
  if (::realpath(Dir(target).c_str(), real) != nullptr)
    return std::string(real) + (real[1] == '\0' ? "" : "/") + Base(target);
  if (!target.empty() && target[0] == '/') return target;
  char cwd[PATH_MAX];
  return ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + target : target;
}

CopyNames Elsewhere(const std::string& target, int which, bool create = false) {
  const std::string name = Canonical(target);
  return {UserFolder(which, create),
          Base(target) + "." + Hex(TextDigest(name.data(), name.size())) + "."};
}

// A file being made: unnamed while it is written where the system allows it
// (named otherwise), locked before anyone can open it by a name, so that no
// clean-up takes it, and made with mode bits no wider than mode.
struct NewFile {
  int fd = -1;
  std::string name;  // empty while unnamed
};

NewFile CreateNew(const CopyNames& names, mode_t mode) {
  NewFile f;
#ifdef O_TMPFILE
  f.fd = ::open(names.dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#endif
  for (int attempt = 0; attempt < 100 && f.fd < 0; ++attempt) {
    f.name = names.dir + "/" + names.prefix + "km4r-" + std::to_string(::getpid()) + "-" +
             std::to_string(attempt) + ".new";
    f.fd = ::open(f.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (f.fd < 0 && errno != EEXIST) break;
  }
  if (f.fd < 0) return f;
  ::flock(f.fd, LOCK_EX);
  if (Faults.created && !f.name.empty()) Faults.created(f.name);
  return f;
}

// Gives the written file its name of the store's pattern, which carries the
// digest of its content: the signature clean-up looks for.
bool Publish(NewFile& f, const CopyNames& names, std::uint64_t digest, std::string* temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = names.dir + "/" + names.prefix +
            TemporaryName(static_cast<unsigned long>(::getpid()), digest, attempt);
    int rc;
    if (f.name.empty()) {
      rc = ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(f.fd)).c_str(), AT_FDCWD,
                    temp->c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
      // Without /proc mounted (root only).
      if (rc != 0 && errno == ENOENT)
        rc = ::linkat(f.fd, "", AT_FDCWD, temp->c_str(), AT_EMPTY_PATH);
#endif
    } else {
      rc = ::access(temp->c_str(), F_OK) == 0 ? (errno = EEXIST, -1)
                                              : ::rename(f.name.c_str(), temp->c_str());
    }
    if (rc == 0) {
      // Unnamed until now, it could not be opened by anyone else before.
      if (Faults.created && f.name.empty()) Faults.created(*temp);
      f.name = *temp;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Drops a file being made: unnamed, it is gone with its descriptor.
void Discard(NewFile& f) {
  if (!f.name.empty()) ::unlink(f.name.c_str());
  ::close(f.fd);
  f.fd = -1;
}

// The profile's owner (when root) and group, then its mode bits within mask,
// on a file made for it: no wider than the profile at any time. Group bits
// go where the file cannot take the profile's group.
bool TakeMode(int fd, const struct stat& profile, mode_t mask) {
  if (::geteuid() == 0 && ::fchown(fd, profile.st_uid, profile.st_gid) != 0) return false;
  (void)!::fchown(fd, static_cast<uid_t>(-1), profile.st_gid);
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  mode_t mode = profile.st_mode & mask;
  if (now.st_gid != profile.st_gid) mode &= ~mode_t{070};
  return ::fchmod(fd, mode) == 0;
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

// Writes bytes as a complete file under name, made as private as the
// profile, and keeps it open and locked: *fd, for the caller to close.
bool WriteWhole(const CopyNames& names, const std::string& name, const std::string& bytes,
                const struct stat& profile, int* fd, std::string* reason) {
  NewFile f = CreateNew(names, profile.st_mode & 0600);
  if (f.fd < 0) {
    *reason = Because("Cannot create a file in", names.dir);
    return false;
  }
  std::string temp;
  const bool ok = WriteAll(f.fd, bytes) && TakeMode(f.fd, profile, 0666) && ::fsync(f.fd) == 0 &&
                  Publish(f, names, TextDigest(bytes.data(), bytes.size()), &temp) &&
                  ::rename(temp.c_str(), name.c_str()) == 0;
  if (!ok) {
    *reason = Because("Cannot write", temp.empty() ? names.dir : temp);
    Discard(f);
    return false;
  }
  *fd = f.fd;
  const int dirFd = ::open(names.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// The recovery record kept where the user can write, flushed, before the
// profile itself is touched.
bool WriteRecoveryCopy(const std::string& target, const struct stat& profile,
                       const std::string& record, int* fd, std::string* where,
                       std::string* reason) {
  if (Faults.noRecovery) {
    *reason = "No recovery copy of " + target + " can be made";
    return false;
  }
  std::string why;
  if (!Faults.noRecoveryBeside && Writable(Dir(target))) {
    const CopyNames names = Beside(target);
    *where = names.Recovery();
    if (WriteWhole(names, *where, record, profile, fd, &why)) return true;
  }
  for (int which : {0, 1}) {
    const CopyNames names = Elsewhere(target, which, true);
    if (names.dir.empty() || !Writable(names.dir)) continue;
    *where = names.Recovery();
    if (WriteWhole(names, *where, record, profile, fd, &why)) return true;
  }
  *reason = "No recovery copy of " + target + " can be made" + (why.empty() ? "" : ": " + why);
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

// Reads the open file whole, up to maxBytes.
FileReadResult ReadOpen(int fd, std::size_t maxBytes, std::string* bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileReadResult::Unreadable;
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) return FileReadResult::TooLarge;
  // Appended through a small buffer rather than read into a resized string:
  // zero-filling fresh memory first would cost as much as the read. One
  // byte beyond the cap shows a file that grew since fstat.
  bytes->reserve(std::min(maxBytes, static_cast<std::size_t>(st.st_size)) + 1);
  char chunk[16384];
  std::size_t done = 0;
  while (done <= maxBytes) {
    const ssize_t n =
        ::pread(fd, chunk, std::min(sizeof chunk, maxBytes + 1 - done), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FileReadResult::Unreadable;
    if (n == 0) break;
    bytes->append(chunk, static_cast<std::size_t>(n));
    done += static_cast<std::size_t>(n);
  }
  return done > maxBytes ? FileReadResult::TooLarge : FileReadResult::Read;
}

// Runs act on one of the store's own files: a regular file of this user's
// with a single name, that no other process has open (its maker holds a lock
// on it from before it had a name; any other opener breaks a write lease),
// whose content is (maxBytes) read through the same descriptor.
template <typename Act>
void WithOwnFile(const std::string& file, std::size_t maxBytes, Act act) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
      st.st_nlink == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    std::string bytes;
    if (ReadOpen(fd, maxBytes, &bytes) == FileReadResult::Read) act(bytes, st);
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
  }
  ::close(fd);
}

// Whether the name still names the file st describes.
bool StillNames(const std::string& file, const struct stat& st) {
  struct stat now {};
  return ::lstat(file.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev;
}

// The store's temporary files of a profile: exact names of its pattern whose
// content has the digest the name carries. each gets the path, the content
// and its status.
template <typename Each>
void ForEachTemporary(const CopyNames& names, std::size_t maxBytes, Each each) {
  if (names.dir.empty()) return;
  DIR* d = ::opendir(names.dir.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name(e->d_name);
    unsigned long pid = 0;
    std::uint64_t digest = 0;
    if (name.compare(0, names.prefix.size(), names.prefix) != 0 ||
        !ParseTemporaryName(name.substr(names.prefix.size()), &pid, &digest))
      continue;
    const std::string file = names.dir + "/" + name;
    WithOwnFile(file, maxBytes, [&](const std::string& bytes, const struct stat& st) {
      if (TextDigest(bytes.data(), bytes.size()) == digest) each(file, bytes, st);
    });
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
  const FileReadResult result = ReadOpen(fd, maxBytes, bytes);
  ::close(fd);
  if (result != FileReadResult::Read) bytes->clear();
  return result;
}

namespace {

// Why the profile at path cannot be written ("" when it can), its target
// and, when it exists, its status.
FileWriteResult Probe(const std::string& path, std::string* target, struct stat* st, bool* exists) {
  FileWriteResult r;
  *exists = false;
  if (path.empty() || !ResolveLinks(path, target)) {
    r.reason = Because("Cannot resolve", path);
    return r;
  }
  *exists = ::stat(target->c_str(), st) == 0;
  if (*exists && !S_ISREG(st->st_mode)) {
    r.reason = *target + " is not a regular file";
  } else if (*exists && ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) {
    r.why = errno == EACCES || errno == EROFS ? FileWriteResult::ReadOnlyFile : r.why;
    r.reason = Because("Cannot write", *target);
  } else if (!*exists && !Writable(Dir(*target))) {
    r.why = FileWriteResult::FolderNotWritable;
    r.reason = Because("Cannot create the profile in", Dir(*target));
  }
  return r;
}

}  // namespace

FileWriteResult ProbeProfileFile(const std::string& path) {
  std::string target;
  struct stat st {};
  bool exists = false;
  return Probe(path, &target, &st, &exists);
}

FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm, std::string* spare) {
  std::string target;
  struct stat st {};
  bool exists = false;
  FileWriteResult r = Probe(path, &target, &st, &exists);
  if (!r.reason.empty()) return r;
  const std::string dir = Dir(target);
  // A renamed file belongs to whoever wrote it: someone else's profile is
  // written in place (after its recovery record) so it keeps its owner.
  const bool sameOwner = !exists || st.st_uid == ::geteuid() || ::geteuid() == 0;
  // A renamed file also leaves the profile's other hard links behind.
  const bool oneLink = !exists || st.st_nlink <= 1;
  if (sameOwner && oneLink && !Faults.noTempBeside && Writable(dir)) {
    // Only the profile's owner bits until the file has its group.
    NewFile f = CreateNew(Beside(target), exists ? st.st_mode & 0700 : 0666);
    if (f.fd >= 0) {
      std::uint64_t digest = TextDigest(nullptr, 0);
      bool ok = produce([&f, &digest](const char* data, std::size_t size) {
        digest = TextDigest(data, size, digest);
        return WriteAll(f.fd, std::string_view(data, size));
      });
      if (ok && exists) ok = TakeMode(f.fd, st, 07777);
      if (ok) ok = ::fsync(f.fd) == 0;
      if (!ok) r.reason = Because("Cannot write a file in", dir);
      if (ok && Faults.kill == FileFaults::AfterTemp) {
        ::close(f.fd);
        r.reason = "Killed before replacing " + target;
        return r;
      }
      // What confirm sees is what the file holds.
      std::string written, temp;
      if (spare != nullptr) written = std::move(*spare);
      written.clear();
      if (ok && ReadOpen(f.fd, SIZE_MAX - 1, &written) != FileReadResult::Read) {
        ok = false;
        r.reason = Because("Cannot read back a file in", dir);
      }
      if (ok && exists && SameBytes(target, written)) {
        r.unchanged = true;
        ok = false;
      }
      if (ok && !confirm(std::move(written))) {
        ok = false;
        r.confirmed = false;
        r.reason = "The new text of " + target + " would not read back as the document";
      }
      if (ok && (!Publish(f, Beside(target), digest, &temp) ||
                 ::rename(temp.c_str(), target.c_str()) != 0)) {
        ok = false;
        r.reason = Because("Cannot replace", target);
      }
      if (ok) {
        ::close(f.fd);
        const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
          ::fsync(dirFd);
          ::close(dirFd);
        }
      } else {
        Discard(f);
      }
      r.written = ok;
      return r;
    }
  }
  if (!exists) {
    r.why = FileWriteResult::FolderNotWritable;
    r.reason = Because("Cannot create the profile in", dir);
    return r;
  }
  std::string bytes;
  if (!ProduceInto(produce, bytes)) {
    r.reason = "The document cannot be written as text";
    return r;
  }
  if (spare != nullptr) std::string().swap(*spare);  // the text is held whole here instead
  if (SameBytes(target, bytes)) {
    r.unchanged = true;
    return r;
  }
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "The new text of " + target + " would not read back as the document";
    return r;
  }
  std::string old;
  if (ReadProfileFile(target, SIZE_MAX - 1, &old) != FileReadResult::Read) {
    r.reason = Because("Cannot read", target);
    return r;
  }
  int recoveryFd = -1;
  std::string recovery;
  if (!WriteRecoveryCopy(target, st, RecoveryRecord(old, bytes), &recoveryFd, &recovery,
                         &r.reason)) {
    if (!Writable(dir)) r.why = FileWriteResult::FolderNotWritable;
    return r;
  }
  bool killed = false;
  r.written = WriteOver(target, old.size(), bytes, &r.reason, &killed);
  // Unless the profile holds something else than either text, the record has
  // done its work (a kill leaves it for the next load).
  if (!killed && (r.written || SameBytes(target, old))) ::unlink(recovery.c_str());
  ::close(recoveryFd);
  return r;
}

bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, RecoveryCopy* copy) {
  std::string target;
  if (path.empty() || !ResolveLinks(path, &target)) return false;
  for (const CopyNames& names : {Beside(target), Elsewhere(target, 0), Elsewhere(target, 1)}) {
    if (names.dir.empty()) continue;
    const std::string where = names.Recovery();
    struct stat st {};
    if (::lstat(where.c_str(), &st) != 0) continue;
    *copy = RecoveryCopy{};
    copy->where = where;
    // A record held by its maker belongs to a save still running: not ours to judge.
    bool held = false;
    const int fd = ::open(where.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd >= 0) {
      std::string bytes;
      held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
      copy->valid = !held && ReadOpen(fd, 2 * maxBytes + 256, &bytes) == FileReadResult::Read &&
                    ParseRecoveryRecord(bytes, &copy->replaced, &copy->written);
      ::close(fd);
    }
    if (!held) return true;
  }
  return false;
}

bool RestoreProfileFile(const std::string& path, const RecoveryCopy& copy,
                        const std::string& damaged, std::string* reason) {
  std::string target;
  const int lock = ::open(copy.where.c_str(), O_RDONLY | O_CLOEXEC);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || !ResolveLinks(path, &target) ||
      !SameBytes(target, damaged)) {
    *reason = "The recovery copy " + copy.where + " is in use or the profile changed";
    if (lock >= 0) ::close(lock);
    return false;
  }
  bool killed = false;
  const bool ok = WriteOver(target, damaged.size(), copy.replaced, reason, &killed);
  if (ok) ::unlink(copy.where.c_str());
  ::close(lock);
  return ok;
}

bool KeepRecoveryAside(const RecoveryCopy& copy, std::string* kept) {
  for (int n = 0; n < 100; ++n) {
    *kept = copy.where + (n == 0 ? "" : "-" + std::to_string(n)) + ".kept";
    if (::link(copy.where.c_str(), kept->c_str()) == 0) {
      ::unlink(copy.where.c_str());
      return true;
    }
    if (errno != EEXIST) break;
  }
  kept->clear();
  return false;
}

void DropRecoveryCopy(const RecoveryCopy& copy) {
  WithOwnFile(copy.where, SIZE_MAX - 1, [&copy](const std::string& bytes, const struct stat& st) {
    std::string replaced, written;
    if (ParseRecoveryRecord(bytes, &replaced, &written) && replaced == copy.replaced &&
        written == copy.written && StillNames(copy.where, st))
      ::unlink(copy.where.c_str());
  });
}

bool FindTemporaryFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                       std::string* where) {
  std::string target;
  if (path.empty() || !ResolveLinks(path, &target)) return false;
  struct timespec newest {};
  ForEachTemporary(Beside(target), maxBytes,
                   [&](const std::string& file, const std::string& content, const struct stat& st) {
                     if (!where->empty() && (st.st_mtim.tv_sec < newest.tv_sec ||
                                             (st.st_mtim.tv_sec == newest.tv_sec &&
                                              st.st_mtim.tv_nsec <= newest.tv_nsec)))
                       return;
                     newest = st.st_mtim;
                     *where = file;
                     *bytes = content;
                   });
  return !where->empty();
}

bool AdoptTemporaryFile(const std::string& path, const std::string& where) {
  std::string target;
  // A link fails where a profile has appeared meanwhile.
  if (!ResolveLinks(path, &target) || ::link(where.c_str(), target.c_str()) != 0) return false;
  ::unlink(where.c_str());
  return true;
}

void RemoveStaleCopies(const std::string& path) {
  std::string target;
  struct stat st {};
  // Without the profile on disk, a copy may be the only one left.
  if (path.empty() || !ResolveLinks(path, &target) || ::stat(target.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode) || st.st_size == 0)
    return;
  for (const CopyNames& names : {Beside(target), Elsewhere(target, 0), Elsewhere(target, 1)}) {
    ForEachTemporary(names, SIZE_MAX - 1,
                     [](const std::string& file, const std::string&, const struct stat& st) {
                       if (StillNames(file, st)) ::unlink(file.c_str());
                     });
  }
}

}  // namespace km4r::platform
