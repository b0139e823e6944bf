// The session engine's sources of steps: kept scenarios, seeded random
// operators and hosts, the soak operator, and a regular host whose actions a
// plain model of the continuous jog predicts (the fuzzer is in tests/fuzz).
// Environment: docs/RELIABILITY.md, "Sessions".
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "pendant/pendant_window.h"
#include "tests/session/session.h"
#include "tests/support/rng.h"

namespace km4r::test {
namespace {

// --- Random sessions.

// A message loop in some host call: 25 to 200 ms, now and then a modal second.
void RandomPump(Rng& rng, Step& s) {
  s.pumpOn = "nnbsc"[rng.Below(5)];
  s.pumpAt = rng.Range(0, 6);
  s.pumpTicks = rng.Chance(5) ? 40 : rng.Range(1, 8);
}

int RandomUpdates(Rng& rng, int profile) {
  if (profile == 0) return rng.Chance(97) ? 0 : 1;
  if (profile == 1) return rng.Range(0, 2);
  if (profile == 2) return rng.Range(3, 40);
  if (profile == 3) return 1;
  return rng.Chance(80) ? rng.Range(0, 2) : rng.Range(0, 40);
}

// One position held throughout, no stop condition: only the wheel and the
// host's timing vary.
Scenario SteadyScenario(Rng& rng, int ticks) {
  Scenario sc;
  sc.steady = true;
  sc.delaySteps = rng.Chance(50) ? 0 : 5;
  sc.velocity = rng.Range(0, 9);
  struct Position {
    int mode, axisSel, stepSel;
  };
  static constexpr Position kPositions[] = {{1, 1, 1}, {1, 2, 1}, {1, 3, 1},
                                            {1, 1, 2}, {1, 2, 3}, {2, 2, 2}};
  const Position& p = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
  const int updateProfile = rng.Below(5);
  // Some hosts run a message loop in every call of one kind.
  const char always = " bsc"[rng.Below(4)];
  int dir = 1;
  Step s;
  s.mode = p.mode;
  s.axisSel = p.axisSel;
  s.stepSel = p.stepSel;
  s.led15 = rng.Chance(50) ? 1 : 0;
  // Every count of a steady step jog comes out as distance.
  s.tally = p.stepSel == 1 ? 1 : 0;
  while (static_cast<int>(sc.steps.size()) < ticks) {
    s.stall = 0;
    s.pumpAt = -1;
    s.pumpTicks = 0;
    // Under a host that always runs a loop the wheel mostly turns one way, so
    // that a jog that never starts shows.
    if (rng.Chance(always == ' ' ? 2 : 0)) dir = -dir;
    s.delta = rng.Chance(always == ' ' ? 95 : 99) ? dir * rng.Range(1, 6) : 0;
    s.speed = s.delta != 0 ? rng.Range(1, 255) : 0;
    s.updates = RandomUpdates(rng, updateProfile);
    if (rng.Chance(2)) s.stall = rng.Range(50, 500);
    if (always != ' ') {
      s.pumpOn = always;
      s.pumpTicks = rng.Range(1, 8);
    } else if (rng.Chance(30)) {
      RandomPump(rng, s);
    }
    sc.steps.push_back(s);
  }
  return sc;
}

Scenario RandomScenario(Rng& rng, int ticks) {
  Scenario sc;
  sc.autoSens = rng.Chance(40) ? rng.Range(1, 9) : 0;
  static constexpr int kDelays[] = {0, 5, 25, 100};
  sc.delaySteps = kDelays[rng.Below(4)];
  sc.velocity = rng.Range(0, 9);
  sc.ending = rng.Chance(50) ? Ending::StopPlug : Ending::DestroyWindow;
  struct Position {
    int mode, axisSel, stepSel;
  };
  static constexpr Position kPositions[] = {
      {1, 1, 2}, {1, 2, 2}, {1, 3, 3}, {1, 4, 3}, {2, 1, 2}, {2, 2, 3}, {3, 3, 2}, {3, 7, 3},
      {1, 1, 1}, {1, 2, 1}, {2, 5, 2}, {3, 6, 1}, {1, 1, 4}, {2, 4, 2}, {0, 1, 2}, {1, 9, 77}};
  // How often the host calls Update: never, at the cycle rate, or fast.
  const int updateProfile = rng.Below(5);
  Step cur;
  bool plugged = true;
  int resetDelay = -1;
  int dir = 1;
  while (static_cast<int>(sc.steps.size()) < ticks) {
    const Position& p = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
    cur.mode = p.mode;
    cur.axisSel = p.axisSel;
    cur.stepSel = p.stepSel;
    cur.led15 = rng.Chance(50) ? 1 : 0;
    for (int n = rng.Range(1, 60); n > 0; --n) {
      Step s = cur;
      s.event = Event::None;
      s.stall = 0;
      s.pumpAt = -1;
      s.pumpTicks = 0;
      if (rng.Chance(8)) dir = -dir;
      const bool turning = rng.Chance(75);
      s.delta = turning ? dir * rng.Range(0, 12) : 0;
      s.speed = turning ? (rng.Chance(90) ? rng.Range(1, 255) : 0) : (rng.Chance(10) ? 40 : 0);
      if (rng.Chance(2)) s.enable ^= 1;
      if (rng.Chance(2)) s.estop ^= 1;
      if (rng.Chance(3)) {
        const Position& q = kPositions[rng.Below(static_cast<int>(std::size(kPositions)))];
        s.mode = q.mode;
        s.axisSel = q.axisSel;
        s.stepSel = q.stepSel;
      }
      if (plugged && rng.Chance(2)) {
        s.event = rng.Chance(50) ? Event::Unplug : Event::MissedRemoval;
        plugged = false;
      } else if (!plugged && rng.Chance(10)) {
        s.event = rng.Chance(80) ? Event::Replug : Event::SilentReplug;
        plugged = true;
      } else if (rng.Chance(1)) {
        s.event = Event::Stranger;
      }
      // The host enters its reset some cycles after the E-stop, or never.
      if (s.estop != 0 && cur.estop == 0) resetDelay = rng.Chance(30) ? -1 : rng.Range(0, 15);
      if (s.estop != 0 && resetDelay == 0) s.reset = 1;
      if (resetDelay > 0) --resetDelay;
      if (s.estop == 0 && s.reset != 0 && rng.Chance(30)) s.reset = 0;
      if (s.estop == 0 && rng.Chance(1)) s.reset = 1;
      s.updates = RandomUpdates(rng, updateProfile);
      if (rng.Chance(2)) s.stall = rng.Range(50, 500);
      if (rng.Chance(6)) RandomPump(rng, s);
      sc.steps.push_back(s);
      cur = s;
    }
  }
  return sc;
}

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v == nullptr || *v == '\0' ? fallback : std::strtoull(v, nullptr, 10);
}

// --- Fidelity: a host with one Update per cycle and no message loop sees
// the continuous jog exactly as a plain model of its steps computes it
// (with the departures listed in docs/RELIABILITY.md). Axis X, mode 1, the
// step selector at 2 (velocity) or 3 (rate); LED 83 and LED 15 change.

struct ModelReport {
  int delta, speed, stepSel, led83, led15;
};

class ContinuousModel {
 public:
  ContinuousModel(int delaySteps, int divisor) : delay_(delaySteps), divisor_(divisor) {}

