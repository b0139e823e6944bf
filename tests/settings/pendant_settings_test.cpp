#include "settings/pendant_settings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "platform/host_string.h"
#include "plugin/exports.h"
#include "settings/choice_tables.h"
#include "settings/profile_store.h"
#include "tests/settings/test_files.h"

namespace km4r {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::UseProfile;
using test::WriteFile;

constexpr const char* kKeyOrder[] = {"StepSize1",  "StepSize2",      "StepSize3",      "ScreenSel1",
                                     "ScreenSel2", "ScreenSel3",     "StepJogRate",    "DelaySteps",
                                     "DisplyRPM",  "AutoChangeSens", "VelocityInAuto", "Decidigit",
                                     "CAmode"};
constexpr int32_t kDefaults[] = {2, 1, 3, 1, 2, 3, 100, 25, 0, 0, 5, 2, 0};

int32_t Field(const PendantSettings& s, int i) {
  const int32_t v[] = {s.StepSize1,  s.StepSize2,      s.StepSize3,      s.ScreenSel1,
                       s.ScreenSel2, s.ScreenSel3,     s.StepJogRate,    s.DelaySteps,
                       s.DisplyRPM,  s.AutoChangeSens, s.VelocityInAuto, s.Decidigit,
                       s.CAmode};
  return v[i];
}

std::string Profile(const std::string& keys) {
  return "<profile><Quorvix_KM4R_Pendant>" + keys + "</Quorvix_KM4R_Pendant></profile>";
}

class PendantSettingsTest : public ::testing::Test {
 protected:
  PendantSettingsTest() : path_(dir_.Path("profile.xml")) { UseProfile(path_); }
  ~PendantSettingsTest() override { UseProfile(""); }
  PendantSettings Load() {
    PendantSettings s;
    ProfileStore store;
    LoadPendantSettings(store, s);
    return s;
  }
  ScratchDir dir_;
  std::string path_;
};

TEST_F(PendantSettingsTest, EmptyProfileLoadsDefaults) {
  for (const char* content : {"", "<profile/>", "<profile><Quorvix_KM4R_Pendant/></profile>"}) {
    if (*content != '\0') WriteFile(path_, content);
    PendantSettings s = Load();
    for (int i = 0; i < 13; ++i) EXPECT_EQ(Field(s, i), kDefaults[i]) << kKeyOrder[i];
  }
}

struct StoredCase {
  const char* key;
  const char* text;
  int field;
  int32_t expected;
};

class StoredValueTest : public PendantSettingsTest,
                        public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredValueTest, LoadsAs) {
  const StoredCase& c = GetParam();
  WriteFile(path_, Profile(std::string("<") + c.key + ">" + c.text + "</" + c.key + ">"));
  PendantSettings s = Load();
  EXPECT_EQ(Field(s, c.field), c.expected) << c.key << "=" << c.text;
  // The other twelve keep their defaults.
  for (int i = 0; i < 13; ++i)
    if (i != c.field) {
      EXPECT_EQ(Field(s, i), kDefaults[i]) << kKeyOrder[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredValueTest,
    ::testing::Values(StoredCase{"StepSize1", "70000", 0, 4464},  // low 16 bits
                      StoredCase{"StepSize2", "-1", 1, -1},       // not corrected on load
                      StoredCase{"ScreenSel3", "65542", 5, 6},    // 0x10006
                      StoredCase{"StepJogRate", "-20", 6, -20},
                      StoredCase{"StepJogRate", "70000", 6, 70000},  // int32 keeps all bits
                      StoredCase{"DelaySteps", "", 7, 25},           // empty element: default
                      StoredCase{"DisplyRPM", "7", 8, 1},
                      StoredCase{"DisplyRPM", "256", 8, 1},  // not truncated to a byte first
                      StoredCase{"CAmode", "-1", 12, 1}, StoredCase{"CAmode", "0", 12, 0},
                      StoredCase{"AutoChangeSens", "9", 9, 9},
                      StoredCase{"AutoChangeSens", "10", 9, 0},  // outside its table: default
                      StoredCase{"AutoChangeSens", "-1", 9, 0},
                      StoredCase{"VelocityInAuto", "0", 10, 0},
                      StoredCase{"VelocityInAuto", "10", 10, 5},
                      StoredCase{"VelocityInAuto", "-3", 10, 5},
                      StoredCase{"VelocityInAuto", "65545", 10, 9},  // low 16 bits are in the table
                      StoredCase{"Decidigit", "7", 11, 7}));

TEST_F(PendantSettingsTest, SaveWritesAllKeysInOrderWithFlagsAsZeroOrOne) {
  PendantSettings s;
  s.StepSize1 = -2;
  s.StepJogRate = -20;
  s.DisplyRPM = 7;
  s.CAmode = 1;
  {
    ProfileStore store;
    SavePendantSettings(store, s);
  }
  std::string saved = ReadFile(path_);
  std::size_t last = 0;
  for (const char* key : kKeyOrder) {
    std::size_t at = saved.find(std::string("<") + key + ">");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }
  ProfileStore store;
  EXPECT_EQ(store.GetInt(kPendantSection, "StepSize1", 0), -2);
  EXPECT_EQ(store.GetInt(kPendantSection, "StepJogRate", 0), -20);
  EXPECT_EQ(store.GetInt(kPendantSection, "DisplyRPM", 0), 1);
  EXPECT_EQ(store.GetInt(kPendantSection, "CAmode", 0), 1);
}

// What the profile holds after the dialog, when another program wrote it
// while the dialog was open. Profile before: StepSize2 4, StepJogRate 40
// (the running settings have the same StepSize2).
struct MeanwhileCase {
  const char* name;
  std::string meanwhile;              // the profile as the other program left it
  void (*dialog)(PendantSettings&);   // what the user changed
  std::vector<std::string> expected;  // texts the saved profile holds
  ProfileSaveResult::Outcome outcome;
  std::string before = "";  // the profile before, when not the usual one
};

class ConfigMeanwhileTest : public PendantSettingsTest,
                            public ::testing::WithParamInterface<MeanwhileCase> {};

TEST_P(ConfigMeanwhileTest, OtherWritersSurviveTheDialog) {
  const MeanwhileCase& c = GetParam();
  const std::string before = c.before.empty()
                                 ? Profile("<StepSize2>4</StepSize2><StepJogRate>40</StepJogRate>")
                                 : c.before;
  WriteFile(path_, before);
  PendantSettings s, shown;
  s.StepSize2 = 4;
  bool warned = false, edited = false;
  const ProfileSaveResult saved = EditPendantSettings(
      s,
      [&](PendantSettings& e) {
        edited = true;
        EXPECT_EQ(e.StepSize2, 4);
        WriteFile(path_, c.meanwhile);
        c.dialog(e);
        shown = e;
      },
      [&](const ProfileSaveResult& prospect) {
        // Before the edit, only when the profile cannot take it.
        EXPECT_FALSE(edited);
        EXPECT_EQ(prospect.why, ProfileSaveResult::Damaged);
        warned = true;
      });
  EXPECT_EQ(warned, !platform::CreateXmlDocument()->Parse(before));
  EXPECT_EQ(saved.outcome, c.outcome) << saved.Describe();
  const std::string file = ReadFile(path_);
  for (const std::string& text : c.expected)
    EXPECT_NE(file.find(text), std::string::npos) << text << " not in\n" << file;
  // The record is what the profile now holds; what the dialog set acts even
  // where it could not be saved.
  if (c.outcome != ProfileSaveResult::NotSaved) {
    PendantSettings reread = Load();
    for (int i = 0; i < 13; ++i) EXPECT_EQ(Field(s, i), Field(reread, i)) << kKeyOrder[i];
  } else {
    for (int i = 0; i < 13; ++i) EXPECT_EQ(Field(s, i), Field(shown, i)) << kKeyOrder[i];
  }
}

const std::string kOther =
    "<profile><Host>5</Host><Quorvix_KM4R_Pendant><StepSize2>4</StepSize2><StepJogRate>70"
    "</StepJogRate></Quorvix_KM4R_Pendant></profile>";

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigMeanwhileTest,
    ::testing::Values(MeanwhileCase{"cancelled: the other program's section and key stay",
                                    kOther,
                                    [](PendantSettings&) {},
                                    {"<Host>5</Host>", "<StepJogRate>70</StepJogRate>",
                                     "<StepSize2>4</StepSize2>", "<DelaySteps>25</DelaySteps>"},
                                    ProfileSaveResult::Saved},
                      MeanwhileCase{"a key both changed: the dialog's value",
                                    kOther,
                                    [](PendantSettings& e) { e.StepJogRate = 55; },
                                    {"<Host>5</Host>", "<StepJogRate>55</StepJogRate>"},
                                    ProfileSaveResult::Saved},
                      MeanwhileCase{"another key changed in the dialog",
                                    kOther,
                                    [](PendantSettings& e) { e.StepSize2 = 2; },
                                    {"<Host>5</Host>", "<StepJogRate>70</StepJogRate>",
                                     "<StepSize2>2</StepSize2>"},
                                    ProfileSaveResult::Saved},
                      MeanwhileCase{"the profile removed meanwhile: written afresh",
                                    "",
                                    [](PendantSettings& e) { e.StepSize2 = 2; },
                                    {"<StepSize2>2</StepSize2>", "<StepJogRate>40</StepJogRate>"},
                                    ProfileSaveResult::Saved},
                      MeanwhileCase{"made unparseable meanwhile: left alone",
                                    "<profile><Host>",
                                    [](PendantSettings& e) { e.StepSize2 = 2; },
                                    {"<profile><Host>"},
                                    ProfileSaveResult::NotSaved},
                      MeanwhileCase{"unparseable throughout, cancelled: the running settings stay",
                                    "<profile><Host>",
                                    [](PendantSettings&) {},
                                    {"<profile><Host>"},
                                    ProfileSaveResult::NotSaved,
                                    "<profile><Host>"}),
    [](const auto& info) {
      std::string n;
      for (const char* p = info.param.name; *p != '\0'; ++p)
        n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return n;
    });

// Config with the terminal form reading an empty input: the dialog cancels.
class ConfigEntryTest : public PendantSettingsTest {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the dialog is a real modal window here";
#endif
  }
  void RunConfigCancelled() {
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    ::Config();
  }
  sim::InProcessHost host_;
};

