#include <gtest/gtest.h>

#include <string>

#include "bench/scenario_parser.h"
#include "plugin/host_interface.h"

namespace km4r::bench {
namespace {

// Parses one line that must be valid and yields exactly one command.
Command One(const std::string& line) {
  const ParseResult r = ParseScenario(line);
  EXPECT_TRUE(r.ok) << line << ": " << r.error;
  EXPECT_EQ(r.commands.size(), 1u) << line;
  return r.commands.empty() ? Command{} : r.commands[0];
}

TEST(ScenarioParser, EachCommandFormGivesItsKind) {
  const struct {
    const char* line;
    CommandKind kind;
  } rows[] = {
      {"profile StepSize1 3", CommandKind::Profile},
      {"start", CommandKind::Start},
      {"config", CommandKind::Config},
      {"stop", CommandKind::Stop},
      {"pendant absent", CommandKind::PendantAbsent},
      {"unplug", CommandKind::Unplug},
      {"plug-other", CommandKind::PlugOther},
      {"report 00 01 02 03 04 05 06 07", CommandKind::Report},
      {"latency 3", CommandKind::Latency},
      {"led 83 on", CommandKind::Led},
      {"dro 818 1500", CommandKind::Dro},
      {"field busyIndicator 1", CommandKind::Field},
      {"cycle", CommandKind::Cycle},
      {"update 4", CommandKind::Update},
      {"machine on", CommandKind::Machine},
      {"tick 3", CommandKind::Tick},
      {"machine follow-step-size on", CommandKind::MachineFollow},
      {"show display", CommandKind::ShowDisplay},
      {"show report", CommandKind::ShowReport},
      {"show jog 5", CommandKind::ShowJog},
      {"show status", CommandKind::ShowStatus},
      {"show dro 800", CommandKind::ShowDro},
      {"show profile", CommandKind::ShowProfile},
  };
  for (const auto& row : rows) EXPECT_EQ(One(row.line).kind, row.kind) << row.line;
}

TEST(ScenarioParser, ArgumentsAreDecoded) {
  Command c = One("report 00 ff 1A 81 7f 00 00 C0");
  const std::array<uint8_t, 8> bytes = {0x00, 0xFF, 0x1A, 0x81, 0x7F, 0x00, 0x00, 0xC0};
  EXPECT_EQ(c.bytes, bytes);

  EXPECT_EQ(One("cycle").number, 1);
  EXPECT_EQ(One("cycle 40").number, 40);
  EXPECT_EQ(One("update").number, 1);
  EXPECT_EQ(One("update 0").number, 0);
  EXPECT_EQ(One("latency 7").number, 7);

  c = One("led 800 off");
  EXPECT_EQ(c.number, 800);
  EXPECT_FALSE(c.on);
  EXPECT_TRUE(One("led 15 on").on);
  EXPECT_TRUE(One("machine on").on);
  EXPECT_FALSE(One("machine off").on);

  c = One("dro 821 -12.5e1");
  EXPECT_EQ(c.number, 821);
  EXPECT_DOUBLE_EQ(c.value, -125.0);

  c = One("profile StepJogRate 12abc");
  EXPECT_EQ(c.key, "StepJogRate");
  EXPECT_EQ(c.text, "12abc");
  EXPECT_EQ(One("profile DisplyRPM \"\"").text, "");

  EXPECT_EQ(One("show jog 0").number, 0);
  EXPECT_EQ(One("show jog x").number, 0);
  EXPECT_EQ(One("show jog C").number, 5);
  EXPECT_EQ(One("show dro 3").number, 3);
}

TEST(ScenarioParser, FieldsMapToTheirBlockOffsetAndType) {
  namespace off = host::offset;
  const struct {
    const char* line;
    FieldBlock block;
    std::size_t offset;
    FieldType type;
    int index;
    int64_t intValue;
    double value;
  } rows[] = {
      {"field motionQueueIn 5", FieldBlock::A, off::kMotionQueueIn, FieldType::Int32, 0, 5, 5},
      {"field motionQueueOut -2", FieldBlock::A, off::kMotionQueueOut, FieldType::Int32, 0, -2, -2},
      {"field resetIndicator 255", FieldBlock::A, off::kResetIndicator, FieldType::Byte, 0, 255,
       255},
      {"field distanceMode 1", FieldBlock::B, off::kDistanceMode, FieldType::Int32, 0, 1, 1},
      {"field rotationAngle 30.5", FieldBlock::B, off::kRotationAngle, FieldType::Double, 0, 0,
       30.5},
      {"field bufferQueueIn 2147483647", FieldBlock::C, off::kBufferQueueIn, FieldType::Int32, 0,
       2147483647, 2147483647.0},
      {"field bufferQueueOut -2147483648", FieldBlock::C, off::kBufferQueueOut, FieldType::Int32, 0,
       -2147483648LL, -2147483648.0},
      {"field axisVelocityLimit[0] 1000", FieldBlock::C, off::kAxisVelocityLimit, FieldType::Int32,
       0, 1000, 1000},
      {"field axisVelocityLimit[5] 7", FieldBlock::C, off::kAxisVelocityLimit, FieldType::Int32, 5,
       7, 7},
      {"field axisJogParam[3] 9", FieldBlock::C, off::kAxisJogParam, FieldType::Int32, 3, 9, 9},
      {"field stepIncrement 0.001", FieldBlock::C, off::kStepIncrement, FieldType::Double, 0, 0,
       0.001},
      {"field busyIndicator 1", FieldBlock::C, off::kBusyIndicator, FieldType::Int32, 0, 1, 1},
  };
  for (const auto& row : rows) {
    const Command c = One(row.line);
    ASSERT_NE(c.field, nullptr) << row.line;
    EXPECT_EQ(c.field->block, row.block) << row.line;
    EXPECT_EQ(c.field->offset, row.offset) << row.line;
    EXPECT_EQ(c.field->type, row.type) << row.line;
    EXPECT_EQ(c.fieldIndex, row.index) << row.line;
    if (row.type != FieldType::Double) {
      EXPECT_EQ(c.intValue, row.intValue) << row.line;
    }
    EXPECT_DOUBLE_EQ(c.value, row.value) << row.line;
  }
}

TEST(ScenarioParser, CommentsBlankLinesAndLineNumbers) {
  const ParseResult r = ParseScenario(
      "# a scenario\n"
      "\n"
      "   start   # with a comment\n"
      "\t\n"
      "cycle 2\r\n"
      "show display#no blank before the comment\n"
      "stop");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.commands.size(), 4u);
  EXPECT_EQ(r.commands[0].line, 3);
  EXPECT_EQ(r.commands[1].line, 5);
  EXPECT_EQ(r.commands[1].number, 2);
  EXPECT_EQ(r.commands[2].line, 6);
  EXPECT_EQ(r.commands[2].kind, CommandKind::ShowDisplay);
  EXPECT_EQ(r.commands[3].line, 7);
  EXPECT_TRUE(ParseScenario("").ok);
  EXPECT_TRUE(ParseScenario("# only a comment").commands.empty());
}

TEST(ScenarioParser, ErrorsNameTheLineAndTheFault) {
  const struct {
    const char* text;
    int line;
    const char* message;  // a part of the message
  } rows[] = {
      {"start\nfrobnicate\n", 2, "unknown command 'frobnicate'"},
      {"Start", 1, "unknown command"},
      {"start now", 1, "wrong number of arguments"},
      {"stop 1", 1, "wrong number of arguments"},
      {"config x", 1, "wrong number of arguments"},
      {"profile StepSize1", 1, "wrong number of arguments"},
      {"profile StepSize1 1 2", 1, "wrong number of arguments"},
      {"profile 1Step 1", 1, "bad profile key"},
      {"profile a<b 1", 1, "bad profile key"},
      {"pendant", 1, "wrong number of arguments"},
      {"pendant present", 1, "unknown pendant state"},
      {"start\npendant absent", 2, "before start"},
      {"unplug\npendant absent", 2, "before any pendant command"},
      {"report 00 00 00 00 00 00 00", 1, "wrong number of arguments"},
      {"report 00 00 00 00 00 00 00 00 00", 1, "wrong number of arguments"},
      {"report 00 00 00 0G 00 00 00 00", 1, "bad hex byte '0G'"},
      {"report 00 00 00 0 00 00 00 00", 1, "bad hex byte '0'"},
      {"report 00 00 00 100 00 00 00 00", 1, "bad hex byte"},
      {"report 0x 00 00 00 00 00 00 00", 1, "bad hex byte"},
      {"latency", 1, "wrong number of arguments"},
      {"latency -1", 1, "bad latency"},
      {"latency 3ms", 1, "bad latency"},
      {"led 83", 1, "wrong number of arguments"},
      {"led 83 lit", 1, "expected on or off"},
      {"led x on", 1, "bad LED code"},
      {"led 40000 on", 1, "bad LED code"},
      {"dro 818", 1, "wrong number of arguments"},
      {"dro 818 1,5", 1, "bad number"},
      {"dro 818 nan", 1, "bad number"},
      {"dro 818 inf", 1, "bad number"},
      {"dro 818 0x10", 1, "bad number"},
      {"dro 818 1e999", 1, "bad number"},
      {"dro -1 0", 1, "bad DRO code"},
      {"field busyIndicator", 1, "wrong number of arguments"},
      {"field speed 1", 1, "unknown field 'speed'"},
      {"field axisJogParam 1", 1, "needs an index"},
      {"field axisJogParam[6] 1", 1, "out of range"},
      {"field axisJogParam[-1] 1", 1, "bad field index"},
      {"field axisJogParam[10] 1", 1, "bad field index"},
      {"field stepIncrement[0] 1", 1, "takes no index"},
      {"field resetIndicator 256", 1, "bad byte value"},
      {"field distanceMode 2147483648", 1, "bad integer value"},
      {"field distanceMode 1.5", 1, "bad integer value"},
      {"field rotationAngle abc", 1, "bad number"},
      {"cycle 1 2", 1, "wrong number of arguments"},
      {"cycle -1", 1, "bad count"},
      {"cycle x", 1, "bad count"},
      {"update 1000001", 1, "bad count"},
      {"machine", 1, "wrong number of arguments"},
      {"machine yes", 1, "expected on or off"},
      {"machine follow-step-size maybe", 1, "expected on or off"},
      {"tick -1", 1, "bad count"},
      {"show", 1, "wrong number of arguments"},
      {"show everything", 1, "unknown show"},
      {"show display now", 1, "wrong number of arguments"},
      {"show jog", 1, "wrong number of arguments"},
      {"show jog 6", 1, "bad axis '6'"},
      {"show jog -1", 1, "bad axis"},
      {"show jog Q", 1, "bad axis 'Q' (X, Y, Z, A, B, C or 0 to 5)"},
      {"show jog XY", 1, "bad axis 'XY'"},
      // A long token is cut, not echoed in full.
      {"cycle 12345678901234567890123456789", 1, "bad count '123456789012345678901234...' (0 to"},
      {"show dro", 1, "wrong number of arguments"},
      {"show dro 1.5", 1, "bad DRO code"},
      {"unplug\nunplug", 2, "not attached"},
      {"plug", 1, "already attached"},
      {"pendant absent\nreport 00 00 00 00 00 00 00 00", 2, "no pendant"},
      {"pendant absent\nlatency 3", 2, "no pendant"},
      {"pendant absent\nunplug", 2, "not attached"},
  };
  for (const auto& row : rows) {
    const ParseResult r = ParseScenario(row.text);
    EXPECT_FALSE(r.ok) << row.text;
    EXPECT_EQ(r.errorLine, row.line) << row.text;
    EXPECT_NE(r.error.find(row.message), std::string::npos) << row.text << " -> " << r.error;
    EXPECT_TRUE(r.commands.empty()) << row.text;
  }
}

TEST(ScenarioParser, NulBytesAreRefused) {
  const std::string text("start\nst\0op\n", 12);
  const ParseResult r = ParseScenario(text);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorLine, 2);
}

TEST(ScenarioParser, PendantBookkeepingAcceptsValidSequences) {
  const char* valid[] = {
      "unplug\nplug\nunplug\nplug",
      "pendant absent\nstart\nplug\nreport 00 00 00 00 00 00 00 00",
      "pendant absent\npendant absent\nstart",
      "unplug\nreport 00 00 00 00 00 00 00 00\nplug",
      "plug-other\nplug-other",
  };
  for (const char* text : valid) {
    const ParseResult r = ParseScenario(text);
    EXPECT_TRUE(r.ok) << text << ": " << r.error;
  }
}

}  // namespace
}  // namespace km4r::bench
