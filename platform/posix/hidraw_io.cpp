#include "platform/posix/hidraw_io.h"

#include <errno.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace km4r::platform::hidraw {

namespace {

// hidraw hands out at most this much per report.
constexpr std::size_t kMaxRead = 4096;
constexpr uint8_t kLongItem = 0xFE;
constexpr uint8_t kReportIdItem = 0x84;  // global item, tag 8, size bits masked

// Whether n bytes read lack the id byte of the layout of len bytes.
bool LacksId(std::size_t n, ReportIds ids, std::size_t len) {
  return ids == ReportIds::None || (ids == ReportIds::Unknown && n + 1 == len);
}

}  // namespace

ReportIds ReportIdsFromDescriptor(const uint8_t* descriptor, std::size_t len) {
  if (descriptor == nullptr || len == 0) return ReportIds::Unknown;
  std::size_t i = 0;
  while (i < len) {
    const uint8_t prefix = descriptor[i];
    if (prefix == kLongItem) {
      if (i + 1 >= len) break;
      i += 3 + descriptor[i + 1];
      continue;
    }
    const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if ((prefix & 0xFC) == kReportIdItem) return ReportIds::Numbered;
    i += 1 + size;
  }
  return ReportIds::None;
}

void PlaceReport(const uint8_t* data, std::size_t n, ReportIds ids, uint8_t* report,
                 std::size_t len) {
  if (report == nullptr || len == 0) return;
  const bool prefix = LacksId(n, ids, len);
  std::memset(report, 0, len);
  if (prefix) {
    std::memcpy(report + 1, data, std::min(n, len - 1));
  } else {
    std::memcpy(report, data, std::min(n, len));
  }
}

bool ReadDeviceIds(int fd, uint16_t* vendorId, uint16_t* productId) {
  hidraw_devinfo info{};
  if (fd < 0 || ::ioctl(fd, HIDIOCGRAWINFO, &info) != 0) return false;
  *vendorId = static_cast<uint16_t>(info.vendor);
  *productId = static_cast<uint16_t>(info.product);
  return true;
}

bool ParseHidId(const char* text, uint16_t* vendorId, uint16_t* productId) {
  unsigned bus = 0, vendor = 0, product = 0;
  char end = 0;
  if (text == nullptr || std::sscanf(text, "%x:%x:%x%c", &bus, &vendor, &product, &end) != 3)
    return false;
  if (vendor > 0xFFFF || product > 0xFFFF) return false;
  *vendorId = static_cast<uint16_t>(vendor);
  *productId = static_cast<uint16_t>(product);
  return true;
}

ReadOutcome ReadReport(int fd, ReportIds ids, uint8_t* report, std::size_t len) {
  uint8_t buffer[kMaxRead];
  ssize_t n;
  do {
    n = ::read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    const auto got = static_cast<std::size_t>(n);
    if (got + (LacksId(got, ids, len) ? 1 : 0) != len) return ReadOutcome::Malformed;
    PlaceReport(buffer, got, ids, report, len);
    return ReadOutcome::Report;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadOutcome::NotYet;
  // 0 is end of file: whatever stood for the device has closed.
  return ReadOutcome::Failed;
}

ReadOutcome WaitReport(int fd, uint32_t timeoutMs, ReportIds ids, uint8_t* report,
                       std::size_t len) {
  if (fd < 0) return ReadOutcome::Failed;  // poll would skip it and just time out
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
  if (ready == 0) return ReadOutcome::NotYet;
  if (ready < 0) return errno == EINTR ? ReadOutcome::NotYet : ReadOutcome::Failed;
  if ((p.revents & POLLIN) != 0) return ReadReport(fd, ids, report, len);
  return ReadOutcome::Failed;  // POLLERR, POLLHUP, POLLNVAL: the device is gone
}

bool WriteReport(int fd, const uint8_t* report, std::size_t len) {
  ssize_t n;
  do {
    n = ::write(fd, report, len);
  } while (n < 0 && errno == EINTR);
  return n >= 0 && static_cast<std::size_t>(n) == len;
}

}  // namespace km4r::platform::hidraw