  // One cycle and the Update after it; host actions go to out.
  void Cycle(const ModelReport& r, std::vector<std::string>& out) {
    out_ = &out;
    const JogMode mode = r.stepSel == 2 ? JogMode::VelocityJog : JogMode::RateJog;
    if (mode != jogMode_) {
      Say("DoButton 334");
      history_.fill(0.0);
      rate_ = 0;
      ring_ = {0, 0};
    }
    jogMode_ = mode;
    counter_ = (counter_ + r.delta) & 0xFF;
    int n = 0;
    if (seen_) {
      const int d = (counter_ - last_ + 256) % 256;
      if (d != 0 && d != 128) {
        n = d < 128 ? d : 256 - d;
        dir_ = d < 128 ? 0 : 1;
      }
    }
    seen_ = true;
    last_ = counter_;
    if (running_ && runningMode_ != jogMode_) {
      End();
      Release();
    } else if (!running_ && started_ && runningMode_ != jogMode_) {
      Release();
    }
    Engine(r, n);
    directionTicks_ = std::min(directionTicks_ + 1, 1000);
    if (activeTicks_ > 0) --activeTicks_;
  }

 private:
  void Say(const std::string& s) { out_->push_back(s); }
  void End() {
    Say("Code \"ENDJOG\"");
    running_ = false;
  }
  void Release() {
    started_ = false;
    if (alt_) Say("DoButton 205");
    alt_ = false;
  }
  void Store(int n) {
    ringAt_ ^= 1;
    ring_[ringAt_] = n;
  }
  void Engine(const ModelReport& r, int n) {
    const int s = r.speed;
    const bool velocity = jogMode_ == JogMode::VelocityJog;
    if (n == 0) Store(0);
    if (dir_ != lastDir_ && (activeTicks_ > 0 || running_)) {
      End();
      if (velocity) history_.fill(0.0);
      rate_ = velocity ? rate_ : 0;
      directionTicks_ = 0;
      lastDir_ = dir_;
      return;
    }
    if (directionTicks_ < 3) return;
    if (s != 0) {
      activeTicks_ = 3;
      if (!velocity) rate_ += n;
      if (!r.led83) {
        if (running_ && ring_[0] + ring_[1] == 0) End();
        return;
      }
    }
    if (activeTicks_ == 0) {
      if (running_) End();
      if (!velocity) rate_ = 0;
      Release();
      if (velocity) history_.fill(0.0);
      return;
    }
    if (!velocity && rate_ < delay_ && !running_) return;
    if (n != 0) Store(n);
    if (ring_[0] + ring_[1] == 0) {
      End();
      return;
    }
    double v = 6000.0;  // DRO 3 at 50 % of 12000
    if (velocity) {
      static constexpr double kWeights[10] = {0.18, 0.36, 0.55, 0.73, 0.91,
                                              1.09, 1.27, 1.45, 1.64, 1.82};
      std::rotate(history_.begin(), history_.begin() + 1, history_.end());
      history_[9] = s;
      double w = 0.0;
      for (int i = 0; i < 10; ++i) w += kWeights[i] * history_[i];
      v = 12000.0 * std::min(1.0, w / 400.0 * 3.0 / divisor_);
    }
    if (s == 0) {
      End();
    } else {
      if (!started_) {
        alt_ = r.led15 != 0;
        if (alt_) Say("DoButton 204");
        started_ = true;
        runningMode_ = jogMode_;
      }
      Say("DOJOG " + std::to_string(static_cast<int>(v)) + " dir " + std::to_string(dir_));
      running_ = true;
    }
    lastDir_ = dir_;
  }

