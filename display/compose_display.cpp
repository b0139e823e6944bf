#include <cmath>
#include <cstring>

#include "display/display_fields.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "pendant/screen_selection.h"
#include "plugin/host_calls.h"
#include "plugin/module_state.h"

namespace km4r {

namespace {

using display::kLine1;
using display::kLine2;
using display::kLineWidth;
using display::PutNumber;
using display::PutSpaces;
using display::PutText;

struct ScreenName {
  int32_t code;
  const char* text;
};
constexpr ScreenName kScreenNames[] = {{1, "Prog Run"}, {2, "MDI     "}, {3, "ToolPath"},
                                       {5, "Diagnost"}, {6, "Settings"}, {7, "OffSets "}};

// Position reads below this magnitude count as zero on the Zero screen.
constexpr double kZeroTolerance = 0.00001;

struct Composer {
  PendantWindow& w;
  ModuleState& m;
  uint8_t* line1;
  uint8_t* line2;
  bool firstHalf;

  void BlinkBoth(const char* text) {
    if (firstHalf) {
      PutText(line1, text);
      PutText(line2, text);
    } else {
      PutSpaces(line1, 2 * kLineWidth);
    }
  }

  void ShowPosition() {
    display::FormatPositionText(m.positionText, sizeof m.positionText, m.shownAxisValue,
                                m.settings.Decidigit);
    std::memcpy(line2, m.positionText, kLineWidth);
  }

  void FetchAxis(int32_t axisIndex) {
    m.shownAxisValue = host::GetDRO(host::code::kDroAxisPositionBase + axisIndex);
  }

  void RunAnimation() {
    const int32_t phase = m.ticks.DisplayPhase;
    const char* arrow = "      ";
    if (phase > 20) {
      arrow = "  >   ";
    } else if (phase > 15) {
      arrow = "  >>  ";
    } else if (phase > 10) {
      arrow = "  >>> ";
    } else if (phase > 5) {
      arrow = "  >>>>";
    }
    PutText(line1 + 2, arrow);
  }

  void StepSizeOrFeed() {
    if (w.displayCycle > 80) {
      const double step = host::GetDRO(host::code::kDroStepSize);
      line1[1] = ' ';
      PutNumber(line1 + 2, 6, "%6.4f", step);
      if (step < 1.0) line1[2] = ' ';
      return;
    }
    const int32_t rate = m.settings.StepJogRate;
    const double feed =
        rate != 0 ? static_cast<double>(rate) : host::GetDRO(host::code::kDroFeedRate);
    PutNumber(line1 + 1, 5, feed >= 100.0 ? "%5.0f" : "%5.1f", feed);
    PutText(line1 + 6, "/M");
  }

  void AxisScreen() {
    PutSpaces(line1, kLineWidth);
    const char letter = host::AxisLetter(w.axisIndex)[0];
    if (letter != '\0') {
      FetchAxis(w.axisIndex);
      line1[0] = static_cast<uint8_t>(letter);
    }
    if (firstHalf) line1[0] = ' ';
    ShowPosition();

    if (host::GetLED(host::code::kLedRun)) {
      RunAnimation();
    } else if (host::GetLED(host::code::kLedPause)) {
      PutSpaces(line1 + 2, 4);
      PutText(line1 + 6, firstHalf ? "  " : "||");
    } else if (w.jogMode == JogMode::StepJog) {
      StepSizeOrFeed();
    } else if (w.jogMode == JogMode::VelocityJog) {
      PutText(line1 + 1, "    Vel");
    } else {
      line1[1] = ' ';
      PutNumber(line1 + 2, 5, "%5.1f", host::GetDRO(host::code::kDroJogRate));
      line1[7] = '%';
    }
  }

