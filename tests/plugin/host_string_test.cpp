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
  HostString::AssignAt(slot, " Jog OFF. ");
  EXPECT_STREQ(HostString::TextAt(slot), " Jog OFF. ");
  HostString::AssignAt(slot, "second");
  EXPECT_STREQ(HostString::TextAt(slot), "second");
  HostString::ReleaseAt(slot);
  EXPECT_STREQ(HostString::TextAt(slot), "");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0);
}

}  // namespace
}  // namespace km4r::platform