  int delay_, divisor_;
  std::vector<std::string>* out_ = nullptr;
  JogMode jogMode_ = JogMode::Idle;
  int counter_ = 0, last_ = 0, dir_ = 0, lastDir_ = 0;
  bool seen_ = false;
  std::array<double, 10> history_{};
  std::array<int, 2> ring_{};
  int ringAt_ = 0, rate_ = 0;
  int directionTicks_ = 100, activeTicks_ = 0;
  bool running_ = false, started_ = false, alt_ = false;
  JogMode runningMode_{};
};

TEST(Session, RegularHostSeesTheModelsJog) {
  const uint64_t cycles = FromEnvironment("KM4R_SAFETY_CYCLES", 20000);
  uint64_t ran = 0;
  for (uint64_t seed = 1; ran < cycles; ++seed) {
    Rng rng{seed};
    Scenario sc;
    sc.delaySteps = rng.Range(0, 30);
    sc.velocity = rng.Range(0, 9);
    static constexpr int kDivisors[10] = {3, 4, 5, 6, 7, 9, 11, 15, 20, 25};
    ContinuousModel model(sc.delaySteps, kDivisors[sc.velocity]);
    std::vector<ModelReport> reports;
    ModelReport r{0, 0, 2, 1, 0};
    int dir = 1;
    for (int t = rng.Range(50, 400); t > 0; --t) {
      if (rng.Chance(10)) dir = -dir;
      r.delta = rng.Chance(70) ? dir * rng.Range(0, 8) : 0;
      r.speed = r.delta != 0 || rng.Chance(10) ? rng.Range(0, 200) : 0;
      if (rng.Chance(3)) r.stepSel = 5 - r.stepSel;
      if (rng.Chance(3)) r.led83 ^= 1;
      if (rng.Chance(5)) r.led15 ^= 1;
      Step s;
      s.delta = r.delta, s.speed = r.speed, s.stepSel = r.stepSel, s.led15 = r.led15;
      s.sets = {{Knob::Led, host::code::kLedJogEnabled, static_cast<double>(r.led83)}};
      sc.steps.push_back(s);
      reports.push_back(r);
    }
    // The actions of one report's cycle and Update, the jog's from its record.
    std::size_t at = 0;
    const auto same = [&](const std::vector<std::string>& calls) {
      std::vector<std::string> got, want;
      for (const std::string& c : calls) {
        if (c == "DoButton 334" || c == "DoButton 204" || c == "DoButton 205" ||
            c == "Code \"ENDJOG\"")
          got.push_back(c);
        if (c != "Code \"DOJOG\"") continue;
        const auto field = [](std::size_t f) {
          return std::to_string(sim::InProcessHost::current->Get<int32_t>(
              sim::InProcessHost::current->blockA, host::JogRecordField(0, f)));
        };
        got.push_back("DOJOG " + field(host::offset::kJogSpeed) + " dir " +
                      field(host::offset::kJogDirection));
      }
      model.Cycle(reports[at++], want);
      EXPECT_EQ(got, want) << "seed " << seed << ", tick " << at;
      return got == want;
    };
    int tick = 0;
    ASSERT_EQ(RunSession(sc, &tick, nullptr, {}, same), "") << "seed " << seed;
    ran += reports.size();
  }
}

// --- The soak: one long session of an operator working through every part
// of the pendant, one activity at a time, against a host that calls Update 0
// to 2 times a cycle and now and then 3 to 40 times.
class SoakOperator {
 public:
  explicit SoakOperator(uint64_t cycles) : target_(cycles) {}