TEST_F(ConfigEntryTest, CancelledOnEmptyProfileWritesAllDefaults) {
  UseProfile(path_);
  RunConfigCancelled();
  ProfileStore store;
  for (int i = 0; i < 13; ++i)
    EXPECT_EQ(store.GetInt(kPendantSection, kKeyOrder[i], -999), kDefaults[i]) << kKeyOrder[i];
  EXPECT_TRUE(host_.calls.empty());
}

TEST_F(ConfigEntryTest, CancelledRewritesFlagAsOneAndKeepsOtherValues) {
  WriteFile(path_, Profile("<DisplyRPM>7</DisplyRPM><StepSize2>4</StepSize2>"));
  UseProfile(path_);
  RunConfigCancelled();
  std::string saved = ReadFile(path_);
  EXPECT_NE(saved.find("<DisplyRPM>1</DisplyRPM>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<StepSize2>4</StepSize2>"), std::string::npos) << saved;
  EXPECT_EQ(Module().settings.DisplyRPM, 1);
  EXPECT_EQ(Module().settings.StepSize2, 4);
}

TEST(ChoiceTables, TextsAndNumbers) {
  struct Case {
    std::string_view entry, shown;
    int32_t number;
  } cases[] = {
      {kStepSizeTable[0], "NONE", 1},
      {kStepSizeTable[1], "0.0001", 2},
      {kStepSizeTable[4], "0.1", 5},
      {kScreenTable[0], " NONE", 0},
      {kScreenTable[3], " screen 4 (Toolpath screen)    ", 3},
      {kVelocityTable[9], "10", 25},
      {kSensitivityTable[7], "7", 7},
      {kDigitsTable[2], "4", 4},
      {"no comma", "no comma", 0},
      {"12,a,b", "a,b", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownText(c.entry), c.shown) << c.entry;
    EXPECT_EQ(LeadingNumber(c.entry), c.number) << c.entry;
  }
}

TEST(ChoiceTables, VelocityDivisorAndThreshold) {
  const int32_t divisors[] = {3, 4, 5, 6, 7, 9, 11, 15, 20, 25};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(VelocityDivisor(i), divisors[i]) << i;
    EXPECT_EQ(AutoChangeThreshold(i), i);
  }
  // Outside the table: the nearest end, as the engine uses them.
  for (int i : {-1, -32768}) {
    EXPECT_EQ(VelocityDivisor(i), 3) << i;
    EXPECT_EQ(AutoChangeThreshold(i), 0) << i;
  }
  for (int i : {10, 32767}) {
    EXPECT_EQ(VelocityDivisor(i), 25) << i;
    EXPECT_EQ(AutoChangeThreshold(i), 9) << i;
  }
}

}  // namespace
}  // namespace km4r
