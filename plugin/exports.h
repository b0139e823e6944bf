// The plug-in's exported entry points, under their plain C names. The host
// finds them by name; the bench and the tests use these declarations for the
// function-pointer types.
#pragma once

#include <cstdint>

#include "platform/host_string.h"
#include "plugin/host_interface.h"

#if defined(_WIN32)
#define KM4R_EXPORT
// The self-registration functions are the component model's STDAPI:
// __stdcall on i686 (the callee pops its arguments); x86_64 has one convention.
#define KM4R_STDAPI_CALL __stdcall
#else
#define KM4R_EXPORT __attribute__((visibility("default")))
#define KM4R_STDAPI_CALL
#endif

// Each entry point's note says which thread calls it, whether it may come from
// inside a host callback (plugin/host_calls.h) and whether it pumps messages
// itself (a host callback it makes may pump all the same).
// "UI thread" is the host's thread that pumps the plug-in window's messages
// (on Linux, the thread of the host window's message loop). Any entry point
// may be called back from inside a host callback; a timer message the host
// dispatches inside one runs a report cycle that starts no motion (it may
// still end a jog and forward the pendant's E-stop).
extern "C" {
// The host passes its profile name by value, as its compiler passes a
// HostString (platform/host_string.h); the call releases it exactly once.
// UI thread; may come inside a callback; pumps none; reads and re-saves the profile.
KM4R_EXPORT const char* SetProName(km4r::platform::HostStringParam profileName);
// UI thread; inside a callback the window it replaces goes once the handler returns; pumps none.
KM4R_EXPORT bool InitControl(void* blockA, void* blockB, void* blockC, void* blockD);
// UI thread; may come inside a callback; pumps none; calls the host only to end a lost jog.
KM4R_EXPORT void PostInitControl();
// UI thread; may come inside a callback; the Windows dialog pumps (cycles run), the terminal not.
KM4R_EXPORT void Config();
// UI thread; may come inside a callback; pumps none; only advances the tick counters.
KM4R_EXPORT void Update();
// UI thread; inside a callback every later callback is skipped; pumps none; ends a running jog.
KM4R_EXPORT void StopPlug();

// These seven do nothing, from any thread, inside a callback or not.
KM4R_EXPORT void DoDwell();
KM4R_EXPORT void Reset();
KM4R_EXPORT void JogOn();
KM4R_EXPORT void JogOff();
KM4R_EXPORT void Purge();
KM4R_EXPORT void Probe();
KM4R_EXPORT void Home();

// The setters: UI thread; inside a callback the new function serves the next call; pump none.
KM4R_EXPORT void SetDoButton(km4r::host::DoButtonFn fn);
KM4R_EXPORT void SetSetDRO(km4r::host::SetDroFn fn);
KM4R_EXPORT void SetGetDRO(km4r::host::GetDroFn fn);
KM4R_EXPORT void SetGetLED(km4r::host::GetLedFn fn);
KM4R_EXPORT void SetSetLED(km4r::host::SetLedFn fn);
KM4R_EXPORT void SetCode(km4r::host::CodeFn fn);

// Any thread (the component runtime's, a registration tool's); no module state; pump none.
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllRegisterServer();
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllUnregisterServer();
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllGetClassObject(const void* clsid, const void* iid,
                                                       void** out);
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllCanUnloadNow();

// No host entry point: the bench's way to learn what became of the profile in
// the last SetProName, PostInitControl or Config (plugin/profile_outcome.h).
// The bench's UI thread, after the call it asks about; pumps none.
KM4R_EXPORT const char* KM4R_ProfileOutcome();

// What a host with controls of its own (the LinuxCNC component) needs of the
// pendant beyond the six callbacks. Fixed layout, 8 bytes.
struct KM4R_PendantStatusRecord {
  // The axis the selectors give the wheel to jog (0 X, 1 Y, 2 Z, 3 A, 4 B),
  // or -1: no pendant connected, or the wheel adjusts something else.
  int32_t jogAxis;
  // Input reports read that were not the pendant's (wrong length or report
  // id) since the module loaded; wraps.
  uint32_t decodeErrors;
};
// No host entry point. UI thread, between cycles or inside a callback; pumps
// none; only reads module state. A null pointer is ignored.
KM4R_EXPORT void KM4R_PendantStatus(KM4R_PendantStatusRecord* out);
}
