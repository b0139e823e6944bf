#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/host/host_sim.h"
#include "bench/host/trace_format.h"
#include "bench/profile_edit.h"
#include "bench/session_view.h"
#include "bench/sim_machine.h"
#include "bench/temp_dir.h"
#include "platform/host_string.h"

namespace km4r::bench {
namespace {

namespace fs = std::filesystem;

TEST(TraceFormat, LinesHaveTheirExactShape) {
  uint8_t report[sim::kOutputReportBytes] = {0,   1,   'X', ' ', ' ', '.', '0', '0', '1', '0', '+',
                                             '1', '2', '.', '3', '4', '5', '6', 37,  0,   0};
  const struct {
    std::string got;
    const char* want;
  } rows[] = {
      {sim::DoButtonLine(1021), "DoButton 1021"},
      {sim::DoButtonLine(-1), "DoButton -1"},
      {sim::SetDroLine(821, 100.0), "SetDRO 821 100"},
      {sim::SetDroLine(3, 0.105), "SetDRO 3 0.105"},
      {sim::SetDroLine(828, 1.0 / 3.0), "SetDRO 828 0.3333333333"},
      // Spelled alike by every C runtime the bench is built with.
      {sim::SetDroLine(1, -0.0), "SetDRO 1 -0"},
      {sim::SetDroLine(1, std::numeric_limits<double>::infinity()), "SetDRO 1 inf"},
      {sim::SetDroLine(1, -std::numeric_limits<double>::infinity()), "SetDRO 1 -inf"},
      {sim::SetDroLine(1, std::numeric_limits<double>::quiet_NaN()), "SetDRO 1 nan"},
      {sim::DroLine(2, 1e-7), "dro 2 1e-07"},
      {sim::DroLine(2, 12345678901.0), "dro 2 1.23456789e+10"},
      {sim::CodeLine("G91G1 X0.0010 Y-0.0017 "), "Code \"G91G1 X0.0010 Y-0.0017 \""},
      {sim::CodeLine("a\tb\x7f\"c\\"), "Code \"a\\x09b\\x7F\"c\\\""},
      {sim::NameLine("KM4R Pendant"), "name \"KM4R Pendant\""},
      {sim::DisplayLine(report), "display \"X  .0010\" \"+12.3456\" reset=1 seq=37"},
      {sim::ReportLine(report, 7),
       "report 00 01 58 20 20 2E 30 30 31 30 2B 31 32 2E 33 34 35 36 25 00 00 writes=7"},
      {sim::StatusLine(" Jog OFF. "), "status \" Jog OFF. \""},
      {sim::DroLine(800, -0.5), "dro 800 -0.5"},
      {sim::DroLine(818, 1e12), "dro 818 1e+12"},
      {sim::ProfileLine({}), "profile"},
      {sim::ProfileLine({{"StepSize1", "2"}, {"Odd", "a b"}, {"Empty", ""}}),
       "profile StepSize1=2 Odd=a\\x20b Empty="},
  };
  for (const auto& row : rows) EXPECT_EQ(row.got, row.want);

  uint8_t zeros[sim::kOutputReportBytes] = {};
  EXPECT_EQ(sim::DisplayLine(zeros),
            "display \"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\" "
            "\"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\" reset=0 seq=0");
}

TEST(TraceFormat, JogLineReadsTheRecordOfTheAxis) {
  sim::HostSim host;
  const host::Blocks b = host.Blocks();
  host::SetJogSpeed(b, 2, 333);
  host::SetJogVelocityLimit(b, 2, 1000);
  host::SetJogParam(b, 2, -4);
  host::SetJogStopRequest(b, 2, 0);
  host::SetJogStartRequest(b, 2, 1);
  host::SetJogDirection(b, 2, 1);
  host::SetJogSpeed(b, 3, 99);  // the next record must not leak into axis 2
  EXPECT_EQ(sim::JogLine(host.blockA.data(), 2),
            "jog 2 speed=333 limit=1000 param=-4 stop=0 start=1 dir=1");
  EXPECT_EQ(sim::JogLine(host.blockA.data(), 5),
            "jog 5 speed=0 limit=0 param=0 stop=0 start=0 dir=0");
}

TEST(HostSim, FieldsLandAtTheirOffsets) {
  sim::HostSim host;
  const host::Blocks b = host.Blocks();
  for (const FieldInfo& f : SettableFields()) {
    const int index = f.indexed ? 4 : 0;
    SetField(host, f, index, 77, 77.25);
  }
  EXPECT_EQ(host::MotionQueueIn(b), 77);
  EXPECT_EQ(host::MotionQueueOut(b), 77);
  EXPECT_EQ(host::ResetIndicator(b), 77);
  EXPECT_EQ(host::DistanceMode(b), 77);
  EXPECT_EQ(host::RotationAngle(b), 77.25);
  EXPECT_EQ(host::BufferQueueIn(b), 77);
  EXPECT_EQ(host::BufferQueueOut(b), 77);
  EXPECT_EQ(host::AxisVelocityLimit(b, 4), 77);
  EXPECT_EQ(host::AxisVelocityLimit(b, 3), 0);
  EXPECT_EQ(host::AxisJogParam(b, 4), 77);
  EXPECT_EQ(host::AxisJogParam(b, 5), 0);
  EXPECT_EQ(host::StepIncrement(b), 77.25);
  EXPECT_EQ(host::BusyIndicator(b), 77);
}

TEST(HostSim, CodesCoverTheWhole16BitRange) {
  sim::HostSim host;
  host.dro[-1] = 4.5;
  host.led[32767] = true;
  EXPECT_EQ(host.dro[-1], 4.5);
  EXPECT_TRUE(host.led[32767]);
  EXPECT_FALSE(host.led[0]);
  platform::HostString::AssignAt(host.blockC.data() + host::offset::kStatusText, " Jog OFF. ");
  EXPECT_EQ(host.StatusText(), " Jog OFF. ");
}

// One recorder: each action once, in call order, to calls and the sink alike,
// then to the hooks; reads are counted, not recorded.
TEST(HostSim, RecordsEachActionOnceForCallsSinkAndHooks) {
  struct Seen : sim::HostSim::Hooks {
    sim::HostSim* host = nullptr;
    std::vector<std::size_t> recorded;  // calls recorded when each hook ran
    void DoButton(short) override { recorded.push_back(host->calls.size()); }
    void SetDro(short, double) override { recorded.push_back(host->calls.size()); }
    void Code(const char*) override { recorded.push_back(host->calls.size()); }
  } seen;
  sim::HostSim host;
  std::vector<std::string> sunk;
  host.sink = [&sunk](const std::string& line) { sunk.push_back(line); };
  seen.host = &host;
  host.hooks = &seen;
  host.led[83] = true;
  using C = sim::HostSim::Callbacks;
  C::DoButton(1021);
  C::SetDro(818, 12.5);
  C::Code("G90");
  EXPECT_EQ(C::GetDro(818), 12.5);
  EXPECT_TRUE(C::GetLed(83));
  const std::vector<std::string> want = {"DoButton 1021", "SetDRO 818 12.5", "Code \"G90\""};
  EXPECT_EQ(host.calls, want);
  EXPECT_EQ(sunk, want);
  EXPECT_EQ(seen.recorded, (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_EQ(host.TotalCallbacks(), 5);
  host.record = false;
  host.sink = nullptr;
  host.Clear();
  C::Code("G90");
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(seen.recorded.size(), 4u);
}

TEST(SimMachine, ParsesTheMoveTextsThePlugInSends) {
  const struct {
    const char* text;
    bool move;
    std::array<double, 6> delta;
  } rows[] = {
      {"G91G1 F100 X 0.0030", true, {0.003, 0, 0, 0, 0, 0}},
      {"G91G1 F100 Y -0.0030", true, {0, -0.003, 0, 0, 0, 0}},
      {"G91G1 F1500.0000 Z -0.0100", true, {0, 0, -0.01, 0, 0, 0}},
      {"G91G1 A 5.0000", true, {0, 0, 0, 5, 0, 0}},
      {"G91G1 F7 B 0.1000", true, {0, 0, 0, 0, 0.1, 0}},
      {"G91G1 X-0.0010 Y-0.0017 ", true, {-0.001, -0.0017, 0, 0, 0, 0}},
      {"G91G1 X0.0010 Y0.0000 ", true, {0.001, 0, 0, 0, 0, 0}},
      {"G90", false, {}},
      {"DOJOG", false, {}},
      {"G1 X5", false, {}},
      {"G91G1 F100", false, {}},
      {"", false, {}},
  };
  for (const auto& row : rows) {
    std::array<double, 6> delta{};
    EXPECT_EQ(ParseIncrementalMove(row.text, &delta), row.move) << row.text;
    for (int i = 0; i < 6; ++i)
      EXPECT_NEAR(delta[i], row.delta[i], 1e-12) << row.text << " axis " << i;
  }
}

TEST(SimMachine, AppliesMovesButtonsAndJogsOnlyWhenEnabled) {
  sim::HostSim host;
  SimMachine m(host);
  m.Code("G91G1 F100 X 0.0030");
  m.DoButton(1021);
  EXPECT_EQ(m.Position(0), 0.0) << "a disabled machine is passive";
  EXPECT_FALSE(host.led[800]);

  m.SetEnabled(true);
  m.Code("G91G1 F100 X 0.0030");
  m.Code("G91G1 F100 X -0.0010");
  m.Code("G91G1 Y 2.5000");
  EXPECT_NEAR(m.Position(0), 0.002, 1e-12);
  EXPECT_EQ(m.Position(1), 2.5);
  EXPECT_EQ(host.dro[800], m.Position(0)) << "positions are DROs 800-805";

  m.DoButton(1009);  // zero Y
  EXPECT_EQ(host.dro[801], 0.0);
  EXPECT_NEAR(host.dro[800], 0.002, 1e-12);
  host.dro[803] = 4.0;
  m.DoButton(1011);  // zero A
  EXPECT_EQ(host.dro[803], 0.0);
  host.dro[804] = 4.0;
  m.DoButton(1012);  // no zero button for B
  EXPECT_EQ(host.dro[804], 4.0);

  m.DoButton(1021);
  EXPECT_TRUE(host.led[800]);
  m.DoButton(1021);
  EXPECT_FALSE(host.led[800]);
}

TEST(SimMachine, ContinuousJogRunsAtTheRecordSpeedFromDoJogToEndJog) {
  sim::HostSim host;
  SimMachine m(host);
  m.SetEnabled(true);
  const host::Blocks b = host.Blocks();
  host::SetJogSpeed(b, 2, 600);  // units per minute: 0.25 per 25 ms
  host::SetJogDirection(b, 2, 1);
  host::SetJogStopRequest(b, 2, 0);
  host::SetJogStartRequest(b, 2, 1);
  m.Advance(25);
  EXPECT_EQ(m.Position(2), 0.0) << "no DOJOG yet";
  m.Code("DOJOG");
  EXPECT_TRUE(m.Jogging(2));
  EXPECT_FALSE(m.Jogging(0));
  m.Advance(25);
  m.Advance(25);
  EXPECT_NEAR(m.Position(2), -0.5, 1e-12);
  host::SetJogSpeed(b, 2, 1200);  // a refreshed record takes effect at once
  m.Advance(50);
  EXPECT_NEAR(m.Position(2), -1.5, 1e-12);
  m.Code("ENDJOG");
  m.Advance(1000);
  EXPECT_NEAR(m.Position(2), -1.5, 1e-12);

  host::SetJogStopRequest(b, 2, 1);  // a stopped record does not start
  m.Code("DOJOG");
  EXPECT_FALSE(m.Jogging(2));
}

TEST(SimMachine, FollowsTheStepSizeOnlyWhenAsked) {
  sim::HostSim host;
  SimMachine m(host);
  m.SetEnabled(true);
  m.SetDro(828, 0.01);
  EXPECT_EQ(host::StepIncrement(host.Blocks()), 0.0);
  m.SetFollowStepSize(true);
  m.SetDro(828, 0.01);
  m.SetDro(821, 5.0);
  EXPECT_EQ(host::StepIncrement(host.Blocks()), 0.01);
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ProfileFile, EditsTheFirstSectionAndKeyAndKeepsTheRest) {
  TempDir dir;
  const std::string path = (dir.path() / "p.xml").string();
  std::string error;
  std::vector<std::pair<std::string, std::string>> keys;

  ASSERT_TRUE(ReadPendantSection(path, &keys, &error)) << error;
  EXPECT_TRUE(keys.empty()) << "a missing file has no keys";

  ASSERT_TRUE(SetProfileValue(path, "StepSize1", "4", &error)) << error;
  ASSERT_TRUE(SetProfileValue(path, "CAmode", "1", &error)) << error;
  ASSERT_TRUE(SetProfileValue(path, "StepSize1", "12abc", &error)) << error;
  ASSERT_TRUE(ReadPendantSection(path, &keys, &error)) << error;
  const std::vector<std::pair<std::string, std::string>> want = {{"StepSize1", "12abc"},
                                                                 {"CAmode", "1"}};
  EXPECT_EQ(keys, want);
  EXPECT_NE(ReadFile(path).find("<profile>"), std::string::npos);

  // A host profile with its own root, other content and a duplicate key.
  {
    std::ofstream out(path);
    out << "<HostProfile><Other a=\"1\">x</Other><Quorvix_KM4R_Pendant>"
           "<Decidigit>1</Decidigit><Decidigit>2</Decidigit></Quorvix_KM4R_Pendant>"
           "<Quorvix_KM4R_Pendant><Late>9</Late></Quorvix_KM4R_Pendant></HostProfile>";
  }
  ASSERT_TRUE(SetProfileValue(path, "Decidigit", "", &error)) << error;
  ASSERT_TRUE(ReadPendantSection(path, &keys, &error)) << error;
  const std::vector<std::pair<std::string, std::string>> edited = {{"Decidigit", ""},
                                                                   {"Decidigit", "2"}};
  EXPECT_EQ(keys, edited);
  const std::string text = ReadFile(path);
  EXPECT_NE(text.find("<HostProfile>"), std::string::npos);
  EXPECT_NE(text.find("<Other a=\"1\">x</Other>"), std::string::npos);
  EXPECT_NE(text.find("<Late>9</Late>"), std::string::npos);
}

TEST(ProfileFile, RefusesToOverwriteAFileThatIsNotXml) {
  TempDir dir;
  const std::string path = (dir.path() / "p.xml").string();
  {
    std::ofstream out(path);
    out << "<profile><unclosed>";
  }
  std::string error;
  EXPECT_FALSE(SetProfileValue(path, "StepSize1", "1", &error));
  EXPECT_NE(error.find("not readable XML"), std::string::npos);
  EXPECT_EQ(ReadFile(path), "<profile><unclosed>");
  std::vector<std::pair<std::string, std::string>> keys;
  EXPECT_FALSE(ReadPendantSection(path, &keys, &error));
}

TEST(SessionView, FoldsRepeatsAndDrawsTheDisplay) {
  const std::vector<std::string> folded = FoldActions(
      {"Code \"DOJOG\"", "Code \"DOJOG\"", "Code \"DOJOG\"", "Code \"ENDJOG\"", "Code \"DOJOG\""});
  const std::vector<std::string> want = {"Code \"DOJOG\"  x3", "Code \"ENDJOG\"", "Code \"DOJOG\""};
  EXPECT_EQ(folded, want);

  uint8_t report[sim::kOutputReportBytes] = {0,   0,   'S', 'c', 'r', 'e', 'e', 'n', ' ', ' ', 'M',
                                             'D', 'I', ' ', ' ', ' ', ' ', 1,   2,   0,   0};
  const std::vector<std::string> box = DisplayBox(report);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_EQ(box[1], "|Screen  |");
  EXPECT_EQ(box[2], "|MDI    .|") << "a byte outside the printable range shows as '.'";
  report[1] = 1;
  EXPECT_NE(DisplayBox(report)[0].find("RESET"), std::string::npos);

  const double pos[3] = {1.5, -0.00004, 0};
  EXPECT_EQ(PositionsLine(pos, 3), "X +1.5000  Y -0.0000  Z +0.0000");
}

#if !defined(_WIN32)
TEST(LiveMode, FindsThePendantByItsHidIdOnly) {
  TempDir dir;
  auto device = [&dir](const char* name, const char* uevent) {
    fs::create_directories(dir.path() / name / "device");
    std::ofstream(dir.path() / name / "device" / "uevent") << uevent;
  };
  EXPECT_EQ(FindPendantNode(dir.path().string()), "");
  EXPECT_EQ(FindPendantNode((dir.path() / "missing").string()), "");
  device("hidraw0", "DRIVER=hid-generic\nHID_ID=0003:000004D8:0000FCE8\nHID_NAME=other\n");
  device("hidraw1", "HID_ID=0005:000004D8:0000FCE7\n");  // not USB
  EXPECT_EQ(FindPendantNode(dir.path().string()), "");
  device("hidraw3", "DRIVER=hid-generic\nHID_ID=0003:000004d8:0000fce7\n");
  device("hidraw2", "HID_ID=0003:000004D8:0000FCE7\n");
  EXPECT_EQ(FindPendantNode(dir.path().string()), "/dev/hidraw2") << "first in name order";
}
#endif

}  // namespace
}  // namespace km4r::bench
