// One session engine: the real entry points on the virtual pendant, on a
// virtual clock, driven step by step against the one in-process host, with
// every invariant of docs/RELIABILITY.md checked at every host call and after
// every cycle. The random sessions, the soak, the report-cycle fuzzer and the
// kept scenarios (scenarios/*.safety) only differ in where the steps come from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace km4r::test {

enum class Event : uint8_t { None, Unplug, MissedRemoval, Replug, SilentReplug, Stranger };
enum class Ending : uint8_t { StopPlug, DestroyWindow };

// A host value a step sets before its cycles: an LED, a DRO, a field of the
// host's blocks (kHostFields), a setting (kSettingDescriptors) or the
// pendant's read latency in ms.
enum class Knob : uint8_t { Led, Dro, Field, Setting, Latency };
struct HostSet {
  Knob knob;
  int code;
  double value;
};
HostSet SettingSet(const char* key, double value);

// What the pendant reports and what the host does, for `cycles` timer
// periods (0: the host acts between two cycles).
struct Step {
  int delta = 0;  // wheel counts since the previous step, signed
  int speed = 0;
  int axisSel = 1, stepSel = 1, mode = 1, enable = 0, estop = 0;
  Event event = Event::None;
  int cycles = 1;
  int send = 1;  // the pendant sends a report (once, at the step's start)
  int updates = 1;
  int stall = 0;      // ms the host's thread is busy before the step
  int pumpAt = -1;    // the host call of this step that runs a message loop
  int pumpTicks = 0;  // steps it runs (the next ones, delivered inside it)
  char pumpOn = 'n';  // n: call number pumpAt; b: DoButton(204); s: SetDRO; c: Code
  int reset = 0;
  int led15 = 0;
  // While set, every count read must come out as distance on the selected
  // axis; checked when it is cleared and at the end, once held counts drained.
  int tally = 0;
  std::vector<HostSet> sets;
};

struct Scenario {
  // ready: a host ready to jog with these settings; otherwise the host's
  // blocks, LEDs and DROs start at zero and the module's defaults stand.
  bool ready = true;
  int autoSens = 0, delaySteps = 25, velocity = 5;
  // A steady operator: a steady turn in a continuous position gets its jog.
  bool steady = false;
  Ending ending = Ending::StopPlug;
  std::vector<Step> steps;
};

struct SessionStats {
  uint64_t cycles = 0, moves = 0, doJogs = 0, endJogs = 0, buttons = 0, droWrites = 0;
  uint64_t tallies = 0, talliedCounts = 0, replugs = 0;
};

// Appends the next steps; false once the session is over.
using MoreSteps = std::function<bool(std::vector<Step>&)>;

// Sees the host actions of every outermost step as the host recorded them
// ("DoButton 334", "Code \"ENDJOG\""); false is a fault. Allocations are not
// counted meanwhile.
using StepActions = std::function<bool(const std::vector<std::string>&)>;

// Runs the scenario (then what more appends); returns the first broken
// invariant ("" if none) and the step it broke at.
std::string RunSession(const Scenario& sc, int* atStep, SessionStats* stats = nullptr,
                       const MoreSteps& more = {}, const StepActions& watch = {});

// The kept-scenario text: a settings line, then one line per step with only
// the fields that differ from the step before.
std::string FormatScenario(const Scenario& sc);
bool ParseScenario(const std::string& text, Scenario* sc, std::string* error);

// A smaller scenario that breaks the same invariant: fewer steps, then
// plainer steps.
Scenario Shrink(Scenario sc);

}  // namespace km4r::test
