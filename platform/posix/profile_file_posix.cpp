// Profile files on POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/profile_file.h"

namespace km4r::platform {

namespace {

std::string Dir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Because(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
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

FileWriteResult InPlace(const std::string& target, const std::string& bytes) {
  FileWriteResult r;
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    r.reason = Because("cannot write", target);
    return r;
  }
  bool ok = WriteAll(fd, bytes) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
            ::fsync(fd) == 0;
  if (!ok) r.reason = Because("cannot write", target);
  if (::close(fd) != 0 && ok) {
    ok = false;
    r.reason = Because("cannot write", target);
  }
  r.written = ok;
  return r;
}

}  // namespace

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
  // written in place so it keeps its owner.
  const bool sameOwner = !exists || st.st_uid == ::geteuid() || ::geteuid() == 0;
  if (sameOwner && ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
    const std::string base = target.substr(target.rfind('/') + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temp =
          dir + "/." + base + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
      fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd >= 0) {
      bool ok = produce([fd](const char* data, std::size_t size) {
        return WriteAll(fd, std::string_view(data, size));
      });
      if (ok && exists) {
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
        if (ok && ::geteuid() == 0) ok = ::fchown(fd, st.st_uid, st.st_gid) == 0;
      }
      if (ok) ok = ::fsync(fd) == 0;
      if (::close(fd) != 0) ok = false;
      if (!ok) r.reason = Because("cannot write", temp);
      // What confirm sees is what the file holds.
      std::string written;
      if (spare != nullptr) written = std::move(*spare);
      if (ok && ReadProfileFile(temp, SIZE_MAX - 1, &written) != FileReadResult::Read) {
        ok = false;
        r.reason = Because("cannot read back", temp);
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
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "the new text of " + target + " would not read back as the document";
    return r;
  }
  return InPlace(target, bytes);
}

}  // namespace km4r::platform
