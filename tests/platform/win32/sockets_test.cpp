#include "platform/win32/sockets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace km4r::platform::win32 {
namespace {

// What the fake socket library answers, and what it saw.
struct Fake {
  int result = 0;
  unsigned short granted = 0x0101;
  unsigned short requested = 0;
  int cleanups = 0;
  std::vector<std::string> messages;
};
Fake* g_fake = nullptr;

SocketApi FakeApi() {
  return SocketApi{
      [](unsigned short requested, unsigned short* granted) {
        g_fake->requested = requested;
        *granted = g_fake->granted;
        return g_fake->result;
      },
      [] { ++g_fake->cleanups; },
      [](const char* text) { g_fake->messages.push_back(text); },
  };
}

TEST(Sockets, LoadNeedsVersionOneOne) {
  const struct {
    const char* name;
    int result;
    unsigned short granted;
    bool loads;
    int cleanupsAtStart;  // a granted but unsuitable library is released again
  } rows[] = {
      {"1.1 granted", 0, 0x0101, true, 0},
      {"library missing", 10091 /* WSASYSNOTREADY */, 0, false, 0},
      {"version refused", 10092 /* WSAVERNOTSUPPORTED */, 0, false, 0},
      {"2.2 granted", 0, 0x0202, false, 1},
      {"1.0 granted", 0, 0x0001, false, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Fake fake;
    fake.result = row.result;
    fake.granted = row.granted;
    g_fake = &fake;
    EXPECT_EQ(StartSockets(FakeApi()), row.loads);
    EXPECT_EQ(fake.requested, 0x0101);
    EXPECT_EQ(fake.cleanups, row.cleanupsAtStart);
    if (row.loads) {
      EXPECT_TRUE(fake.messages.empty());
    } else {
      EXPECT_EQ(fake.messages, std::vector<std::string>{"Sockets Init Failed"});
    }
    // Unload releases the library only when the load took it.
    StopSockets(FakeApi());
    EXPECT_EQ(fake.cleanups, row.cleanupsAtStart + (row.loads ? 1 : 0));
    StopSockets(FakeApi());
    EXPECT_EQ(fake.cleanups, row.cleanupsAtStart + (row.loads ? 1 : 0)) << "only once";
    g_fake = nullptr;
  }
}

TEST(Sockets, SystemLibraryGrantsOneOne) {
  unsigned short granted = 0;
  const SocketApi api = SystemSocketApi();
  ASSERT_EQ(api.startup(0x0101, &granted), 0);
  EXPECT_EQ(granted, 0x0101);
  api.cleanup();
}

}  // namespace
}  // namespace km4r::platform::win32
