#include <gtest/gtest.h>

#include <cstring>

#include "platform/host_string.h"

namespace km4r::platform {
namespace {

TEST(HostString, CopiesShareOneBlockAndCountOwners) {
  HostString a("abc");
  EXPECT_EQ(a.RefCount(), 1);
  {
    HostString b = a;
    EXPECT_EQ(a.RefCount(), 2);
    EXPECT_EQ(b.c_str(), a.c_str());
  }
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_STREQ(a.c_str(), "abc");
  EXPECT_EQ(a.length(), 3u);
}

TEST(HostString, AssignmentReleasesTheOldText) {
  HostString a("one");
  HostString b("two");
  b = a;
  EXPECT_EQ(a.RefCount(), 2);
  b = "three";
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_STREQ(b.c_str(), "three");
  b = b;  // self-assignment keeps the text
  EXPECT_STREQ(b.c_str(), "three");
}

TEST(HostString, EmptyTextNeedsNoBlock) {
  HostString e;
  EXPECT_STREQ(e.c_str(), "");
  EXPECT_EQ(e.RefCount(), 0);
  HostString f("");
  EXPECT_EQ(f.length(), 0u);
}

TEST(HostString, AssignAtWorksOnUnalignedHostMemory) {
  alignas(8) unsigned char block[32] = {};
  void* slot = block + 4;  // like HostBlockC+1161996: not pointer-aligned
  EXPECT_STREQ(HostString::TextAt(slot), "");
  HostString::EmptyAt(slot);  // a host's field always holds an object
  HostString::AssignAt(slot, " Jog OFF. ");
  EXPECT_STREQ(HostString::TextAt(slot), " Jog OFF. ");
  HostString::AssignAt(slot, "second");
  EXPECT_STREQ(HostString::TextAt(slot), "second");
  HostString::ReleaseAt(slot);
  EXPECT_STREQ(HostString::TextAt(slot), "");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0);
}

#if !defined(_WIN32)
// The bench's own layout (a Windows host's objects are the framework's:
// tests/host_boundary/string_host.cpp).
// Blocks the host owns (its static empty string, a locked buffer) carry a
// count of zero or below: the plug-in never frees them nor writes through
// them; an assignment or a copy gets a block of its own.
TEST(HostString, HostOwnedBlocksAreNeverFreedOrWritten) {
  struct Block {
    int refs, length, capacity, reserved;
    char chars[16];
  };
  const struct {
    const char* name;
    Block block;
  } rows[] = {
      {"static empty, count -1", {-1, 0, 0, 0, ""}},
      {"static empty, count 0", {0, 0, 0, 0, ""}},
      {"locked buffer", {-1, 5, 15, 0, "abcde"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    static Block block;  // static storage: freeing it would fail loudly
    block = row.block;
    alignas(8) unsigned char slot[16] = {};
    char* text = block.chars;
    std::memcpy(slot + 4, &text, sizeof text);

    {
      HostString copy = HostString::Adopt(HostStringObject{text});
      HostString again = copy;
      EXPECT_STREQ(again.c_str(), row.block.chars);
      if (row.block.length > 0) {
        EXPECT_NE(again.c_str(), text) << "a copy of its own";
        EXPECT_EQ(again.RefCount(), 1);
      }
    }  // both released: the host's block stays
    HostString::AssignAt(slot + 4, " Jog OFF. ");
    EXPECT_STREQ(HostString::TextAt(slot + 4), " Jog OFF. ");
    EXPECT_NE(HostString::TextAt(slot + 4), text);
    EXPECT_EQ(block.refs, row.block.refs);
    EXPECT_EQ(block.length, row.block.length);
    EXPECT_STREQ(block.chars, row.block.chars);
    HostString::ReleaseAt(slot + 4);
  }
}
#endif

// How the platform's own compiler passes a HostString by value to an export:
// whichever side destroys the argument, the caller's count is back to one.
const char* TakesByValue(HostStringParam param) {
  static HostString kept;
  kept = HostString::FromParam(param);
  return kept.c_str();
}

TEST(HostString, ByValueArgumentIsReleasedOnce) {
  HostStringArgument arg("profile.xml");
  EXPECT_STREQ(TakesByValue(arg), "profile.xml");
  EXPECT_EQ(arg.Value().RefCount(), 2);  // the callee kept one
  TakesByValue(HostStringArgument("other"));
  EXPECT_EQ(arg.Value().RefCount(), 1);
}

}  // namespace
}  // namespace km4r::platform
