#include "settings/config_dialog.h"

#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace km4r {
namespace {

using platform::DialogResult;

// A view that plays a script: each step edits the controls, then either
// presses OK or, at the end of the script, the dialog is cancelled.
class ScriptedView : public platform::DialogView {
 public:
  struct List {
    std::vector<std::string> items;
    int selection = -1;
  };
  std::map<int, List> lists;
  std::map<int, std::string> fields;
  std::map<int, bool> checks;
  std::vector<std::string> messages;
  std::vector<int> focus;
  std::vector<int> fillOrder;
  std::vector<std::function<void(ScriptedView&)>> steps;  // each followed by OK
  int okPresses = 0;

  void ClearList(int i) override {
    lists[i] = List{};
    fillOrder.push_back(i);
  }
  void AddListItem(int i, const char* text) override { lists[i].items.emplace_back(text); }
  void SetListSelection(int i, int index) override { lists[i].selection = index; }
  int ListSelection(int i) override { return lists[i].selection; }
  void SetFieldText(int i, const char* text) override { fields[i] = text; }
  std::string FieldText(int i) override { return fields[i]; }
  void SetChecked(int i, bool c) override { checks[i] = c; }
  bool Checked(int i) override { return checks[i]; }
  void ShowMessage(const char* text) override { messages.emplace_back(text); }
  void SetFocus(int i) override { focus.push_back(i); }
  DialogResult RunModal(const std::function<void()>& onInit,
                        const std::function<bool()>& onOk) override {
    onInit();
    for (auto& step : steps) {
      step(*this);
      ++okPresses;
      if (onOk()) return DialogResult::Ok;
    }
    return DialogResult::Cancel;
  }
  std::string Shown(int i) {
    const List& l = lists[i];
    return l.selection >= 0 && l.selection < static_cast<int>(l.items.size()) ? l.items[l.selection]
                                                                              : "<none>";
  }
};

PendantSettings Defaults() {
  PendantSettings s;
  s.StepSize1 = 2;
  s.StepSize2 = 1;
  s.StepSize3 = 3;
  s.ScreenSel1 = 1;
  s.ScreenSel2 = 2;
  s.ScreenSel3 = 3;
  s.StepJogRate = 100;
  s.DelaySteps = 25;
  s.VelocityInAuto = 5;
  s.Decidigit = 2;
  return s;
}

DialogResult RunDialog(PendantSettings& s, ScriptedView& view) {
  ConfigDialog dialog(s, view);
  return dialog.DoModal();
}

TEST(ConfigDialog, ShowsDefaults) {
  PendantSettings s = Defaults();
  ScriptedView view;
  EXPECT_EQ(RunDialog(s, view), DialogResult::Cancel);
  const struct {
    int id;
    const char* shown;
    std::size_t items;
  } expected[] = {
      {IDC_STEPSIZE1, "0.001", 5},
      {IDC_STEPSIZE2, "0.0001", 5},
      {IDC_STEPSIZE3, "0.01", 5},
      {IDC_SCREENSEL1, " Screen 1 (Program Run screen) ", 7},
      {IDC_SCREENSEL2, " Screen 2 (MDI screen)         ", 7},
      {IDC_SCREENSEL3, " screen 4 (Toolpath screen)    ", 7},
      {IDC_VELOCITYINAUTO, "6", 10},
      {IDC_AUTOCHANGESENS, "0", 10},
      {IDC_DECIDIGIT, "4", 3},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(view.Shown(e.id), e.shown) << e.id;
    EXPECT_EQ(view.lists[e.id].items.size(), e.items) << e.id;
  }
  EXPECT_EQ(view.fields[IDC_STEPJOGRATE], "100");
  EXPECT_EQ(view.fields[IDC_DELAYSTEPS], "25");
  EXPECT_FALSE(view.checks[IDC_DISPLYRPM]);
  EXPECT_FALSE(view.checks[IDC_CAMODE]);
  const std::vector<int> order = {IDC_STEPSIZE1,      IDC_STEPSIZE2,      IDC_STEPSIZE3,
                                  IDC_VELOCITYINAUTO, IDC_AUTOCHANGESENS, IDC_DECIDIGIT,
                                  IDC_SCREENSEL1,     IDC_SCREENSEL2,     IDC_SCREENSEL3};
  EXPECT_EQ(view.fillOrder, order);
  EXPECT_EQ(s, Defaults());
}

TEST(ConfigDialog, ListsHoldTheShownTexts) {
  PendantSettings s = Defaults();
  ScriptedView view;
  RunDialog(s, view);
  const std::vector<std::string> screens = {" NONE",
                                            " Screen 1 (Program Run screen) ",
                                            " Screen 2 (MDI screen)         ",
                                            " screen 4 (Toolpath screen)    ",
                                            " screen 5 (Offsets screen) ",
                                            " screen 6 (Setting screen) ",
                                            " screen 7 (Diagnostics screen) "};
  for (int list : {IDC_SCREENSEL1, IDC_SCREENSEL2, IDC_SCREENSEL3})
    EXPECT_EQ(view.lists[list].items, screens);
  EXPECT_EQ(view.lists[IDC_STEPSIZE2].items,
            (std::vector<std::string>{"NONE", "0.0001", "0.001", "0.01", "0.1"}));
  EXPECT_EQ(view.lists[IDC_VELOCITYINAUTO].items,
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(view.lists[IDC_DECIDIGIT].items, (std::vector<std::string>{"2", "3", "4"}));
}

TEST(ConfigDialog, FlagsAndOutOfRangeSettingsShow) {
  PendantSettings s = Defaults();
  s.StepSize1 = 5;
  s.ScreenSel2 = -1;
  s.Decidigit = 3;
  s.DisplyRPM = 1;
  s.CAmode = 1;
  s.StepJogRate = -20;
  ScriptedView view;
  view.steps.push_back([](ScriptedView&) {});
  EXPECT_EQ(RunDialog(s, view), DialogResult::Ok);
  EXPECT_EQ(view.lists[IDC_STEPSIZE1].selection, -1);
  EXPECT_EQ(view.lists[IDC_SCREENSEL2].selection, -1);
  EXPECT_EQ(view.lists[IDC_DECIDIGIT].selection, -1);
  EXPECT_EQ(view.fields[IDC_STEPJOGRATE], "-20");
  EXPECT_TRUE(view.checks[IDC_DISPLYRPM]);
  EXPECT_TRUE(view.checks[IDC_CAMODE]);
  // OK with lists left empty keeps what the settings held.
  EXPECT_EQ(s.StepSize1, 5);
  EXPECT_EQ(s.ScreenSel2, -1);
  EXPECT_EQ(s.Decidigit, 3);
  EXPECT_EQ(s.DisplyRPM, 1);
}

TEST(ConfigDialog, OkStoresEveryControlIntoItsSetting) {
  PendantSettings s = Defaults();
  ScriptedView view;
  view.steps.push_back([](ScriptedView& v) {
    const std::pair<int, int> picks[] = {
        {IDC_STEPSIZE1, 4},      {IDC_STEPSIZE2, 0},      {IDC_STEPSIZE3, 1},
        {IDC_SCREENSEL1, 6},     {IDC_SCREENSEL2, 5},     {IDC_SCREENSEL3, 0},
        {IDC_VELOCITYINAUTO, 2}, {IDC_AUTOCHANGESENS, 7}, {IDC_DECIDIGIT, 0}};
    for (auto [list, item] : picks) v.lists[list].selection = item;
    v.fields[IDC_STEPJOGRATE] = "250";
    v.fields[IDC_DELAYSTEPS] = "500";
    v.checks[IDC_DISPLYRPM] = true;
  });
  EXPECT_EQ(RunDialog(s, view), DialogResult::Ok);
  PendantSettings want = Defaults();
  want.StepSize1 = 4;
  want.StepSize2 = 0;
  want.StepSize3 = 1;
  want.ScreenSel1 = 6;
  want.ScreenSel2 = 5;
  want.ScreenSel3 = 0;
  want.VelocityInAuto = 2;
  want.AutoChangeSens = 7;
  want.Decidigit = 0;
  want.StepJogRate = 250;
  want.DelaySteps = 500;
  want.DisplyRPM = 1;
  EXPECT_EQ(s, want);
  EXPECT_TRUE(view.messages.empty());
}

struct FieldCase {
  std::string feed;
  std::string delay;
  bool accepted;
  int32_t feedStored;
  int32_t delayStored;
  int focus;  // on refusal
};

class ConfigDialogFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ConfigDialogFieldTest, ReadsFieldsLikeScanf) {
  const FieldCase& c = GetParam();
  PendantSettings s = Defaults();
  ScriptedView view;
  view.steps.push_back([&c](ScriptedView& v) {
    v.fields[IDC_STEPJOGRATE] = c.feed;
    v.fields[IDC_DELAYSTEPS] = c.delay;
    v.lists[IDC_STEPSIZE2].selection = 0;
    v.checks[IDC_CAMODE] = true;
  });
  DialogResult r = RunDialog(s, view);
  if (c.accepted) {
    EXPECT_EQ(r, DialogResult::Ok);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(s.StepJogRate, c.feedStored);
    EXPECT_EQ(s.DelaySteps, c.delayStored);
    EXPECT_EQ(s.StepSize2, 0);
    EXPECT_EQ(s.CAmode, 1);
  } else {
    EXPECT_EQ(r, DialogResult::Cancel);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(view.focus, std::vector<int>{c.focus});
    EXPECT_EQ(s, Defaults()) << "nothing stored, list choices included";
  }
}

const std::string k62Blanks(62, ' ');
const std::string k63Blanks(63, ' ');

INSTANTIATE_TEST_SUITE_P(Fields, ConfigDialogFieldTest,
                         ::testing::Values(FieldCase{"abc", "25", false, 0, 0, IDC_STEPJOGRATE},
                                           FieldCase{"100", "", false, 0, 0, IDC_DELAYSTEPS},
                                           FieldCase{"", "", false, 0, 0, IDC_STEPJOGRATE},
                                           FieldCase{"100", "  ", false, 0, 0, IDC_DELAYSTEPS},
                                           FieldCase{"-", "25", false, 0, 0, IDC_STEPJOGRATE},
                                           FieldCase{"+ 5", "25", false, 0, 0, IDC_STEPJOGRATE},
                                           FieldCase{" 250 ", "25", true, 250, 25, 0},
                                           FieldCase{"250abc", "25", true, 250, 25, 0},
                                           FieldCase{"-20", "25", true, -20, 25, 0},
                                           FieldCase{"100", "500", true, 100, 500, 0},
                                           FieldCase{"+7", "\t0", true, 7, 0, 0},
                                           FieldCase{"100", "12.9", true, 100, 12, 0},
                                           FieldCase{"100", k62Blanks + "5", true, 100, 5, 0},
                                           FieldCase{"100", k63Blanks + "5", false, 0, 0,
                                                     IDC_DELAYSTEPS}));

TEST(ConfigDialog, RefusedOkThenCorrectedOk) {
  PendantSettings s = Defaults();
  ScriptedView view;
  view.steps.push_back([](ScriptedView& v) {
    v.fields[IDC_STEPJOGRATE] = "abc";
    v.lists[IDC_SCREENSEL1].selection = 0;
  });
  view.steps.push_back([](ScriptedView& v) { v.fields[IDC_STEPJOGRATE] = "80"; });
  EXPECT_EQ(RunDialog(s, view), DialogResult::Ok);
  EXPECT_EQ(view.okPresses, 2);
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(s.StepJogRate, 80);
  EXPECT_EQ(s.ScreenSel1, 0);
}

}  // namespace
}  // namespace km4r
