// live on Linux: the pendant's hidraw node, found through sysfs and read
// without blocking; the recording written with write(2); SIGINT, SIGTERM and
// SIGHUP (a closed terminal) as stop requests.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/commands.h"
#include "bench/live_system.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

const char kUdevHint[] =
    "Your user may not access the device. Install the udev rule shipped with the bench\n"
    "(bench/udev/60-km4r-pendant.rules) into /etc/udev/rules.d/, run\n"
    "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
    "and plug the pendant in again. The rule lets in a user logged in at the machine\n"
    "itself (not over ssh) or in the plugdev group (sudo usermod -aG plugdev $USER,\n"
    "then log in again).\n";

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::string FindPendantNode(const std::string& sysfsRoot) {
  std::error_code ec;
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(sysfsRoot, ec)) entries.push_back(e.path());
  // hidraw0 before hidraw1, whatever order the directory lists them in.
  std::sort(entries.begin(), entries.end());
  for (const fs::path& entry : entries) {
    std::ifstream uevent(entry / "device" / "uevent");
    std::string line;
    while (std::getline(uevent, line)) {
      if (Upper(line) == "HID_ID=0003:000004D8:0000FCE7")
        return "/dev/" + entry.filename().string();
    }
  }
  return "";
}

struct PendantWatch::Impl {
  std::string sysfs;
  std::string devDir;
  int fd = -1;
  std::vector<uint8_t> pending;
};

PendantWatch::PendantWatch(const LiveOptions& options) : impl_(std::make_unique<Impl>()) {
  impl_->sysfs = options.sysfs;
  impl_->devDir = options.dev;
}

PendantWatch::~PendantWatch() {
  Close();
}

std::string PendantWatch::Find() {
  std::string node = FindPendantNode(impl_->sysfs);
  if (!node.empty() && node.rfind("/dev/", 0) == 0)
    node = (fs::path(impl_->devDir) / node.substr(5)).string();
  return node;
}

bool PendantWatch::Open(const std::string& where, std::string* error, std::string* hint) {
  Close();
  impl_->fd = open(where.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (impl_->fd >= 0) return true;
  const int why = errno;
  *error = std::strerror(why);
  *hint = why == EACCES || why == EPERM ? kUdevHint : "";
  return false;
}

void PendantWatch::Close() {
  if (impl_->fd >= 0) close(impl_->fd);
  impl_->fd = -1;
  impl_->pending.clear();
}

bool PendantWatch::Read(std::vector<LiveReport>* reports) {
  reports->clear();
  if (impl_->fd < 0) return true;
  std::vector<uint8_t>& pending = impl_->pending;
  uint8_t buf[256];
  for (;;) {
    const ssize_t n = read(impl_->fd, buf, sizeof buf);
    if (n > 0) {
      pending.insert(pending.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    break;
  }
  std::size_t at = 0;
  for (; pending.size() - at >= kLiveReportBytes; at += kLiveReportBytes) {
    LiveReport r;
    std::copy_n(pending.begin() + static_cast<std::ptrdiff_t>(at), kLiveReportBytes, r.begin());
    reports->push_back(r);
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool RecordFile::Create(const std::string& path, bool replace, std::string* error) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

void RecordFile::Write(const std::string& text) {
  if (!IsOpen()) return;
  std::size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = write(static_cast<int>(handle_), text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk: the file holds what fitted
    at += static_cast<std::size_t>(n);
  }
}

void RecordFile::Close() {
  if (!IsOpen()) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}

void CatchStopRequests(const LiveOptions&) {
  // A closed terminal (SIGHUP) or a kill (SIGTERM) ends the session as
  // Ctrl-C does.
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);
  // Output to a closed terminal or pipe must not end the session unclean.
  std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
  return g_stop != 0;
}

}  // namespace km4r::bench
