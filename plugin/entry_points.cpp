// The exported entry points. Each one runs on the host's UI thread; none lets
// an exception escape into the host, and none crashes when the host calls out
// of order.
#include <cstring>
#include <new>

#include "pendant/pendant_window.h"
#include "platform/module_info.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "plugin/profile_outcome.h"
#include "settings/config_dialog.h"
#include "settings/profile_store.h"

using km4r::Module;

namespace {

constexpr const char* kNameSuffix = " Pendant --Harbrook Ver 3.3.0";

template <typename F>
void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (...) {
    // Nothing may unwind into the host; the call simply has no effect.
  }
}

}  // namespace

extern "C" {

const char* SetProName(km4r::platform::HostStringParam profileName) {
  Guarded([&] {
    // Owns the argument from here on: released once, however the call ends.
    const auto name = km4r::platform::HostString::FromParam(profileName);
    auto& m = Module();
    m.profilePath = name.c_str();
    km4r::ProfileStore store;  // loads, and saves when it goes out of scope
    km4r::NoteProfileLoad(store);
    m.pluginName = km4r::platform::ModuleFileTitle() + kNameSuffix;
  });
  return Module().pluginName.c_str();
}

bool InitControl(void* blockA, void* blockB, void* blockC, void* blockD) {
  Guarded([&] {
    auto& m = Module();
    m.blocks = km4r::host::Blocks{blockA, blockB, blockC, blockD};
    // A second InitControl replaces the window rather than leaking it.
    km4r::PendantWindow* old = m.window;
    m.window = nullptr;
    if (old != nullptr) old->Shutdown();
    km4r::ReleaseWindow(old);
    m.window = new km4r::PendantWindow();
    m.window->Create(static_cast<km4r::platform::HostWindow*>(blockD), 0, 0, 10, 10, 1);
  });
  return true;
}

void PostInitControl() {
  Guarded([] {
    auto& m = Module();
    km4r::ProfileStore store;
    km4r::NoteProfileLoad(store);
    if (m.window != nullptr) m.window->OpenPendant();
    km4r::LoadPendantSettings(store, m.settings);
  });
}

void Config() {
  // The dialog's message loop can dispatch a host message that calls Config
  // again: the dialog is already open, so that call does nothing.
  static bool open = false;
  if (open) return;
  open = true;
  Guarded([] {
    auto& m = Module();
    m.profileOutcome.clear();
    // The profile is read again after the dialog, so that what another
    // program wrote meanwhile is kept.
    auto shown = km4r::platform::DialogResult::Cancel;
    const km4r::ProfileSaveResult saved = km4r::EditPendantSettings(
        m.settings, [&shown](km4r::PendantSettings& s) { shown = km4r::RunConfigDialog(s); },
        [](const km4r::ProfileSaveResult& prospect) {
          km4r::platform::ShowNotice(km4r::ConfigWarning(prospect).c_str());
        });
    km4r::ReportConfigOutcome(shown, saved);
  });
  open = false;
}

void Update() {
  Module().ticks.Advance();
}

void StopPlug() {
  Guarded([] {
    auto& m = Module();
    km4r::PendantWindow* window = m.window;
    // Cleared first so a second StopPlug, or a late timer message, finds nothing.
    m.window = nullptr;
    // A running jog gets its "ENDJOG" now: no cycle will come to send it.
    if (window != nullptr) window->Shutdown();
    // From inside a host callback the cycle that made it still runs: the
    // window goes when that cycle returns.
    km4r::ReleaseWindow(window);
  });
}

void DoDwell() {}
void Reset() {}
void JogOn() {}
void JogOff() {}
void Purge() {}
void Probe() {}
void Home() {}

void SetDoButton(km4r::host::DoButtonFn fn) {
  Module().callbacks.doButton = fn;
}
void SetSetDRO(km4r::host::SetDroFn fn) {
  Module().callbacks.setDro = fn;
}
void SetGetDRO(km4r::host::GetDroFn fn) {
  Module().callbacks.getDro = fn;
}
void SetGetLED(km4r::host::GetLedFn fn) {
  Module().callbacks.getLed = fn;
}
void SetSetLED(km4r::host::SetLedFn fn) {
  Module().callbacks.setLed = fn;
}
void SetCode(km4r::host::CodeFn fn) {
  Module().callbacks.code = fn;
}

int32_t KM4R_STDAPI_CALL DllRegisterServer() {
  int32_t result = static_cast<int32_t>(0x80040200u);
  Guarded([&] { result = km4r::platform::RegisterServer(); });
  return result;
}

int32_t KM4R_STDAPI_CALL DllUnregisterServer() {
  int32_t result = static_cast<int32_t>(0x80040200u);
  Guarded([&] { result = km4r::platform::UnregisterServer(); });
  return result;
}

int32_t KM4R_STDAPI_CALL DllGetClassObject(const void* clsid, const void* iid, void** out) {
  int32_t result = static_cast<int32_t>(0x80040111u);
  Guarded([&] { result = km4r::platform::GetClassObject(clsid, iid, out); });
  return result;
}

int32_t KM4R_STDAPI_CALL DllCanUnloadNow() {
  return km4r::platform::CanUnloadNow();
}

static_assert(sizeof(KM4R_PendantStatusRecord) == 8, "the record's C layout is fixed");

void KM4R_PendantStatus(KM4R_PendantStatusRecord* out) {
  if (out == nullptr) return;
  const auto& m = Module();
  const km4r::PendantWindow* w = m.window;
  const bool jogging =
      w != nullptr && w->connected != 0 && !w->shutDown &&
      (w->jogMode == km4r::JogMode::StepJog || w->jogMode == km4r::JogMode::VelocityJog ||
       w->jogMode == km4r::JogMode::RateJog);
  const KM4R_PendantStatusRecord status{jogging ? w->axisIndex : -1, m.decodeErrors};
  std::memcpy(out, &status, sizeof status);
}

}  // extern "C"
