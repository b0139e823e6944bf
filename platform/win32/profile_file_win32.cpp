// Profile files on Windows. Paths are ANSI texts, as the host gives them.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "platform/profile_file.h"
#include "platform/win32/wide_text.h"

namespace km4r::platform {

namespace {

FileFaults Faults;

// A swap that meets a file held open (a scanner or indexer reading the new
// file) is tried again, this many times, this far apart: a short, bounded
// wait on the host's thread.
constexpr int kSwapTries = 5;
constexpr DWORD kSwapPauseMs = 20;

std::string Narrow(const std::wstring& text) {
  char narrow[MAX_PATH * 4] = "";
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

std::string Because(const char* what, const std::wstring& path, DWORD error = GetLastError()) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string reason = std::string(what) + " " + Narrow(path) + ": ";
  reason += text[0] != '\0' ? text : ("error " + std::to_string(error)).c_str();
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason;
}

// The form of a path the system takes at any length.
std::wstring Long(const std::wstring& path) {
  if (path.size() < MAX_PATH - 14 || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() > 2 && path[1] == L':') return L"\\\\?\\" + path;
  return path;
}

bool WriteAll(HANDLE file, const std::string& bytes, std::size_t size) {
  if (Faults.diskFull && size > 0) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

// The file a path finally names: links are followed to their target.
std::wstring FinalPath(const std::wstring& path) {
  HANDLE f =
      CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return path;
  wchar_t buffer[32768];
  const DWORD n = GetFinalPathNameByHandleW(f, buffer, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(f);
  if (n == 0 || n >= 32768) return path;
  std::wstring out(buffer, n);
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + out.substr(8);
  if (out.rfind(L"\\\\?\\", 0) == 0) return out.substr(4);
  return out;
}

std::wstring Dir(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring Base(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Names of the store's own copies of a profile: in its directory, and in the
// user's temporary folder (where the full path's hash tells profiles of one
// name apart).
struct CopyNames {
  std::wstring dir, prefix;  // dir\prefix + "km4r-N.tmp" or + "km4r-recovery"
  std::wstring Recovery() const { return dir + L"\\" + prefix + L"km4r-recovery"; }
};

CopyNames Beside(const std::wstring& target) {
  return {Dir(target), Base(target) + L"."};
}

CopyNames Elsewhere(const std::wstring& target) {
  wchar_t temp[MAX_PATH + 1] = L"";
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return {};
  std::wstring dir(temp, n);
  while (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  std::uint64_t h = 14695981039346656037ull;
  for (wchar_t c : target) h = (h ^ static_cast<std::uint16_t>(towlower(c))) * 1099511628211ull;
  wchar_t hex[17];
  swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(h));
  return {dir, Base(target) + L"." + hex + L"."};
}

// A new file of the store's naming, open for writing and held (others may
// read it, but not delete it), so that a later clean-up leaves it alone.
HANDLE CreateTemp(const CopyNames& names, std::wstring* temp) {
  HANDLE f = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; ++attempt) {
    *temp = names.dir + L"\\" + names.prefix + L"km4r-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(attempt) + L".tmp";
    f = CreateFileW(Long(*temp).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return f;
}

// Whether the file holds exactly bytes, read a piece at a time.
bool SameBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool same = GetFileSizeEx(f, &size) && static_cast<unsigned long long>(size.QuadPart) ==
                                             static_cast<unsigned long long>(bytes.size());
  static char chunk[65536];
  std::size_t done = 0;
  while (same) {
    DWORD n = 0;
    if (!ReadFile(f, chunk, sizeof chunk, &n, nullptr)) same = false;
    if (!same || n == 0) break;
    same = done + n <= bytes.size() && std::memcmp(chunk, bytes.data() + done, n) == 0;
    done += n;
  }
  CloseHandle(f);
  return same && done == bytes.size();
}

// How many names the file has.
DWORD Links(const std::wstring& path) {
  HANDLE f =
      CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD links = GetFileInformationByHandle(f, &info) ? info.nNumberOfLinks : 1;
  CloseHandle(f);
  return links;
}

bool Held(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// MoveFileExW, tried again while a file is held.
bool Move(const std::wstring& from, const std::wstring& to, DWORD flags) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(Long(from).c_str(), Long(to).c_str(), flags | MOVEFILE_WRITE_THROUGH))
      return true;
    if (attempt + 1 >= kSwapTries || !Held(GetLastError())) return false;
    Sleep(kSwapPauseMs);
  }
}

// ReplaceFileW as the faults would have it fail.
BOOL Replace(const std::wstring& target, const std::wstring& temp) {
  if (Faults.sharingViolations > 0) {
    --Faults.sharingViolations;
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (Faults.swapError != 0) {
    const DWORD error = static_cast<DWORD>(Faults.swapError);
    Faults.swapError = 0;
    // Both leave the profile's name empty: 1176 with the profile gone,
    // 1177 with it under a name the call does not tell.
    DeleteFileW(Long(target).c_str());
    SetLastError(error);
    return FALSE;
  }
  return ReplaceFileW(Long(target).c_str(), Long(temp).c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

// Swaps the written temporary file in for the profile, keeping the profile's
// attributes and access control. Handles the failures ReplaceFileW documents;
// false with *keepTemp set when the temporary file is now the only copy.
bool Swap(const std::wstring& target, const std::wstring& temp, std::string* reason,
          bool* keepTemp) {
  for (int attempt = 0;; ++attempt) {
    if (Replace(target, temp)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The profile is no longer under its name: the new file is the only
      // copy of it, and takes that name.
      if (Move(temp, target, 0)) return true;
      // Kept as the profile's recovery copy, which the next load puts back.
      *keepTemp = true;
      const std::wstring recovery = Beside(target).Recovery();
      const std::wstring kept = Move(temp, recovery, MOVEFILE_REPLACE_EXISTING) ? recovery : temp;
      *reason = Because("the new profile is kept in", kept) + " (could not take the name " +
                Narrow(target) + ")";
      return false;
    }
    if (attempt + 1 >= kSwapTries || !Held(error)) {
      *reason = Because("cannot replace", target, error);
      return false;
    }
    Sleep(kSwapPauseMs);
  }
}

// Writes bytes as a complete file under name (a temporary file moved), and
// keeps it open (*held) so that no clean-up takes it while it is needed.
bool WriteWhole(const CopyNames& names, const std::wstring& name, const std::string& bytes,
                HANDLE* held, std::string* reason) {
  std::wstring temp;
  HANDLE f = CreateTemp(names, &temp);
  if (f == INVALID_HANDLE_VALUE) {
    *reason = Because("cannot create a file in", names.dir);
    return false;
  }
  const bool ok = WriteAll(f, bytes, bytes.size()) && FlushFileBuffers(f);
  if (!ok) *reason = Because("cannot write", temp);
  CloseHandle(f);
  if (ok && !Move(temp, name, MOVEFILE_REPLACE_EXISTING)) {
    *reason = Because("cannot write", name);
  } else if (ok) {
    *held = CreateFileW(Long(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return true;
  }
  DeleteFileW(Long(temp).c_str());
  return false;
}

bool WriteRecoveryCopy(const std::wstring& target, const std::string& old, HANDLE* held,
                       std::wstring* where, std::string* reason) {
  if (Faults.noRecovery) {
    *reason = "no recovery copy of " + Narrow(target) + " can be made";
    return false;
  }
  std::string why;
  for (const CopyNames& names : {Beside(target), Elsewhere(target)}) {
    if (names.dir.empty() || (Faults.noRecoveryBeside && names.dir == Dir(target))) continue;
    *where = names.Recovery();
    if (WriteWhole(names, *where, old, held, &why)) return true;
  }
  *reason =
      "no recovery copy of " + Narrow(target) + " can be made" + (why.empty() ? "" : ": " + why);
  return false;
}

// Room for size bytes in the open profile of old size, so that a full disk
// shows before any byte of it changes.
bool Reserve(HANDLE f, std::size_t old, std::size_t size) {
  if (size <= old) return true;
  if (Faults.profileDiskFull || Faults.diskFull) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (SetFileInformationByHandle(f, FileAllocationInfo, &allocation, sizeof allocation))
    return true;
  if (GetLastError() == ERROR_DISK_FULL) return false;
  // Where allocation cannot be set: the new length made, then taken back.
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  bool ok = SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && SetEndOfFile(f);
  const DWORD error = GetLastError();
  at.QuadPart = static_cast<LONGLONG>(old);
  SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
  SetEndOfFile(f);
  SetLastError(error);
  return ok;
}

// Writes bytes over the profile's old content. A recovery copy is there.
bool WriteOver(const std::wstring& target, std::size_t old, const std::string& bytes,
               std::string* reason, bool* killed) {
  HANDLE f = CreateFileW(Long(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    *reason = Because("cannot write", target);
    return false;
  }
  if (!Reserve(f, old, bytes.size())) {
    *reason = Because("no room to write", target);
    CloseHandle(f);
    return false;
  }
  LARGE_INTEGER start{};
  SetFilePointerEx(f, start, nullptr, FILE_BEGIN);
  if (Faults.kill == FileFaults::MidInPlace) {
    // Between the write and the truncation, or halfway through a longer text.
    const bool saved = Faults.diskFull;
    Faults.diskFull = false;
    WriteAll(f, bytes, bytes.size() < old ? bytes.size() : bytes.size() / 2);
    Faults.diskFull = saved;
    CloseHandle(f);
    *killed = true;
    *reason = "killed while writing " + Narrow(target);
    return false;
  }
  const bool ok = WriteAll(f, bytes, bytes.size()) && SetEndOfFile(f) && FlushFileBuffers(f);
  if (!ok) *reason = Because("cannot write", target);
  CloseHandle(f);
  return ok;
}

// Removes path unless another process holds it open.
void RemoveIfFree(const std::wstring& path) {
  DeleteFileW(Long(path).c_str());
}

void RemoveStale(const CopyNames& names) {
  if (names.dir.empty()) return;
  for (const std::wstring& pattern :
       {names.prefix + L"km4r-*.tmp", names.prefix + L"km4r-recovery"}) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(Long(names.dir + L"\\" + pattern).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        RemoveIfFree(names.dir + L"\\" + found.cFileName);
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
}

}  // namespace

void SetFileFaults(const FileFaults& faults) {
  Faults = faults;
}

FileReadResult ReadProfileFile(const std::string& path, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  const std::wstring wpath = Long(Widen(path, CP_ACP));
  const DWORD attrs = GetFileAttributesW(wpath.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? FileReadResult::Missing
                                                                      : FileReadResult::Unreadable;
  }
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return FileReadResult::Unreadable;
  HANDLE f = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? FileReadResult::Missing
                                                  : FileReadResult::Unreadable;
  }
  LARGE_INTEGER size{};
  FileReadResult result = FileReadResult::Read;
  if (!GetFileSizeEx(f, &size) || size.QuadPart < 0) {
    result = FileReadResult::Unreadable;
  } else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    result = FileReadResult::TooLarge;
  } else {
    bytes->resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes->size()) {
      DWORD n = 0;
      if (!ReadFile(f, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &n,
                    nullptr)) {
        result = FileReadResult::Unreadable;
        break;
      }
      if (n == 0) break;
      done += n;
    }
    bytes->resize(done);
  }
  CloseHandle(f);
  if (result != FileReadResult::Read) bytes->clear();
  return result;
}

FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm,
                                 std::string* /*spare: MSXML keeps no text*/) {
  FileWriteResult r;
  if (path.empty()) {
    r.reason = "no profile path";
    return r;
  }
  std::string bytes;
  if (!ProduceInto(produce, bytes)) {
    r.reason = "the document cannot be written as text";
    return r;
  }
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  const DWORD attrs = GetFileAttributesW(Long(target).c_str());
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
  if (exists && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    r.reason = Because("not a file:", target);
    return r;
  }
  if (exists && (attrs & FILE_ATTRIBUTE_READONLY)) {
    r.reason = Because("read-only:", target);
    return r;
  }
  if (exists && SameBytes(target, bytes)) {
    r.unchanged = true;
    return r;
  }
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "the new text would not read back as the document";
    return r;
  }
  const std::wstring dir = Dir(target);
  std::wstring temp;
  // A swapped-in file would leave the profile's other hard links behind.
  HANDLE f = Faults.noTempBeside || (exists && Links(target) > 1)
                 ? INVALID_HANDLE_VALUE
                 : CreateTemp(Beside(target), &temp);
  if (f != INVALID_HANDLE_VALUE) {
    bool ok = WriteAll(f, bytes, bytes.size()) && FlushFileBuffers(f);
    if (!ok) r.reason = Because("cannot write", temp);
    CloseHandle(f);
    if (ok && Faults.kill == FileFaults::AfterTemp) {
      r.reason = "killed before replacing " + Narrow(target);
      return r;
    }
    bool keepTemp = false;
    if (ok) {
      ok = exists ? Swap(target, temp, &r.reason, &keepTemp) : Move(temp, target, 0);
      if (!ok && !exists && r.reason.empty()) r.reason = Because("cannot create", target);
    }
    if (!ok && !keepTemp) DeleteFileW(Long(temp).c_str());
    r.written = ok;
    return r;
  }
  if (!exists) {
    r.reason = Because("cannot create a file in", dir);
    return r;
  }
  // No file can be made beside it: the profile itself is written, once its
  // old bytes are safe in a recovery copy.
  std::string old;
  if (ReadProfileFile(Narrow(target), SIZE_MAX - 1, &old) != FileReadResult::Read) {
    r.reason = Because("cannot read", target);
    return r;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  std::wstring recovery;
  if (!WriteRecoveryCopy(target, old, &held, &recovery, &r.reason)) return r;
  bool killed = false;
  r.written = WriteOver(target, old.size(), bytes, &r.reason, &killed);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  // Unless the profile holds something else than either text, the copy has
  // done its work (a kill leaves it for the next load).
  if (!killed && (r.written || SameBytes(target, old))) DeleteFileW(Long(recovery).c_str());
  return r;
}

bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, std::string* bytes,
                      std::string* where) {
  if (path.empty()) return false;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  for (const CopyNames& names : {Beside(target), Elsewhere(target)}) {
    if (names.dir.empty()) continue;
    *where = Narrow(names.Recovery());
    if (ReadProfileFile(*where, maxBytes, bytes) == FileReadResult::Read) return true;
  }
  return false;
}

bool RestoreProfileFile(const std::string& path, const std::string& bytes, std::string* reason) {
  std::string where, copy;
  if (!ReadRecoveryCopy(path, SIZE_MAX - 1, &copy, &where) || copy != bytes) {
    *reason = "no recovery copy of " + path;
    return false;
  }
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  const std::wstring recovery = Widen(where, CP_ACP);
  HANDLE held = CreateFileW(Long(recovery).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  bool killed = false;
  if (!GetFileAttributesExW(Long(target).c_str(), GetFileExInfoStandard, &data)) {
    // Gone: made afresh, to be written below.
    HANDLE f = CreateFileW(Long(target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  const bool ok =
      GetFileAttributesExW(Long(target).c_str(), GetFileExInfoStandard, &data) &&
      WriteOver(target,
                (static_cast<std::size_t>(data.nFileSizeHigh) << 16 << 16) | data.nFileSizeLow,
                bytes, reason, &killed);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (ok) DeleteFileW(Long(recovery).c_str());
  return ok;
}

void RemoveStaleCopies(const std::string& path) {
  if (path.empty()) return;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  RemoveStale(Beside(target));
  RemoveStale(Elsewhere(target));
}

}  // namespace km4r::platform
