// Profile files on Windows. Paths are ANSI texts, as the host gives them.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/profile_file.h"
#include "platform/win32/wide_text.h"

namespace km4r::platform {

namespace {

FileFaults Faults;
// The new file a scanner holds after a failed swap (FileFaults::swapHeld).
HANDLE HeldByScanner = INVALID_HANDLE_VALUE;

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

// Only after a call that failed: the system's words for its error.
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
  // One profile has one key however the host spells its path.
  wchar_t full[32768];
  const DWORD m = GetFullPathNameW(target.c_str(), 32768, full, nullptr);
  std::wstring name = m > 0 && m < 32768 ? std::wstring(full, m) : target;
  std::uint64_t h = 14695981039346656037ull;
  for (wchar_t c : name) h = (h ^ static_cast<std::uint16_t>(towlower(c))) * 1099511628211ull;
  wchar_t hex[17];
  swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(h));
  return {dir, Base(target) + L"." + hex + L"."};
}

// The profile's access control, for the files made for it from their first
// byte on; none (the folder's, as a new profile gets) when there is no profile.
struct Security {
  std::vector<char> descriptor;
  SECURITY_ATTRIBUTES attributes{};
  SECURITY_ATTRIBUTES* get() { return descriptor.empty() ? nullptr : &attributes; }
};

