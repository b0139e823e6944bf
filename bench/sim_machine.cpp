#include "bench/sim_machine.h"

#include <cstdlib>
#include <cstring>

#include "plugin/host_interface.h"

namespace km4r::bench {

namespace {

constexpr const char kAxisLetters[] = "XYZABC";

int AxisOfLetter(char c) {
  const char* p = std::strchr(kAxisLetters, c);
  return (p == nullptr || c == '\0') ? -1 : static_cast<int>(p - kAxisLetters);
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool ParseIncrementalMove(const char* text, std::array<double, 6>* delta) {
  delta->fill(0.0);
  if (text == nullptr || std::strstr(text, "G91") == nullptr) return false;
  bool any = false;
  const char* p = text;
  while (*p != '\0') {
    if (!IsLetter(*p)) {
      ++p;
      continue;
    }
    const char letter = *p++;
    while (*p == ' ') ++p;
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) continue;  // a letter without a number (a command word)
    p = end;
    const int axis = AxisOfLetter(letter);
    if (axis >= 0) {
      (*delta)[static_cast<std::size_t>(axis)] += v;
      any = true;
    }
  }
  return any;
}

void SimMachine::SetEnabled(bool on) {
  enabled_ = on;
  if (!on) jogging_.fill(false);
}

double SimMachine::Position(int axis) const {
  return host_.dro[host::code::kDroAxisPositionBase + axis];
}

void SimMachine::Code(const char* text) {
  if (!enabled_ || text == nullptr) return;
  if (std::strcmp(text, "DOJOG") == 0) {
    for (int axis = 0; axis < host::kAxisCount; ++axis)
      if (host_.JogRequested(axis)) jogging_[static_cast<std::size_t>(axis)] = true;
    return;
  }
  if (std::strcmp(text, "ENDJOG") == 0) {
    jogging_.fill(false);
    return;
  }
  std::array<double, 6> delta{};
  if (!ParseIncrementalMove(text, &delta)) return;
  for (int axis = 0; axis < host::kAxisCount; ++axis) {
    host_.dro[host::code::kDroAxisPositionBase + axis] += delta[static_cast<std::size_t>(axis)];
  }
}

void SimMachine::DoButton(short code) {
  if (!enabled_) return;
  if (code >= host::code::kButtonZeroX && code <= host::code::kButtonZeroX + 3) {
    host_.dro[host::code::kDroAxisPositionBase + (code - host::code::kButtonZeroX)] = 0.0;
  } else if (code == host::code::kButtonEstop) {
    const bool engaged = !host_.led[host::code::kLedReset];
    host_.led[host::code::kLedReset] = engaged;
    if (engaged) jogging_.fill(false);
  }
}

void SimMachine::SetDro(short code, double value) {
  if (!enabled_ || !followStepSize_ || code != host::code::kDroStepSize) return;
  host::Store(host_.blockC.data(), host::offset::kStepIncrement, value);
}

void SimMachine::Advance(uint32_t ms) {
  if (!enabled_) return;
  const unsigned char* a = host_.blockA.data();
  for (int axis = 0; axis < host::kAxisCount; ++axis) {
    if (!jogging_[static_cast<std::size_t>(axis)]) continue;
    const auto speed = host::Load<int32_t>(a, host::JogRecordField(axis, host::offset::kJogSpeed));
    const auto dir =
        host::Load<int32_t>(a, host::JogRecordField(axis, host::offset::kJogDirection));
    const double distance = static_cast<double>(speed) * ms / 60000.0;
    host_.dro[host::code::kDroAxisPositionBase + axis] += dir == 0 ? distance : -distance;
  }
}

}  // namespace km4r::bench
