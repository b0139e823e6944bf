// The host application's side of the plug-in boundary: the six callback
// types, the four memory blocks and a typed accessor for every block field the
// plug-in touches. Fields are read and written with memcpy because the host's
// offsets are not aligned for the field types; no other code uses a raw offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace km4r::host {

// Codes are 16-bit; the host passes them in a 32-bit slot and looks only at
// the low half.
using DoButtonFn = void (*)(short code);
using SetDroFn = void (*)(short code, double value);
using GetDroFn = double (*)(short code);
using GetLedFn = bool (*)(short code);
using SetLedFn = void (*)(short code, bool on);
using CodeFn = void (*)(const char* text);

struct Callbacks {
  DoButtonFn doButton = nullptr;
  SetDroFn setDro = nullptr;
  GetDroFn getDro = nullptr;
  GetLedFn getLed = nullptr;
  SetLedFn setLed = nullptr;  // stored, never called
  CodeFn code = nullptr;
};

struct Blocks {
  void* a = nullptr;  // HostBlockA
  void* b = nullptr;  // HostBlockB
  void* c = nullptr;  // HostBlockC
  void* d = nullptr;  // HostBlockD: the host window object, passed on only
};

inline constexpr int kAxisCount = 6;

// The host's name of axis 0 to 5, "X" to "C"; "" for any other index.
constexpr const char* AxisLetter(int axis) {
  constexpr const char* kLetters[kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};
  return axis >= 0 && axis < kAxisCount ? kLetters[axis] : "";
}

// Byte offsets into the blocks.
namespace offset {
inline constexpr std::size_t kMotionQueueIn = 163840;   // A, int32
inline constexpr std::size_t kMotionQueueOut = 163844;  // A, int32
inline constexpr std::size_t kAxisJogRecord = 163940;   // A, 96 bytes per axis
inline constexpr std::size_t kAxisJogRecordSize = 96;
inline constexpr std::size_t kResetIndicator = 166367;     // A, byte
inline constexpr std::size_t kDistanceMode = 1192;         // B, int32
inline constexpr std::size_t kRotationAngle = 133672;      // B, double
inline constexpr std::size_t kBufferQueueIn = 800092;      // C, int32
inline constexpr std::size_t kBufferQueueOut = 800096;     // C, int32
inline constexpr std::size_t kAxisVelocityLimit = 801608;  // C, int32[6]
inline constexpr std::size_t kAxisJogParam = 801632;       // C, int32[6]
inline constexpr std::size_t kStepIncrement = 801872;      // C, double
inline constexpr std::size_t kBusyIndicator = 801968;      // C, int32
inline constexpr std::size_t kStatusText = 1161996;        // C, HostString

// Offsets inside one AxisJogRecord.
inline constexpr std::size_t kJogSpeed = 0;          // int32
inline constexpr std::size_t kJogVelocityLimit = 4;  // int32
inline constexpr std::size_t kJogParam = 8;          // int32
inline constexpr std::size_t kJogStopRequest = 14;   // byte
inline constexpr std::size_t kJogStartRequest = 16;  // byte
inline constexpr std::size_t kJogDirection = 20;     // int32
}  // namespace offset

// Smallest block sizes that hold every field above (a host of our own, such as
// the bench, allocates at least these).
inline constexpr std::size_t kBlockASize = offset::kResetIndicator + 1;
inline constexpr std::size_t kBlockBSize = offset::kRotationAngle + sizeof(double);
inline constexpr std::size_t kBlockCSize = offset::kStatusText + sizeof(void*);

// A missing block reads as zero and swallows writes: a host that calls out of
// order must not crash the plug-in.
template <typename T>
T Load(const void* block, std::size_t at) {
  T value{};
  if (block != nullptr)
    std::memcpy(&value, static_cast<const unsigned char*>(block) + at, sizeof value);
  return value;
}

template <typename T>
void Store(void* block, std::size_t at, T value) {
  if (block != nullptr) std::memcpy(static_cast<unsigned char*>(block) + at, &value, sizeof value);
}

