#include "bench/host_state.h"

#include "platform/host_string.h"

namespace km4r::bench {

HostState::HostState()
    : blockA(host::kBlockASize, 0),
      blockB(host::kBlockBSize, 0),
      blockC(host::kBlockCSize, 0),
      dro_(65536, 0.0),
      led_(65536, 0) {
  platform::HostString::EmptyAt(blockC.data() + host::offset::kStatusText);
}

HostState::~HostState() {
  platform::HostString::ReleaseAt(blockC.data() + host::offset::kStatusText);
}

void* HostState::Block(FieldBlock b) {
  switch (b) {
    case FieldBlock::A:
      return blockA.data();
    case FieldBlock::B:
      return blockB.data();
    case FieldBlock::C:
      return blockC.data();
  }
  return nullptr;
}

void HostState::SetField(const FieldInfo& field, int index, int64_t intValue, double value) {
  const std::size_t at = field.offset + (field.indexed ? 4 * static_cast<std::size_t>(index) : 0);
  void* block = Block(field.block);
  switch (field.type) {
    case FieldType::Byte:
      host::Store(block, at, static_cast<uint8_t>(intValue));
      break;
    case FieldType::Int32:
      host::Store(block, at, static_cast<int32_t>(intValue));
      break;
    case FieldType::Double:
      host::Store(block, at, value);
      break;
  }
}

const char* HostState::StatusText() const {
  return platform::HostString::TextAt(blockC.data() + host::offset::kStatusText);
}

}  // namespace km4r::bench