  // Appends the next activity's steps.
  bool operator()(std::vector<Step>& out) {
    out_ = &out;
    if (emitted_ >= target_) {
      if (done_) return false;
      done_ = true;
      Stop(12);
      return true;
    }
    if (emitted_ == 0) Stop(4);
    // Percent up to which each activity is picked.
    static constexpr std::pair<int, void (SoakOperator::*)()> kActivities[] = {
        {35, &SoakOperator::TalliedStepJog}, {45, &SoakOperator::FreeStepJog},
        {60, &SoakOperator::VelocityJog},    {70, &SoakOperator::RateJog},
        {85, &SoakOperator::FunctionModes},  {92, &SoakOperator::Screens},
        {96, &SoakOperator::Estop},          {100, &SoakOperator::PlugCycle}};
    const int pick = rng_.Below(100);
    for (const auto& [upTo, activity] : kActivities) {
      if (pick >= upTo) continue;
      (this->*activity)();
      break;
    }
    return true;
  }

 private:
  void Set(Knob k, int code, double v) { sets_.push_back(HostSet{k, code, v}); }
  void Setting(const char* key, double v) { sets_.push_back(SettingSet(key, v)); }
  void Cycle(int delta = 0) {
    Step s = p_;
    s.delta = delta;
    s.updates = rng_.Chance(5) ? rng_.Range(3, 40) : rng_.Below(3);
    s.sets.swap(sets_);
    s.event = event_;
    event_ = Event::None;
    out_->push_back(std::move(s));
    ++emitted_;
  }
  void Turn(int cycles, int minStep, int maxStep, int speedMin) {
    const int direction = rng_.Chance(50) ? 1 : -1;
    for (int i = 0; i < cycles; ++i) {
      const int step = rng_.Range(minStep, maxStep);
      p_.speed = step == 0 ? 0 : rng_.Range(speedMin, 255);
      Cycle(direction * step);
    }
  }
  void Stop(int cycles) {
    p_.speed = 0;
    for (int i = 0; i < cycles; ++i) Cycle();
  }
  void Select(int mode, int axisSel, int stepSel, int enable) {
    p_.mode = mode, p_.axisSel = axisSel, p_.stepSel = stepSel, p_.enable = enable;
    Stop(3);
  }

