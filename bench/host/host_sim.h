// The host side of the plug-in boundary as the bench plays it: the three host
// memory blocks (zero-filled, at least as large as every field the plug-in
// touches) and the DRO and LED tables the callbacks answer from.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/scenario_parser.h"
#include "plugin/host_interface.h"

namespace km4r::bench {

class HostState {
 public:
  HostState();
  ~HostState();
  HostState(const HostState&) = delete;
  HostState& operator=(const HostState&) = delete;

  host::Blocks Blocks(void* window) {
    return host::Blocks{blockA.data(), blockB.data(), blockC.data(), window};
  }
  void* Block(FieldBlock b);

  // Codes are 16-bit; the tables cover all of them.
  double Dro(short code) const { return dro_[static_cast<uint16_t>(code)]; }
  void SetDro(short code, double v) { dro_[static_cast<uint16_t>(code)] = v; }
  bool Led(short code) const { return led_[static_cast<uint16_t>(code)] != 0; }
  void SetLed(short code, bool on) { led_[static_cast<uint16_t>(code)] = on ? 1 : 0; }

  // Writes a settable field (see SettableFields) with the command's value.
  void SetField(const FieldInfo& field, int index, int64_t intValue, double value);

  // The axis's jog record asks for a jog: start requested, stop not (what a
  // "DOJOG" starts).
  bool JogRequested(int axis) const {
    const unsigned char* a = blockA.data();
    return host::Load<uint8_t>(a, host::JogRecordField(axis, host::offset::kJogStartRequest)) ==
               1 &&
           host::Load<uint8_t>(a, host::JogRecordField(axis, host::offset::kJogStopRequest)) == 0;
  }

  // The status text the plug-in last assigned ("" if none).
  const char* StatusText() const;

  std::vector<unsigned char> blockA, blockB, blockC;

 private:
  std::vector<double> dro_;
  std::vector<uint8_t> led_;
};

}  // namespace km4r::bench
