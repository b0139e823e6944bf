#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/host_interface.h"

namespace km4r::host {
namespace {

// Each accessor against the byte offsets of the host's table, on a real
// buffer: write through the accessor or the bytes, read back the other way.
class HostFieldsTest : public ::testing::Test {
 protected:
  std::vector<unsigned char> a = std::vector<unsigned char>(kBlockASize, 0);
  std::vector<unsigned char> b = std::vector<unsigned char>(kBlockBSize, 0);
  std::vector<unsigned char> c = std::vector<unsigned char>(kBlockCSize, 0);
  Blocks blocks{a.data(), b.data(), c.data(), nullptr};

  template <typename T>
  void Put(std::vector<unsigned char>& block, std::size_t at, T v) {
    std::memcpy(block.data() + at, &v, sizeof v);
  }
  template <typename T>
  T Take(const std::vector<unsigned char>& block, std::size_t at) {
    T v;
    std::memcpy(&v, block.data() + at, sizeof v);
    return v;
  }
};

TEST_F(HostFieldsTest, ReadFieldsAtTheirOffsets) {
  Put<int32_t>(a, 163840, 11);
  Put<int32_t>(a, 163844, 12);
  Put<uint8_t>(a, 166367, 1);
  Put<int32_t>(b, 1192, 0x01020304);
  Put<double>(b, 133672, 30.5);
  Put<int32_t>(c, 800092, 21);
  Put<int32_t>(c, 800096, 22);
  Put<double>(c, 801872, 0.001);
  Put<int32_t>(c, 801968, 7);
  for (int axis = 0; axis < kAxisCount; ++axis) {
    Put<int32_t>(c, 801608 + 4 * axis, 1000 + axis);
    Put<int32_t>(c, 801632 + 4 * axis, 2000 + axis);
  }
  EXPECT_EQ(MotionQueueIn(blocks), 11);
  EXPECT_EQ(MotionQueueOut(blocks), 12);
  EXPECT_EQ(ResetIndicator(blocks), 1);
  EXPECT_EQ(DistanceMode(blocks), 0x01020304);
  EXPECT_EQ(RotationAngle(blocks), 30.5);
  EXPECT_EQ(BufferQueueIn(blocks), 21);
  EXPECT_EQ(BufferQueueOut(blocks), 22);
  EXPECT_EQ(StepIncrement(blocks), 0.001);
  EXPECT_EQ(BusyIndicator(blocks), 7);
  for (int axis = 0; axis < kAxisCount; ++axis) {
    EXPECT_EQ(AxisVelocityLimit(blocks, axis), 1000 + axis);
    EXPECT_EQ(AxisJogParam(blocks, axis), 2000 + axis);
  }
}

TEST_F(HostFieldsTest, JogRecordWritesLandAtRecordOffsets) {
  for (int axis = 0; axis < kAxisCount; ++axis) {
    const std::size_t base = 163940 + 96 * axis;
    SetJogSpeed(blocks, axis, 500 + axis);
    SetJogVelocityLimit(blocks, axis, 1000 + axis);
    SetJogParam(blocks, axis, -3 - axis);
    SetJogStopRequest(blocks, axis, 1);
    SetJogStartRequest(blocks, axis, 1);
    SetJogDirection(blocks, axis, 1);
    EXPECT_EQ(Take<int32_t>(a, base + 0), 500 + axis);
    EXPECT_EQ(Take<int32_t>(a, base + 4), 1000 + axis);
    EXPECT_EQ(Take<int32_t>(a, base + 8), -3 - axis);
    EXPECT_EQ(a[base + 14], 1);
    EXPECT_EQ(a[base + 16], 1);
    EXPECT_EQ(Take<int32_t>(a, base + 20), 1);
    // The bytes between and around the written fields are the host's.
    EXPECT_EQ(a[base + 12], 0);
    EXPECT_EQ(a[base + 13], 0);
    EXPECT_EQ(a[base + 15], 0);
    EXPECT_EQ(a[base + 24], 0);
  }
  // The stop-request bytes the decoder writes for axes X to A.
  EXPECT_EQ(JogRecordField(0, offset::kJogStopRequest), 163954u);
  EXPECT_EQ(JogRecordField(1, offset::kJogStopRequest), 164050u);
  EXPECT_EQ(JogRecordField(2, offset::kJogStopRequest), 164146u);
  EXPECT_EQ(JogRecordField(3, offset::kJogStopRequest), 164242u);
}

TEST_F(HostFieldsTest, MissingBlocksReadZeroAndIgnoreWrites) {
  Blocks none{};
  EXPECT_EQ(MotionQueueIn(none), 0);
  EXPECT_EQ(RotationAngle(none), 0.0);
  SetJogSpeed(none, 0, 5);  // must not crash
  EXPECT_EQ(StatusTextSlot(none), nullptr);
}

}  // namespace
}  // namespace km4r::host