  // Jogging allowed: every count turned comes out as distance, also where
  // the host's move queue is full now and then and counts are held.
  void TalliedStepJog() {
    static constexpr double kIncrements[] = {0.0001, 0.001, 0.01, 0.1};
    static constexpr int kRates[] = {0, 100, 1500};
    Setting("AutoChangeSens", 0);
    Setting("StepJogRate", kRates[rng_.Below(3)]);
    Set(Knob::Field, 8, kIncrements[rng_.Below(4)]);
    Set(Knob::Field, 0, 0.0);
    Select(1, rng_.Range(1, 3), 1, 0);
    p_.tally = 1;
    for (int burst = rng_.Range(1, 6); burst > 0; --burst) {
      Set(Knob::Dro, host::code::kDroMoveLimit, rng_.Chance(25) ? 25.0 : 3.0);
      Turn(rng_.Range(1, 60), 0, 12, 1);
      Set(Knob::Dro, host::code::kDroMoveLimit, 3.0);
      Stop(rng_.Range(1, 4));
    }
    p_.tally = 0;
    Stop(2);
  }

  // Off the tally: automatic continuous jog, rotated X/Y moves, jogging
  // refused or switched off.
  void FreeStepJog() {
    Setting("AutoChangeSens", rng_.Range(0, 9));
    Set(Knob::Field, 0, rng_.Chance(50) ? 30.0 : 0.0);
    Set(Knob::Led, host::code::kLedJogEnabled, !rng_.Chance(15));
    Set(Knob::Led, host::code::kLedRun, rng_.Chance(15));
    Set(Knob::Led, host::code::kLedRunOverride, rng_.Chance(50));
    Select(rng_.Chance(80) ? 1 : 2, rng_.Range(1, 4), 1, 0);
    Turn(rng_.Range(5, 200), 0, 20, 1);
    Stop(4);
    Setting("AutoChangeSens", 0);
    Set(Knob::Led, host::code::kLedJogEnabled, 1);
    Set(Knob::Led, host::code::kLedRun, 0);
    Set(Knob::Field, 0, 0.0);
  }

  void VelocityJog() { ContinuousJog(false); }
  void RateJog() { ContinuousJog(true); }
  void ContinuousJog(bool rate) {
    static constexpr int kDelays[] = {0, 5, 25, 100};
    Setting("DelaySteps", kDelays[rng_.Below(4)]);
    Setting("VelocityInAuto", rng_.Range(0, 9));
    Select(1, rng_.Range(1, 4), rate ? 3 : 2, 0);
    for (int part = rng_.Range(1, 4); part > 0; --part) {
      Turn(rng_.Range(1, 300), 0, 10, 1);
      if (rng_.Chance(30)) Stop(rng_.Range(0, 3));
    }
    Stop(4);
  }

  void FunctionModes() {
    struct Position {
      int mode, axisSel, stepSel;
    };
    static constexpr Position kPositions[] = {{3, 6, 1}, {3, 4, 1}, {3, 5, 1}, {3, 1, 6}, {2, 1, 4},
                                              {2, 2, 5}, {2, 6, 1}, {1, 1, 4}, {1, 2, 5}, {1, 3, 6},
                                              {1, 5, 3}, {2, 4, 2}, {0, 1, 1}, {1, 9, 77}};
    const Position& at = kPositions[rng_.Below(static_cast<int>(std::size(kPositions)))];
    Select(at.mode, at.axisSel, at.stepSel, 0);
    Turn(rng_.Range(1, 80), 0, 6, 1);
    Stop(4);
  }

  void Screens() {
    Setting("ScreenSel2", rng_.Range(0, 6));
    if (rng_.Chance(50)) {
      Select(1, 1, rng_.Range(4, 6), 1);
    } else {
      Select(2, rng_.Range(4, 6), 1, 1);
    }
    for (int i = rng_.Range(1, 5); i > 0; --i) {
      Turn(rng_.Range(1, 10), 1, 3, 1);
      Stop(rng_.Range(1, 5));
    }
    p_.enable = 0;
    Stop(3);
  }

  void Estop() {
    p_.estop = 1;
    Stop(rng_.Range(1, 5));
    p_.reset = 1;
    Stop(rng_.Range(1, 20));
    p_.estop = 0;
    Stop(rng_.Range(1, 5));
    p_.reset = 0;
    Stop(2);
  }

  // The pendant goes (with or without a removal message) and comes back.
  void PlugCycle() {
    if (rng_.Chance(50)) {
      Select(1, rng_.Range(1, 3), 2, 0);
      Turn(rng_.Range(3, 30), 1, 8, 20);
    }
    event_ = rng_.Below(4) != 0 ? Event::Unplug : Event::MissedRemoval;
    Stop(rng_.Range(1, 40));
    event_ = Event::Replug;
    Cycle();
    if (rng_.Chance(10)) event_ = Event::Stranger;
    Stop(3);
  }

