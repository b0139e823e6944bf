// Profile files on Windows. Paths are ANSI texts, as the host gives them.
#include <windows.h>

#include <string>

#include "platform/profile_file.h"
#include "platform/win32/wide_text.h"

namespace km4r::platform {

namespace {

std::string Because(const char* what, const std::wstring& path) {
  const DWORD error = GetLastError();
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string reason = what;
  char narrow[MAX_PATH * 2] = "";
  WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
  reason += " ";
  reason += narrow;
  reason += ": ";
  reason += text[0] != '\0' ? text : ("error " + std::to_string(error)).c_str();
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

// The file a path finally names: links are followed to their target.
std::wstring FinalPath(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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

}  // namespace

FileReadResult ReadProfileFile(const std::string& path, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  const std::wstring wpath = Widen(path, CP_ACP);
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
  const DWORD attrs = GetFileAttributesW(target.c_str());
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
  if (exists && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    r.reason = Because("not a file:", target);
    return r;
  }
  if (exists && (attrs & FILE_ATTRIBUTE_READONLY)) {
    r.reason = Because("read-only:", target);
    return r;
  }
  const std::size_t slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"." : target.substr(0, slash);
  wchar_t temp[MAX_PATH + 16];
  if (GetTempFileNameW(dir.c_str(), L"km4", 0, temp) != 0) {
    HANDLE f =
        CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = f != INVALID_HANDLE_VALUE && WriteAll(f, bytes) && FlushFileBuffers(f);
    if (!ok) r.reason = Because("cannot write", temp);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    if (ok && !confirm(std::move(bytes))) {
      ok = false;
      r.confirmed = false;
      r.reason = "the new text would not read back as the document";
    }
    // ReplaceFileW keeps the profile's attributes and access control.
    if (ok) {
      ok = exists ? ReplaceFileW(target.c_str(), temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr) != 0
                  : MoveFileExW(temp, target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
      if (!ok) r.reason = Because("cannot replace", target);
    }
    if (!ok) DeleteFileW(temp);
    r.written = ok;
    return r;
  }
  if (!exists) {
    r.reason = Because("cannot create a file in", dir);
    return r;
  }
  if (!confirm(bytes)) {
    r.confirmed = false;
    r.reason = "the new text would not read back as the document";
    return r;
  }
  // No file can be made beside it: the profile itself is written.
  HANDLE f = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok =
      f != INVALID_HANDLE_VALUE && WriteAll(f, bytes) && SetEndOfFile(f) && FlushFileBuffers(f);
  if (!ok) r.reason = Because("cannot write", target);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  r.written = ok;
  return r;
}

}  // namespace km4r::platform
