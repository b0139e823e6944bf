#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/host/in_process_host.h"
#include "pendant/pendant_window.h"
#include "plugin/module_state.h"
#include "tests/support/cycle_rig.h"

namespace km4r {
namespace {

using namespace std::string_view_literals;
using enum JogMode;

// Text the report holds before the composition; a column the screen should
// have written but did not shows up as one of these letters.
constexpr std::string_view kOldLine1 = "abcdefgh";
constexpr std::string_view kOldLine2 = "ijklmnop";
constexpr std::string_view kZeroLine = "\0\0\0\0\0\0\0\0"sv;
constexpr uint8_t kOldReserved = 0xA5;

constexpr uint32_t kEstop = 1u << 29;
constexpr uint32_t kEnable = 1u << 28;
constexpr uint32_t AxisSel(uint32_t pos) {
  return pos << 24;
}

// displayCycle values in each blink half.
constexpr int kFirstHalf = 130;
constexpr int kSecondHalf = 140;

struct ScreenCase {
  const char* name;
  // Pendant state.
  JogMode jogMode = Idle;
  int32_t axisIndex = 0;
  int32_t displayCycle = kSecondHalf;
  uint32_t inputWord0 = 0;
  uint32_t inputWord1 = 0;
  int32_t enableHeld = 0;
  int32_t mode1 = 0;
  int32_t mode2 = 0;
  int32_t mode3 = 0;
  // Module state.
  int16_t decidigit = 2;
  int32_t stepJogRate = 0;
  uint8_t displyRpm = 0;
  int16_t updateSequence = 1;
  int32_t displayPhase = 24;
  int32_t screenCode = 1;
  double shownAxisValue = 0.0;
  const char* positionText = nullptr;
  // Host.
  std::vector<std::pair<int, double>> dros = {};
  std::vector<int> leds = {};
  // Expected report and host reads.
  uint8_t resetByte = 0;
  std::string_view line1 = kOldLine1;
  std::string_view line2 = kOldLine2;
  uint8_t sequenceByte = 1;
  int droCalls = 0;
  int ledCalls = 0;
};

// Readable form of a report: bytes 0 and 1, the two lines, bytes 18-20.
std::string Describe(const uint8_t* r) {
  std::string out = std::to_string(r[0]) + ' ' + std::to_string(r[1]) + " '";
  for (int i = 2; i < 18; ++i) {
    if (i == 10) out += "' '";
    const bool printable = r[i] >= 0x20 && r[i] < 0x7F;
    out += printable ? std::string(1, static_cast<char>(r[i])) : "\\" + std::to_string(r[i]);
  }
  return out + "' " + std::to_string(r[18]) + ' ' + std::to_string(r[19]) + ' ' +
         std::to_string(r[20]);
}

// The composition alone on a decoded state set directly: in a full cycle the
// cycles before would already have written the columns a screen must leave.
class ComposeScreens : public testing::TestWithParam<ScreenCase> {};

TEST_P(ComposeScreens, WholeReport) {
  const ScreenCase& c = GetParam();
  ASSERT_EQ(c.line1.size(), 8u);
  ASSERT_EQ(c.line2.size(), 8u);
  sim::InProcessHost host;
  for (auto [code, value] : c.dros) host.dro[code] = value;
  for (int code : c.leds) host.led[code] = true;

  ModuleState& m = Module();
  m.settings.Decidigit = c.decidigit;
  m.settings.StepJogRate = c.stepJogRate;
  m.settings.DisplyRPM = c.displyRpm;
  m.ticks.UpdateSequence = c.updateSequence;
  m.ticks.DisplayPhase = c.displayPhase;
  m.currentScreenCode = c.screenCode;
  m.shownAxisValue = c.shownAxisValue;
  if (c.positionText != nullptr) std::snprintf(m.positionText, 16, "%s", c.positionText);

  PendantWindow w;
  w.jogMode = c.jogMode;
  w.axisIndex = c.axisIndex;
  w.displayCycle = c.displayCycle;
  w.inputWord0 = c.inputWord0;
  w.inputWord1 = c.inputWord1;
  w.enableHeld = c.enableHeld;
  w.mode1Active = c.mode1;
  w.mode2Active = c.mode2;
  w.mode3Active = c.mode3;
  w.outputReport[0] = 0x7E;
  w.outputReport[1] = 0x7E;
  std::memcpy(w.outputReport + 2, kOldLine1.data(), 8);
  std::memcpy(w.outputReport + 10, kOldLine2.data(), 8);
  w.outputReport[18] = 0x7E;
  w.outputReport[19] = w.outputReport[20] = kOldReserved;

  w.ComposeDisplay();

  uint8_t expected[kOutputReportSize] = {};
  expected[1] = c.resetByte;
  std::memcpy(expected + 2, c.line1.data(), 8);
  std::memcpy(expected + 10, c.line2.data(), 8);
  expected[18] = c.sequenceByte;
  expected[19] = expected[20] = kOldReserved;
  EXPECT_EQ(Describe(w.outputReport), Describe(expected));

  EXPECT_EQ(host.getDroCalls, c.droCalls);
  EXPECT_EQ(host.getLedCalls, c.ledCalls);
  EXPECT_LE(host.getLedCalls, 4);
  EXPECT_LE(host.getDroCalls + host.getLedCalls, 6);
  EXPECT_TRUE(host.calls.empty()) << "the display only reads the host";
}

// Step-jog screen showing the step size: X at 12.3456, step 0.001.
const std::vector<std::pair<int, double>> kStepJogHost = {{800, 12.3456}, {828, 0.001}};

// clang-format off
const ScreenCase kScreens[] = {
    // Bytes 0, 1 and 18; E-STOP and Reset.
    {.name = "WorkedExample", .jogMode = StepJog, .displayCycle = 100, .updateSequence = 37,
     .dros = kStepJogHost, .line1 = "X  .0010", .line2 = "+12.3456", .sequenceByte = 37,
     .droCalls = 2, .ledCalls = 4},
    {.name = "SequenceByteAt255", .updateSequence = 255, .sequenceByte = 255, .ledCalls = 2},
    {.name = "EstopWinsOverReset", .jogMode = StepJog, .displayCycle = kFirstHalf,
     .inputWord0 = kEstop, .leds = {800}, .resetByte = 1, .line1 = " E-STOP ", .line2 = " E-STOP ",
     .ledCalls = 1},
    {.name = "EstopSecondHalfBlank", .jogMode = StepJog, .inputWord0 = kEstop,
     .line1 = "        ", .line2 = "        ", .ledCalls = 1},
    {.name = "EstopWinsOverScreenPage", .jogMode = ScreenSelect, .displayCycle = 0,
     .inputWord0 = kEstop | kEnable, .enableHeld = 1, .mode3 = 1, .line1 = " E-STOP ",
     .line2 = " E-STOP ", .ledCalls = 1},
    {.name = "ResetFirstHalf", .jogMode = StepJog, .displayCycle = kFirstHalf, .leds = {800},
     .resetByte = 1, .line1 = "  Reset ", .line2 = "  Reset ", .ledCalls = 2},
    {.name = "ResetSecondHalfBlank", .jogMode = AxisZero, .leds = {800}, .resetByte = 1,
     .line1 = "        ", .line2 = "        ", .ledCalls = 2},
    {.name = "IdleLeavesText", .updateSequence = 200, .sequenceByte = 200, .ledCalls = 2},
    {.name = "UnknownModeLeavesText", .jogMode = static_cast<JogMode>(7), .ledCalls = 2},

    // Axis screens: letter blink, position digits, pause sign, run animation.
    {.name = "DecidigitZero", .jogMode = VelocityJog, .decidigit = 0, .dros = {{800, 12.3456}},
     .line1 = "X    Vel", .line2 = "  +12.34", .droCalls = 1, .ledCalls = 4},
    {.name = "DecidigitOne", .jogMode = VelocityJog, .decidigit = 1, .dros = {{800, 12.3456}},
     .line1 = "X    Vel", .line2 = " +12.345", .droCalls = 1, .ledCalls = 4},
    {.name = "DecidigitTwoNegative", .jogMode = VelocityJog, .axisIndex = 2,
     .dros = {{802, -0.5}, {800, 9}}, .line1 = "Z    Vel", .line2 = " -0.5000", .droCalls = 1,
     .ledCalls = 4},
    {.name = "DecidigitOutOfRangeKeepsText", .jogMode = VelocityJog, .decidigit = 3,
     .positionText = "PREVIOUS", .dros = {{800, 5}}, .line1 = "X    Vel", .line2 = "PREVIOUS",
     .droCalls = 1, .ledCalls = 4},
    {.name = "DecidigitNegativeNeverFormatted", .jogMode = VelocityJog, .decidigit = -1,
     .dros = {{800, 5}}, .line1 = "X    Vel", .line2 = kZeroLine, .droCalls = 1, .ledCalls = 4},
    {.name = "PositionHugeCut", .jogMode = VelocityJog, .dros = {{800, 1e12}},
     .line1 = "X    Vel", .line2 = "+1000000", .droCalls = 1, .ledCalls = 4},
    {.name = "PositionMaxDoubleCut", .jogMode = VelocityJog, .decidigit = 0,
     .dros = {{800, -1e308}}, .line1 = "X    Vel", .line2 = "-1000000", .droCalls = 1,
     .ledCalls = 4},
    {.name = "AxisOutOfRangeFetchesNothing", .jogMode = VelocityJog, .axisIndex = 6,
     .shownAxisValue = 3.5, .dros = {{806, 99}}, .line1 = "     Vel", .line2 = " +3.5000",
     .ledCalls = 4},
    {.name = "PauseSignSecondHalf", .jogMode = StepJog, .dros = kStepJogHost, .leds = {805},
     .line1 = "X     ||", .line2 = "+12.3456", .droCalls = 1, .ledCalls = 4},
    {.name = "PauseSignFirstHalf", .jogMode = RateJog, .displayCycle = kFirstHalf,
     .dros = kStepJogHost, .leds = {805}, .line1 = "        ", .line2 = "+12.3456",
     .droCalls = 1, .ledCalls = 4},
    {.name = "RunAnimationWinsOverPause", .jogMode = StepJog, .displayPhase = 21,
     .dros = kStepJogHost, .leds = {804, 805}, .line1 = "X   >   ", .line2 = "+12.3456",
     .droCalls = 1, .ledCalls = 3},

    // Step size or feed on the step-jog screen.
    {.name = "StepSizeAt81", .jogMode = StepJog, .displayCycle = 81, .dros = kStepJogHost,
     .line1 = "   .0010", .line2 = "+12.3456", .droCalls = 2, .ledCalls = 4},
    {.name = "FeedAt80", .jogMode = StepJog, .displayCycle = 80,
     .dros = {{800, 12.3456}, {818, 1500}}, .line1 = "  1500/M", .line2 = "+12.3456",
     .droCalls = 2, .ledCalls = 4},
    {.name = "StepSizeTenthousandth", .jogMode = StepJog, .dros = {{828, 0.0001}},
     .line1 = "X  .0001", .line2 = " +0.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "StepSizeTen", .jogMode = StepJog, .dros = {{828, 10}}, .line1 = "X 10.000",
     .line2 = " +0.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "FeedFromHost50", .jogMode = StepJog, .displayCycle = 70, .dros = {{818, 50}},
     .line1 = "X 50.0/M", .line2 = " +0.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "FeedExactly100", .jogMode = StepJog, .displayCycle = 70, .dros = {{818, 100.0}},
     .line1 = "X  100/M", .line2 = " +0.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "FeedJustBelow100", .jogMode = StepJog, .displayCycle = 70, .dros = {{818, 99.95}},
     .line1 = "X100.0/M", .line2 = " +0.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "FeedFromSetting", .jogMode = StepJog, .displayCycle = 70, .stepJogRate = 250,
     .dros = {{818, 1500}}, .line1 = "X  250/M", .line2 = " +0.0000", .droCalls = 1,
     .ledCalls = 4},

    // Rate jog and the override screens.
    {.name = "RateJog", .jogMode = RateJog, .axisIndex = 3, .dros = {{803, 90}, {3, 25}},
     .line1 = "A  25.0%", .line2 = "+90.0000", .droCalls = 2, .ledCalls = 4},
    {.name = "ContinuousRate", .jogMode = JogRateAdjust, .dros = {{3, 37.5}},
     .line1 = "CON'T   ", .line2 = "   37.5%", .droCalls = 1, .ledCalls = 2},
    {.name = "FeedOverride", .jogMode = FeedOverrideAdjust, .dros = {{821, 120}, {55, 1234.5}},
     .line1 = "FRO 120%", .line2 = " 1234.50", .droCalls = 2, .ledCalls = 2},
    {.name = "SpindleOverrideRpm", .jogMode = SpindleOverrideAdjust, .displyRpm = 1,
     .dros = {{74, 95}, {39, 1200}, {202, 7}, {56, 7}}, .line1 = "Sov  95%",
     .line2 = "1200 RPM", .droCalls = 2, .ledCalls = 2},
    {.name = "SpindleOverrideValueAndDigit", .jogMode = SpindleOverrideAdjust,
     .dros = {{74, 150}, {39, 7}, {202, 3000}, {56, 2}}, .line1 = "Sov 150%",
     .line2 = " 3000 P2", .droCalls = 3, .ledCalls = 2},
    {.name = "SpindleDigitCutToOne", .jogMode = SpindleOverrideAdjust,
     .dros = {{74, 100}, {202, 12}, {56, 34}}, .line1 = "Sov 100%", .line2 = "   12 P3",
     .droCalls = 3, .ledCalls = 2},
    {.name = "StepsizeScreen", .jogMode = StepSizeSelect, .dros = {{828, 0.001}},
     .line1 = "Stepsize", .line2 = "  0.0010", .droCalls = 1, .ledCalls = 2},
    {.name = "StepsizeScreenLarge", .jogMode = StepSizeSelect, .dros = {{828, 1e308}},
     .line1 = "Stepsize", .line2 = "  100000", .droCalls = 1, .ledCalls = 2},
    {.name = "StepsizeScreenInfinite", .jogMode = StepSizeSelect,
     .dros = {{828, std::numeric_limits<double>::infinity()}}, .line1 = "Stepsize",
     .line2 = "  inf   ", .droCalls = 1, .ledCalls = 2},

    // Zero screen.
    {.name = "ZeroMarkerBelowTolerance", .jogMode = AxisZero, .axisIndex = 1,
     .displayCycle = kFirstHalf, .dros = {{801, 0.000005}}, .line1 = "Zero  Y ",
     .line2 = " +0.0000", .droCalls = 1, .ledCalls = 2},
    {.name = "ZeroMarkerFirstHalf", .jogMode = AxisZero, .axisIndex = 1,
     .displayCycle = kFirstHalf, .dros = {{801, 0.00002}}, .line1 = "Zero  Y?",
     .line2 = " +0.0000", .droCalls = 1, .ledCalls = 2},
    {.name = "ZeroMarkerNegative", .jogMode = AxisZero, .axisIndex = 3,
     .displayCycle = kFirstHalf, .dros = {{803, -0.00002}}, .line1 = "Zero  A?",
     .line2 = " -0.0000", .droCalls = 1, .ledCalls = 2},
    {.name = "ZeroMarkerSecondHalf", .jogMode = AxisZero, .axisIndex = 1,
     .dros = {{801, 0.00002}}, .line1 = "Zero  Y ", .line2 = " +0.0000", .droCalls = 1,
     .ledCalls = 2},
    {.name = "ZeroAxisBRepeatsLastPosition", .jogMode = AxisZero, .axisIndex = 4,
     .displayCycle = kFirstHalf, .shownAxisValue = 7.5, .dros = {{804, 1}},
     .line1 = "Zero    ", .line2 = " +7.5000", .ledCalls = 2},

    // Screen page and offline page.
    {.name = "Mode2AxisSelectorAbove3", .jogMode = FeedOverrideAdjust,
     .inputWord0 = kEnable | AxisSel(4), .enableHeld = 1, .mode2 = 1, .screenCode = 2,
     .line1 = "Screen  ", .line2 = "MDI     ", .droCalls = 2, .ledCalls = 2},
    {.name = "Mode2AxisSelector3Offline", .jogMode = StepJog, .inputWord0 = kEnable | AxisSel(3),
     .inputWord1 = 6, .enableHeld = 1, .mode2 = 1, .dros = kStepJogHost, .line1 = "MPG     ",
     .line2 = "Offline ", .droCalls = 2, .ledCalls = 4},
    {.name = "Mode1StepSelectorAbove3", .jogMode = JogRateAdjust,
     .inputWord0 = kEnable | AxisSel(1), .inputWord1 = 4, .enableHeld = 1, .mode1 = 1,
     .screenCode = 3, .line1 = "Screen  ", .line2 = "ToolPath", .droCalls = 1, .ledCalls = 2},
    {.name = "Mode1StepSelector3Offline", .jogMode = RateJog, .inputWord0 = kEnable | AxisSel(6),
     .inputWord1 = 3, .enableHeld = 1, .mode1 = 1, .line1 = "MPG     ", .line2 = "Offline ",
     .droCalls = 2, .ledCalls = 4},
    {.name = "Mode1StepSelectorIgnoresBit7", .jogMode = Idle, .inputWord1 = 0x83, .enableHeld = 1,
     .mode1 = 1, .line1 = "MPG     ", .line2 = "Offline ", .ledCalls = 2},
    {.name = "Mode3WithoutEnable", .jogMode = ScreenSelect, .mode3 = 1, .screenCode = 5,
     .line1 = "Screen  ", .line2 = "Diagnost", .ledCalls = 2},
    {.name = "Mode3WithEnableOffline", .jogMode = ScreenSelect, .inputWord0 = kEnable,
     .enableHeld = 1, .mode3 = 1, .line1 = "MPG     ", .line2 = "Offline ", .ledCalls = 2},
    {.name = "Mode3IdleWithoutEnableUntouched", .jogMode = Idle, .mode3 = 1, .ledCalls = 2},
    {.name = "ScreenProgRun", .jogMode = ScreenSelect, .mode3 = 1, .screenCode = 1,
     .line1 = "Screen  ", .line2 = "Prog Run", .ledCalls = 2},
    {.name = "ScreenSettings", .jogMode = ScreenSelect, .mode3 = 1, .screenCode = 6,
     .line1 = "Screen  ", .line2 = "Settings", .ledCalls = 2},
    {.name = "ScreenOffsets", .jogMode = ScreenSelect, .mode3 = 1, .screenCode = 7,
     .line1 = "Screen  ", .line2 = "OffSets ", .ledCalls = 2},
    {.name = "UnlistedScreenKeepsText", .jogMode = ScreenSelect, .mode3 = 1, .screenCode = 4,
     .line1 = "Screen  ", .ledCalls = 2},
    {.name = "UnlistedScreenKeepsComposedLine2", .jogMode = JogRateAdjust,
     .inputWord0 = kEnable, .inputWord1 = 4, .enableHeld = 1, .mode1 = 1, .screenCode = 0,
     .dros = {{3, 55.5}}, .line1 = "Screen  ", .line2 = "   55.5%", .droCalls = 1,
     .ledCalls = 2},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Display, ComposeScreens, testing::ValuesIn(kScreens),
                         [](const testing::TestParamInfo<ScreenCase>& info) {
                           return std::string(info.param.name);
                         });

std::string Text(const std::vector<uint8_t>& report, int from, int n) {
  return std::string(reinterpret_cast<const char*>(report.data() + from), n);
}

// Columns 2-7 of the axis screen while the host runs, by DisplayPhase.
TEST(ComposeDisplay, RunAnimationFollowsDisplayPhase) {
  const struct {
    int32_t phase;
    const char* arrow;
  } kPhases[] = {
      {100, "  >   "}, {24, "  >   "}, {21, "  >   "}, {20, "  >>  "},
      {16, "  >>  "},  {15, "  >>> "}, {11, "  >>> "}, {10, "  >>>>"},
      {6, "  >>>>"},   {5, "      "},  {0, "      "},
  };
  for (const auto& p : kPhases) {
    test::CycleRig b;
    b.Select(RateJog);
    b.host.led[804] = true;
    Module().ticks.DisplayPhase = p.phase;
    b.Run(0, 0);  // the second cycle: the second half of the blink
    EXPECT_EQ(Text(b.Output(), 4, 6), p.arrow) << "DisplayPhase " << p.phase;
    EXPECT_EQ(b.host.getDroCalls, 1) << "only the axis position is read";
  }
}

// The position and its text survive between cycles and screens.
TEST(ComposeDisplay, PositionPersistsAcrossCycles) {
  test::CycleRig b;
  Module().settings.Decidigit = 2;
  b.host.dro[800] = 4.25;
  b.Select(AxisZero);
  EXPECT_EQ(Module().shownAxisValue, 4.25);
  EXPECT_STREQ(Module().positionText, " +4.2500");

  // Axis B is not fetched by the Zero screen: the X reading stays.
  b.host.dro[804] = -9;
  b.Select(AxisZero, 4);
  EXPECT_EQ(Module().shownAxisValue, 4.25);
  EXPECT_EQ(Text(b.Output(), 10, 8), " +4.2500");

  // A new digits setting re-formats the kept value.
  Module().settings.Decidigit = 0;
  b.Run(0, 0);
  EXPECT_EQ(Text(b.Output(), 10, 8), "   +4.25");

  // An unusable setting freezes the text even when the value moves.
  Module().settings.Decidigit = 5;
  b.host.dro[800] = 1;
  b.Select(AxisZero);
  EXPECT_EQ(Module().shownAxisValue, 1.0);
  EXPECT_EQ(Text(b.Output(), 10, 8), "   +4.25");
}

TEST(ComposeDisplay, HugePositionsNeverOverflowThePositionText) {
  const struct {
    double value;
    int16_t digits;
    const char* prefix;
  } kValues[] = {
      {1e12, 2, "+1000000000000.0000"},
      {1e308, 0, "+100000000000000001097906362944045541740"},
      {-1.7976931348623157e308, 1, "-179769313486231570814527423731704356798"},
  };
  for (const auto& v : kValues) {
    test::CycleRig b;
    Module().settings.Decidigit = v.digits;
    b.host.dro[800] = v.value;
    b.Select(VelocityJog);
    const char* text = Module().positionText;
    const std::size_t len =
        static_cast<std::size_t>(std::find(text, text + sizeof Module().positionText, '\0') - text);
    EXPECT_EQ(len, std::min(std::strlen(v.prefix), sizeof Module().positionText - 1)) << v.value;
    EXPECT_EQ(std::string(text, len), std::string(v.prefix).substr(0, len)) << v.value;
    const std::vector<uint8_t> out = b.Output();
    EXPECT_EQ(Text(out, 10, 8), std::string(v.prefix).substr(0, 8));
    EXPECT_EQ(Module().shownAxisValue, v.value);
    EXPECT_EQ(out[19], 0);
    EXPECT_EQ(out[20], 0);
  }
}

}  // namespace
}  // namespace km4r