  void SpindleLine() {
    line2[5] = ' ';
    line2[6] = 'P';
    line2[7] = ' ';
    if (m.settings.DisplyRPM != 0) {
      PutNumber(line2, 4, "%4.0f", host::GetDRO(host::code::kDroSpindleRpm));
      PutText(line2 + 4, " RPM");
    } else {
      PutNumber(line2, 5, "%5.0f", host::GetDRO(host::code::kDroSpindleSpeed));
      line2[5] = ' ';
      line2[6] = 'P';
      PutNumber(line2 + 7, 1, "%1.0f", host::GetDRO(host::code::kDroPDigit));
    }
  }

  void ZeroScreen() {
    PutText(line1, "Zero    ");
    const int32_t axis = w.axisIndex;
    if (axis >= 0 && axis <= 3) {
      FetchAxis(axis);
      line1[6] = static_cast<uint8_t>(host::AxisLetter(axis)[0]);
      const bool nonZero = std::fabs(m.shownAxisValue) >= kZeroTolerance;
      line1[7] = nonZero && firstHalf ? '?' : ' ';
    }
    ShowPosition();
  }

  void JogModeScreen() {
    switch (w.jogMode) {
      case JogMode::VelocityJog:
      case JogMode::RateJog:
      case JogMode::StepJog:
        AxisScreen();
        break;
      case JogMode::JogRateAdjust:
        PutSpaces(line1, 2 * kLineWidth);
        PutText(line1, "CON'T");
        PutNumber(line2 + 1, 6, "%6.1f", host::GetDRO(host::code::kDroJogRate));
        line2[7] = '%';
        break;
      case JogMode::FeedOverrideAdjust:
        PutSpaces(line1, 2 * kLineWidth);
        PutText(line1, "FRO ");
        PutNumber(line1 + 4, 3, "%3.0f", host::GetDRO(host::code::kDroFeedOverride));
        line1[7] = '%';
        PutNumber(line2, 8, "%8.2f", host::GetDRO(host::code::kDroFeedShown));
        break;
      case JogMode::SpindleOverrideAdjust:
        PutSpaces(line1, 2 * kLineWidth);
        PutText(line1, "Sov ");
        PutNumber(line1 + 4, 3, "%3.0f", host::GetDRO(host::code::kDroSpindleOverride));
        line1[7] = '%';
        SpindleLine();
        break;
      case JogMode::StepSizeSelect:
        PutText(line1, "Stepsize");
        PutSpaces(line2, 2);
        PutNumber(line2 + 2, 6, "%.4f", host::GetDRO(host::code::kDroStepSize));
        break;
      case JogMode::AxisZero:
        ZeroScreen();
        break;
      default:
        // Idle, ScreenSelect and unknown modes leave the text as it was.
        break;
    }
  }

  bool ScreenSelectionWanted() const {
    return InScreenSelectPosition(w) || (w.mode3Active != 0 && w.enableHeld == 0);
  }

  void ScreenPage() {
    if (!ScreenSelectionWanted()) {
      PutText(line1, "MPG     ");
      PutText(line2, "Offline ");
      return;
    }
    PutText(line1, "Screen  ");
    // A code without a name keeps whatever line 2 held.
    for (const ScreenName& s : kScreenNames) {
      if (s.code == m.currentScreenCode) PutText(line2, s.text);
    }
  }
};

}  // namespace

void PendantWindow::ComposeDisplay() {
  ModuleState& m = Module();
  outputReport[display::kReportIdByte] = 0;
  outputReport[display::kSequenceByte] = static_cast<uint8_t>(m.ticks.UpdateSequence & 0xFF);
  outputReport[display::kResetByte] = host::GetLED(host::code::kLedReset) ? 1 : 0;

  Composer c{*this, m, outputReport + kLine1, outputReport + kLine2,
             display::FirstBlinkHalf(displayCycle)};
  if (EstopBit(inputWord0) != 0) {
    c.BlinkBoth(" E-STOP ");
    return;
  }
  if (host::GetLED(host::code::kLedReset)) {
    c.BlinkBoth("  Reset ");
    return;
  }
  c.JogModeScreen();
  if (enableHeld != 0 || jogMode == JogMode::ScreenSelect) c.ScreenPage();
}

}  // namespace km4r