void TakeSecurity(const std::wstring& target, Security* s) {
  const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  DWORD need = 0;
  GetFileSecurityW(Long(target).c_str(), what, nullptr, 0, &need);
  if (need == 0) return;
  s->descriptor.resize(need);
  PSECURITY_DESCRIPTOR sd = s->descriptor.data();
  if (!GetFileSecurityW(Long(target).c_str(), what, sd, need, &need)) {
    s->descriptor.clear();
    return;
  }
  // Exactly the profile's entries: none inherited from the folder on top.
  SetSecurityDescriptorControl(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  s->attributes.nLength = sizeof s->attributes;
  s->attributes.lpSecurityDescriptor = sd;
}

// A new file of the store's naming, which carries the digest of what it is
// to hold, open for writing and held (others may read it, but not delete
// it), so that a later clean-up leaves it alone.
HANDLE CreateTemp(const CopyNames& names, const std::string& bytes, Security* security,
                  std::wstring* temp) {
  HANDLE f = INVALID_HANDLE_VALUE;
  const std::uint64_t digest = TextDigest(bytes.data(), bytes.size());
  for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; ++attempt) {
    *temp = names.dir + L"\\" + names.prefix +
            Widen(TemporaryName(GetCurrentProcessId(), digest, attempt), CP_ACP);
    f = CreateFileW(Long(*temp).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    security->get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (f != INVALID_HANDLE_VALUE && Faults.created) Faults.created(Narrow(*temp));
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
    if (Faults.swapHeld)
      HeldByScanner = CreateFileW(Long(temp).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetLastError(error);
    return FALSE;
  }
  return ReplaceFileW(Long(target).c_str(), Long(temp).c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

// Writes bytes as a new file at name, made with the profile's access
// control: where a held temporary file cannot take the name.
bool WriteNew(const std::wstring& name, const std::string& bytes, Security* security) {
  HANDLE f = CreateFileW(Long(name).c_str(), GENERIC_WRITE, 0, security->get(), CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  if (Faults.created) Faults.created(Narrow(name));
  const bool ok = WriteAll(f, bytes, bytes.size()) && FlushFileBuffers(f);
  CloseHandle(f);
  if (!ok) DeleteFileW(Long(name).c_str());
  return ok;
}

// Swaps the written temporary file in for the profile, keeping the profile's
// attributes and access control. Handles the failures ReplaceFileW documents;
// false with *keepTemp set when the temporary file is now the only copy.
bool Swap(const std::wstring& target, const std::wstring& temp, const std::string& bytes,
          Security* security, std::string* reason, bool* keepTemp) {
  for (int attempt = 0;; ++attempt) {
    if (Replace(target, temp)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The profile is no longer under its name: the new file takes it, or,
      // held, the new text is written there afresh, so that the host's
      // profile is never only under a temporary name.
      if (Move(temp, target, 0) || WriteNew(target, bytes, security)) return true;
      // The load after finds it by its name and puts it in place.
      *keepTemp = true;
      *reason = Because("The new profile is kept in", temp) + " (it could not take the name " +
                Narrow(target) + ")";
      return false;
    }
    if (attempt + 1 >= kSwapTries || !Held(error)) {
      *reason = Because("Cannot replace", target, error);
      return false;
    }
    Sleep(kSwapPauseMs);
  }
}

// Writes bytes as a complete file under name (a temporary file moved), and
// keeps it open (*held) so that no clean-up takes it while it is needed.
bool WriteWhole(const CopyNames& names, const std::wstring& name, const std::string& bytes,
                Security* security, HANDLE* held, std::string* reason) {
  std::wstring temp;
  HANDLE f = CreateTemp(names, bytes, security, &temp);
  if (f == INVALID_HANDLE_VALUE) {
    *reason = Because("Cannot create a file in", names.dir);
    return false;
  }
  const bool ok = WriteAll(f, bytes, bytes.size()) && FlushFileBuffers(f);
  if (!ok) *reason = Because("Cannot write", temp);
  CloseHandle(f);
  if (ok && !Move(temp, name, 0)) {
    *reason = Because("Cannot write", name);
  } else if (ok) {
    *held = CreateFileW(Long(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return true;
  }
  DeleteFileW(Long(temp).c_str());
  return false;
}

bool WriteRecoveryCopy(const std::wstring& target, const std::string& record, Security* security,
                       HANDLE* held, std::wstring* where, std::string* reason) {
  if (Faults.noRecovery) {
    *reason = "No recovery copy of " + Narrow(target) + " can be made";
    return false;
  }
  std::string why;
  for (const CopyNames& names : {Beside(target), Elsewhere(target)}) {
    if (names.dir.empty() || (Faults.noRecoveryBeside && names.dir == Dir(target))) continue;
    *where = names.Recovery();
    if (WriteWhole(names, *where, record, security, held, &why)) return true;
  }
  *reason =
      "No recovery copy of " + Narrow(target) + " can be made" + (why.empty() ? "" : ": " + why);
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
    *reason = Because("Cannot write", target);
    return false;
  }
  if (!Reserve(f, old, bytes.size())) {
    *reason = Because("No room to write", target);
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
    *reason = "Killed while writing " + Narrow(target);
    return false;
  }
  const bool ok = WriteAll(f, bytes, bytes.size()) && SetEndOfFile(f) && FlushFileBuffers(f);
  if (!ok) *reason = Because("Cannot write", target);
  CloseHandle(f);
  return ok;
}

// Reads the open file whole, up to maxBytes.
FileReadResult ReadOpen(HANDLE f, std::size_t maxBytes, std::string* bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f, &size) || size.QuadPart < 0) return FileReadResult::Unreadable;
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) return FileReadResult::TooLarge;
  bytes->resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes->size()) {
    DWORD n = 0;
    if (!ReadFile(f, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &n, nullptr))
      return FileReadResult::Unreadable;
    if (n == 0) break;
    done += n;
  }
  bytes->resize(done);
  return FileReadResult::Read;
}

// Whether another running process made the file: its save may still need it.
bool MakerRuns(unsigned long pid) {
  if (pid == GetCurrentProcessId()) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

// The store's temporary files of a profile: exact names of its pattern whose
// content has the digest the name carries, made by no other running
// process, open nowhere else (they are opened sharing nothing). each gets
// the path, the content, the open handle (with the right to delete) and the
// time of the last write.
template <typename Each>
void ForEachTemporary(const CopyNames& names, std::size_t maxBytes, Each each) {
  if (names.dir.empty()) return;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(Long(names.dir + L"\\" + names.prefix + L"km4r-*.tmp").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    unsigned long pid = 0;
    std::uint64_t digest = 0;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        name.compare(0, names.prefix.size(), names.prefix) != 0 ||
        !ParseTemporaryName(Narrow(name.substr(names.prefix.size())), &pid, &digest) ||
        MakerRuns(pid))
      continue;
    const std::wstring file = names.dir + L"\\" + name;
    HANDLE f = CreateFileW(Long(file).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    std::string bytes;
    if (ReadOpen(f, maxBytes, &bytes) == FileReadResult::Read &&
        TextDigest(bytes.data(), bytes.size()) == digest)
      each(file, bytes, f, found.ftLastWriteTime);
    CloseHandle(f);
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

// Deletes the file open at f, once it is closed.
void DeleteOpen(HANDLE f) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(f, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

void SetFileFaults(const FileFaults& faults) {
  Faults = faults;
  if (HeldByScanner != INVALID_HANDLE_VALUE) CloseHandle(HeldByScanner);
  HeldByScanner = INVALID_HANDLE_VALUE;
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
  const FileReadResult result = ReadOpen(f, maxBytes, bytes);
  CloseHandle(f);
  if (result != FileReadResult::Read) bytes->clear();
  return result;
}

FileWriteResult ProbeProfileFile(const std::string& path) {
  FileWriteResult r;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  const DWORD attrs = GetFileAttributesW(Long(target).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return r;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
    r.reason = Narrow(target) + " is a folder, not a file";
  } else if (attrs & FILE_ATTRIBUTE_READONLY) {
    r.why = FileWriteResult::ReadOnlyFile;
    r.reason = "The profile " + Narrow(target) + " is read-only";
  }
  return r;
}

FileWriteResult WriteProfileFile(const std::string& path, const ProduceBytes& produce,
                                 const ConfirmBytes& confirm,
                                 std::string* /*spare: MSXML keeps no text*/) {
  FileWriteResult r;
  if (path.empty()) {
    r.reason = "No profile path";
    return r;
  }
  std::string bytes;
  if (!ProduceInto(produce, bytes)) {
    r.reason = "The document cannot be written as text";
    return r;
  }
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  const DWORD attrs = GetFileAttributesW(Long(target).c_str());
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
  r = ProbeProfileFile(path);
  if (!r.reason.empty()) return r;
  if (exists && SameBytes(target, bytes)) {
    r.unchanged = true;
    return r;
  }
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "The new text would not read back as the document";
    return r;
  }
  const std::wstring dir = Dir(target);
  Security security;
  if (exists) TakeSecurity(target, &security);
  std::wstring temp;
  // A swapped-in file would leave the profile's other hard links behind.
  HANDLE f = Faults.noTempBeside || (exists && Links(target) > 1)
                 ? INVALID_HANDLE_VALUE
                 : CreateTemp(Beside(target), bytes, &security, &temp);
  if (f != INVALID_HANDLE_VALUE) {
    bool ok = WriteAll(f, bytes, bytes.size()) && FlushFileBuffers(f);
    if (!ok) r.reason = Because("Cannot write", temp);
    CloseHandle(f);
    if (ok && Faults.kill == FileFaults::AfterTemp) {
      r.reason = "Killed before replacing " + Narrow(target);
      return r;
    }
    bool keepTemp = false;
    if (ok) {
      ok = exists ? Swap(target, temp, bytes, &security, &r.reason, &keepTemp)
                  : Move(temp, target, 0);
      if (!ok && !exists && r.reason.empty()) r.reason = Because("Cannot create", target);
    }
    if (!keepTemp) DeleteFileW(Long(temp).c_str());
    r.written = ok;
    return r;
  }
  if (!exists) {
    r.why = FileWriteResult::FolderNotWritable;
    r.reason = Because("Cannot create the profile in", dir);
    return r;
  }
  // No file can be made beside it: the profile itself is written, once its
  // old bytes and the new ones are safe in a recovery record.
  std::string old;
  if (ReadProfileFile(Narrow(target), SIZE_MAX - 1, &old) != FileReadResult::Read) {
    r.reason = Because("Cannot read", target);
    return r;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  std::wstring recovery;
  if (!WriteRecoveryCopy(target, RecoveryRecord(old, bytes), &security, &held, &recovery,
                         &r.reason)) {
    if (!Faults.noRecovery) r.why = FileWriteResult::FolderNotWritable;
    return r;
  }
  bool killed = false;
  r.written = WriteOver(target, old.size(), bytes, &r.reason, &killed);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  // Unless the profile holds something else than either text, the record has
  // done its work (a kill leaves it for the next load).
  if (!killed && (r.written || SameBytes(target, old))) DeleteFileW(Long(recovery).c_str());
  return r;
}

bool ReadRecoveryCopy(const std::string& path, std::size_t maxBytes, RecoveryCopy* copy) {
  if (path.empty()) return false;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  for (const CopyNames& names : {Beside(target), Elsewhere(target)}) {
    if (names.dir.empty()) continue;
    const std::wstring where = names.Recovery();
    if (GetFileAttributesW(Long(where).c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    *copy = RecoveryCopy{};
    copy->where = Narrow(where);
    // Opened sharing nothing: a record its maker still holds belongs to a
    // save still running, not ours to judge.
    HANDLE f = CreateFileW(Long(where).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    std::string bytes;
    copy->valid = ReadOpen(f, 2 * maxBytes + 256, &bytes) == FileReadResult::Read &&
                  ParseRecoveryRecord(bytes, &copy->replaced, &copy->written);
    CloseHandle(f);
    return true;
  }
  return false;
}

bool RestoreProfileFile(const std::string& path, const RecoveryCopy& copy,
                        const std::string& damaged, std::string* reason) {
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  const std::wstring recovery = Widen(copy.where, CP_ACP);
  HANDLE held = CreateFileW(Long(recovery).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool killed = false;
  const bool ok = held != INVALID_HANDLE_VALUE && SameBytes(target, damaged) &&
                  WriteOver(target, damaged.size(), copy.replaced, reason, &killed);
  if (!ok && reason->empty())
    *reason = "The recovery copy " + copy.where + " is in use or the profile changed";
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (ok) DeleteFileW(Long(recovery).c_str());
  return ok;
}

bool KeepRecoveryAside(const RecoveryCopy& copy, std::string* kept) {
  const std::wstring where = Widen(copy.where, CP_ACP);
  for (int n = 0; n < 100; ++n) {
    const std::wstring name = where + (n == 0 ? L"" : L"-" + std::to_wstring(n)) + L".kept";
    if (MoveFileExW(Long(where).c_str(), Long(name).c_str(), MOVEFILE_WRITE_THROUGH)) {
      *kept = Narrow(name);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  kept->clear();
  return false;
}

void DropRecoveryCopy(const RecoveryCopy& copy) {
  HANDLE f = CreateFileW(Long(Widen(copy.where, CP_ACP)).c_str(), GENERIC_READ | DELETE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  std::string bytes, replaced, written;
  if (ReadOpen(f, SIZE_MAX - 1, &bytes) == FileReadResult::Read &&
      ParseRecoveryRecord(bytes, &replaced, &written) && replaced == copy.replaced &&
      written == copy.written)
    DeleteOpen(f);
  CloseHandle(f);
}

bool FindTemporaryFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                       std::string* where) {
  if (path.empty()) return false;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  FILETIME newest{};
  ForEachTemporary(
      Beside(target), maxBytes,
      [&](const std::wstring& file, const std::string& content, HANDLE, const FILETIME& written) {
        if (!where->empty() && CompareFileTime(&written, &newest) <= 0) return;
        newest = written;
        *where = Narrow(file);
        *bytes = content;
      });
  return !where->empty();
}

bool AdoptTemporaryFile(const std::string& path, const std::string& where) {
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  // Without replacing: a profile that appeared meanwhile stays.
  return MoveFileExW(Long(Widen(where, CP_ACP)).c_str(), Long(target).c_str(),
                     MOVEFILE_WRITE_THROUGH) != FALSE;
}

void RemoveStaleCopies(const std::string& path) {
  if (path.empty()) return;
  const std::wstring target = FinalPath(Widen(path, CP_ACP));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  // Without the profile on disk, a copy may be the only one left.
  if (!GetFileAttributesExW(Long(target).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0))
    return;
  for (const CopyNames& names : {Beside(target), Elsewhere(target)}) {
    ForEachTemporary(
        names, SIZE_MAX - 1,
        [](const std::wstring&, const std::string&, HANDLE f, const FILETIME&) { DeleteOpen(f); });
  }
}

}  // namespace km4r::platform