inline std::size_t JogRecordField(int axis, std::size_t field) {
  return offset::kAxisJogRecord + offset::kAxisJogRecordSize * static_cast<std::size_t>(axis) +
         field;
}

// Read-only fields.
inline int32_t MotionQueueIn(const Blocks& b) {
  return Load<int32_t>(b.a, offset::kMotionQueueIn);
}
inline int32_t MotionQueueOut(const Blocks& b) {
  return Load<int32_t>(b.a, offset::kMotionQueueOut);
}
inline uint8_t ResetIndicator(const Blocks& b) {
  return Load<uint8_t>(b.a, offset::kResetIndicator);
}
inline int32_t DistanceMode(const Blocks& b) {
  return Load<int32_t>(b.b, offset::kDistanceMode);
}
inline double RotationAngle(const Blocks& b) {
  return Load<double>(b.b, offset::kRotationAngle);
}
inline int32_t BufferQueueIn(const Blocks& b) {
  return Load<int32_t>(b.c, offset::kBufferQueueIn);
}
inline int32_t BufferQueueOut(const Blocks& b) {
  return Load<int32_t>(b.c, offset::kBufferQueueOut);
}
inline int32_t AxisVelocityLimit(const Blocks& b, int axis) {
  return Load<int32_t>(b.c, offset::kAxisVelocityLimit + 4 * static_cast<std::size_t>(axis));
}
inline int32_t AxisJogParam(const Blocks& b, int axis) {
  return Load<int32_t>(b.c, offset::kAxisJogParam + 4 * static_cast<std::size_t>(axis));
}
inline double StepIncrement(const Blocks& b) {
  return Load<double>(b.c, offset::kStepIncrement);
}
inline int32_t BusyIndicator(const Blocks& b) {
  return Load<int32_t>(b.c, offset::kBusyIndicator);
}

// AxisJogRecord writes.
inline void SetJogSpeed(const Blocks& b, int axis, int32_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogSpeed), v);
}
inline void SetJogVelocityLimit(const Blocks& b, int axis, int32_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogVelocityLimit), v);
}
inline void SetJogParam(const Blocks& b, int axis, int32_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogParam), v);
}
inline void SetJogStopRequest(const Blocks& b, int axis, uint8_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogStopRequest), v);
}
inline void SetJogStartRequest(const Blocks& b, int axis, uint8_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogStartRequest), v);
}
inline void SetJogDirection(const Blocks& b, int axis, int32_t v) {
  Store(b.a, JogRecordField(axis, offset::kJogDirection), v);
}

// Address of the host's status-text string object (written through HostString).
inline void* StatusTextSlot(const Blocks& b) {
  return b.c == nullptr ? nullptr : static_cast<unsigned char*>(b.c) + offset::kStatusText;
}

// Codes the plug-in uses.
namespace code {
inline constexpr short kButtonBackScreen = 323;
inline constexpr short kButtonJogModeBase = 334;
inline constexpr short kButtonAltJogPress = 204;
inline constexpr short kButtonAltJogRelease = 205;
inline constexpr short kButtonZeroX = 1008;
inline constexpr short kButtonEstop = 1021;
inline constexpr short kDroJogRate = 3;
inline constexpr short kDroMoveLimit = 22;
inline constexpr short kDroSpindleRpm = 39;
inline constexpr short kDroFeedShown = 55;
inline constexpr short kDroPDigit = 56;
inline constexpr short kDroSpindleOverride = 74;
inline constexpr short kDroSpindleSpeed = 202;
inline constexpr short kDroAxisPositionBase = 800;
inline constexpr short kDroFeedRate = 818;
inline constexpr short kDroFeedOverride = 821;
inline constexpr short kDroStepSize = 828;
inline constexpr short kLedAltJog = 15;
inline constexpr short kLedJogEnabled = 83;
inline constexpr short kLedReset = 800;
inline constexpr short kLedRun = 804;
inline constexpr short kLedPause = 805;
inline constexpr short kLedRunOverride = 806;
}  // namespace code

}  // namespace km4r::host
