// What `live` needs of the operating system, one implementation per platform:
//  - posix/live_posix.cpp: hidraw nodes found through sysfs, signals;
//  - win32/live_win32.cpp: HID interfaces found through SetupAPI, overlapped
//    reads, the console's control events.
// The session itself (live.cpp) is the same everywhere.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace km4r::bench {

struct LiveOptions;

inline constexpr std::size_t kLiveReportBytes = 8;
using LiveReport = std::array<uint8_t, kLiveReportBytes>;

// The bench's own look at the pendant: where it is attached, and a read
// handle of its own, shared with the plug-in's (the system hands each open
// handle a copy of every input report).
class PendantWatch {
 public:
  explicit PendantWatch(const LiveOptions& options);
  ~PendantWatch();
  PendantWatch(const PendantWatch&) = delete;
  PendantWatch& operator=(const PendantWatch&) = delete;

  // Where the pendant is attached now, "" when it is not.
  std::string Find();
  // Opens it for reading; false with the system's reason, and in hint what
  // the user can do about it ("" when nothing).
  bool Open(const std::string& where, std::string* error, std::string* hint);
  void Close();
  // The whole reports that arrived since the last call, without blocking;
  // false when the device went away.
  bool Read(std::vector<LiveReport>* reports);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The recording's file. Each write goes straight to the system, so a crash
// or a kill leaves every line written before it.
class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile() { Close(); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Makes the file; an existing one is refused unless replace is given.
  bool Create(const std::string& path, bool replace, std::string* error);
  bool IsOpen() const { return handle_ != -1; }
  // A full disk leaves the file with what fitted.
  void Write(const std::string& text);
  void Close();

 private:
  intptr_t handle_ = -1;
};

// From here on Ctrl-C, and whatever else ends a console program on this
// platform, makes StopRequested() true instead of ending the process, so
// that the session ends cleanly.
void CatchStopRequests(const LiveOptions& options);
bool StopRequested();

}  // namespace km4r::bench
