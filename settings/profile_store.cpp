#include "settings/profile_store.h"

#include "plugin/module_state.h"

namespace km4r {

// TODO: load and save the XML profile; until then the store holds nothing.
ProfileStore::ProfileStore() : path_(Module().profilePath) {}
ProfileStore::~ProfileStore() = default;

int32_t ProfileStore::GetInt(const char*, const char*, int32_t defaultValue) {
  return defaultValue;
}
void ProfileStore::SetInt(const char*, const char*, int32_t) {}

}  // namespace km4r
