// Report I/O of the Linux device layer against a socket pair standing in for
// the hidraw node (SOCK_SEQPACKET keeps one report per read, as hidraw does).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/hidraw_io.h"

namespace km4r::platform::hidraw {
namespace {

using Bytes = std::vector<uint8_t>;

class FakeNode : public ::testing::Test {
 protected:
  FakeNode() {
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    node = fds[0];
    device = fds[1];
    fcntl(node, F_SETFL, fcntl(node, F_GETFL) | O_NONBLOCK);
  }
  ~FakeNode() override {
    if (node >= 0) close(node);
    if (device >= 0) close(device);
  }
  void Send(const Bytes& b) { ASSERT_EQ(write(device, b.data(), b.size()), ssize_t(b.size())); }

  int node = -1;    // the plug-in's side
  int device = -1;  // the pendant's side
};

TEST(PlaceReport, IdByteInFrontWhenTheDeviceHasNone) {
  struct Case {
    const char* name;
    Bytes data;
    ReportIds ids;
    Bytes expected;  // 8-byte layout
  };
  const std::vector<Case> cases = {
      {"unnumbered 7 bytes", {1, 2, 3, 4, 5, 6, 7}, ReportIds::None, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"numbered 8 bytes", {3, 1, 2, 3, 4, 5, 6, 7}, ReportIds::Numbered, {3, 1, 2, 3, 4, 5, 6, 7}},
      {"unknown, one short", {1, 2, 3, 4, 5, 6, 7}, ReportIds::Unknown, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"unknown, full", {9, 1, 2, 3, 4, 5, 6, 7}, ReportIds::Unknown, {9, 1, 2, 3, 4, 5, 6, 7}},
      {"unnumbered too long",
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       ReportIds::None,
       {0, 1, 2, 3, 4, 5, 6, 7}},
      {"unnumbered short", {1, 2}, ReportIds::None, {0, 1, 2, 0, 0, 0, 0, 0}},
      {"numbered short", {4, 1}, ReportIds::Numbered, {4, 1, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    Bytes out(8, 0xEE);
    PlaceReport(c.data.data(), c.data.size(), c.ids, out.data(), out.size());
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(ReportIdsFromDescriptor, FindsReportIdItems) {
  struct Case {
    const char* name;
    Bytes descriptor;
    ReportIds expected;
  };
  const std::vector<Case> cases = {
      {"vendor page, no ids",
       {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x95, 0x07, 0x09, 0x01, 0x81, 0x02, 0xC0},
       ReportIds::None},
      {"one id",
       {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x01, 0xC0},
       ReportIds::Numbered},
      // 0x85 inside item data is not an item.
      {"0x85 as data", {0x26, 0x85, 0x00, 0x75, 0x08, 0xC0}, ReportIds::None},
      {"long item skipped", {0xFE, 0x02, 0x10, 0x85, 0x85, 0xC0}, ReportIds::None},
      {"four-byte item", {0x27, 0x85, 0x85, 0x85, 0x85, 0xC0}, ReportIds::None},
      {"empty", {}, ReportIds::Unknown},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReportIdsFromDescriptor(c.descriptor.data(), c.descriptor.size()), c.expected)
        << c.name;
}

// The ids an arrival is checked by: from udev's HID_ID text, and from the node
// itself, which a descriptor of anything else does not answer.
TEST(DeviceIds, FromHidIdTextAndFromTheNode) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t vendor, product;
  };
  const std::vector<Case> cases = {
      {"0003:000004D8:0000FCE7", true, 0x04D8, 0xFCE7},  // the pendant on USB
      {"0003:0000046D:0000C31C", true, 0x046D, 0xC31C},  // a keyboard
      {"0005:000004D8:0000FCE7", true, 0x04D8, 0xFCE7},  // over Bluetooth
      {"0003:000104D8:0000FCE7", false, 0, 0},           // beyond 16 bits
      {"0003:000004D8", false, 0, 0},
      {"0003:000004D8:0000FCE7 extra", false, 0, 0},
      {"", false, 0, 0},
      {nullptr, false, 0, 0},
  };
  for (const Case& c : cases) {
    uint16_t vendor = 0, product = 0;
    EXPECT_EQ(ParseHidId(c.text, &vendor, &product), c.ok) << (c.text ? c.text : "null");
    EXPECT_EQ(vendor, c.vendor);
    EXPECT_EQ(product, c.product);
  }
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
  uint16_t vendor = 0, product = 0;
  EXPECT_FALSE(ReadDeviceIds(fds[0], &vendor, &product));
  EXPECT_FALSE(ReadDeviceIds(-1, &vendor, &product));
  close(fds[0]);
  close(fds[1]);
}

TEST_F(FakeNode, ReadTakesOneReportAndPrefixesIt) {
  Bytes report(8, 0xEE);
  EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::NotYet);
  EXPECT_EQ(report, Bytes(8, 0xEE));  // untouched when nothing came
  Send({1, 2, 3, 4, 5, 6, 7});
  Send({8, 9, 10, 11, 12, 13, 14});
  EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::Report);
  EXPECT_EQ(report, (Bytes{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::Report);
  EXPECT_EQ(report, (Bytes{0, 8, 9, 10, 11, 12, 13, 14}));
  // A report of another length is taken and dropped, the last one left standing.
  for (const Bytes& wrong : {Bytes{1, 2, 3}, Bytes{1, 2, 3, 4, 5, 6, 7, 8}}) {
    Send(wrong);
    EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::Malformed);
    EXPECT_EQ(report, (Bytes{0, 8, 9, 10, 11, 12, 13, 14}));
  }
  EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::NotYet);
  close(device);
  device = -1;
  EXPECT_EQ(ReadReport(node, ReportIds::None, report.data(), 8), ReadOutcome::Failed);
}

TEST_F(FakeNode, WaitIsBoundedAndALateReportComesOnTheNextWait) {
  Bytes report(8, 0);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitReport(node, 5, ReportIds::None, report.data(), 8), ReadOutcome::NotYet);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4));
  EXPECT_EQ(report, Bytes(8, 0));
  // The pendant answers once the first wait has given up, while the next waits.
  std::thread pendant([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Send({7, 7, 7, 7, 7, 7, 7});
  });
  EXPECT_EQ(WaitReport(node, 10000, ReportIds::None, report.data(), 8), ReadOutcome::Report);
  EXPECT_EQ(report, (Bytes{0, 7, 7, 7, 7, 7, 7, 7}));
  pendant.join();
}

TEST_F(FakeNode, WaitFailsWhenTheDeviceHasGone) {
  close(device);
  device = -1;
  Bytes report(8, 0);
  EXPECT_EQ(WaitReport(node, 5, ReportIds::None, report.data(), 8), ReadOutcome::Failed);
  EXPECT_EQ(WaitReport(-1, 5, ReportIds::None, report.data(), 8), ReadOutcome::Failed);
}

TEST_F(FakeNode, WriteSendsTheWholeReport) {
  Bytes out(21);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 3);
  EXPECT_TRUE(WriteReport(node, out.data(), out.size()));
  Bytes got(64, 0);
  ASSERT_EQ(read(device, got.data(), got.size()), 21);
  got.resize(21);
  EXPECT_EQ(got, out);
  close(device);
  device = -1;
  EXPECT_FALSE(WriteReport(node, out.data(), out.size()));
  EXPECT_FALSE(WriteReport(-1, out.data(), out.size()));
}

}  // namespace
}  // namespace km4r::platform::hidraw