  Rng rng_{20240607};
  uint64_t target_, emitted_ = 0;
  bool done_ = false;
  Step p_;
  Event event_ = Event::None;
  std::vector<HostSet> sets_;
  std::vector<Step>* out_ = nullptr;
};

TEST(Session, KeptScenariosHold) {
  namespace fs = std::filesystem;
  int files = 0;
  // KM4R_SAFETY_DIR replays the .safety files of another folder (a shrunk one).
  const char* dir = std::getenv("KM4R_SAFETY_DIR");
  for (const auto& entry : fs::directory_iterator(dir != nullptr ? dir : KM4R_SCENARIO_DIR)) {
    if (entry.path().extension() != ".safety") continue;
    ++files;
    Scenario sc;
    std::string error;
    std::stringstream text;
    text << std::ifstream(entry.path()).rdbuf();
    ASSERT_TRUE(ParseScenario(text.str(), &sc, &error)) << entry.path() << ": " << error;
    int tick = 0;
    EXPECT_EQ(RunSession(sc, &tick), "") << entry.path().filename();
  }
  EXPECT_GT(files, 0);
}

TEST(Session, ScenarioTextRoundTrips) {
  Rng rng{7};
  Scenario sc = RandomScenario(rng, 300);
  sc.steps[5].sets = {{Knob::Field, 8 * 8 + 2, 12000},
                      {Knob::Setting, 7, -5},
                      {Knob::Latency, 0, 30},
                      {Knob::Dro, 22, 1e300},
                      {Knob::Led, 804, 1}};
  sc.steps[6].cycles = 0;
  sc.steps[7].send = false;
  sc.steps[8].tally = 1;
  Scenario back;
  std::string error;
  ASSERT_TRUE(ParseScenario(FormatScenario(sc), &back, &error)) << error;
  EXPECT_EQ(FormatScenario(back), FormatScenario(sc));
}

TEST(Session, RandomSessionsHold) {
  const uint64_t cycles = FromEnvironment("KM4R_SAFETY_CYCLES", 20000);
  uint64_t seed = FromEnvironment("KM4R_SAFETY_SEED", 1);
  uint64_t ran = 0;
  for (; ran < cycles; ++seed) {
    Rng rng{seed};
    const int ticks = rng.Range(50, 800);
    const Scenario sc = seed % 3 == 0 ? SteadyScenario(rng, ticks) : RandomScenario(rng, ticks);
    int tick = 0;
    const std::string fault = RunSession(sc, &tick);
    ran += sc.steps.size();
    if (fault.empty()) continue;
    const Scenario small = Shrink(sc);
    const std::string text = FormatScenario(small);
    const std::string path = "safety-seed-" + std::to_string(seed) + ".safety";
    std::ofstream(path) << "# " << RunSession(small, &tick) << "\n" << text;
    FAIL() << "seed " << seed << ": " << fault << "\nshrunk to " << path << ":\n" << text;
  }
  std::printf("%llu random cycles, seeds up to %llu\n", static_cast<unsigned long long>(ran),
              static_cast<unsigned long long>(seed - 1));
}

TEST(Session, Soak) {
  const uint64_t cycles = FromEnvironment("KM4R_SOAK_CYCLES", 1000000);
  SessionStats st;
  int tick = 0;
  EXPECT_EQ(RunSession(Scenario{}, &tick, &st, SoakOperator(cycles)), "");
  std::cout << st.cycles << " cycles (" << st.cycles * 0.025 / 3600.0 << " h of use): " << st.moves
            << " moves, " << st.doJogs << " DOJOG, " << st.endJogs << " ENDJOG, " << st.buttons
            << " buttons, " << st.droWrites << " DRO writes, " << st.tallies
            << " tallied step-jog segments over " << st.talliedCounts << " counts, " << st.replugs
            << " replugs\n";
  // The session reached every part it claims to cover.
  EXPECT_GE(st.cycles, cycles);
  if (cycles >= 100000) {
    EXPECT_GT(st.moves, 1000u);
    EXPECT_GT(st.doJogs, 1000u);
    EXPECT_GT(st.tallies, 50u);
    EXPECT_GT(st.replugs, 10u);
  }
}

}  // namespace
}  // namespace km4r::test
