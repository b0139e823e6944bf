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

extern "C" {
// The host passes its profile name by value, as its compiler passes a
// HostString (platform/host_string.h); the call releases it exactly once.
KM4R_EXPORT const char* SetProName(km4r::platform::HostStringParam profileName);
KM4R_EXPORT bool InitControl(void* blockA, void* blockB, void* blockC, void* blockD);
KM4R_EXPORT void PostInitControl();
KM4R_EXPORT void Config();
KM4R_EXPORT void Update();
KM4R_EXPORT void StopPlug();

KM4R_EXPORT void DoDwell();
KM4R_EXPORT void Reset();
KM4R_EXPORT void JogOn();
KM4R_EXPORT void JogOff();
KM4R_EXPORT void Purge();
KM4R_EXPORT void Probe();
KM4R_EXPORT void Home();

KM4R_EXPORT void SetDoButton(km4r::host::DoButtonFn fn);
KM4R_EXPORT void SetSetDRO(km4r::host::SetDroFn fn);
KM4R_EXPORT void SetGetDRO(km4r::host::GetDroFn fn);
KM4R_EXPORT void SetGetLED(km4r::host::GetLedFn fn);
KM4R_EXPORT void SetSetLED(km4r::host::SetLedFn fn);
KM4R_EXPORT void SetCode(km4r::host::CodeFn fn);

KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllRegisterServer();
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllUnregisterServer();
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllGetClassObject(const void* clsid, const void* iid,
                                                       void** out);
KM4R_EXPORT int32_t KM4R_STDAPI_CALL DllCanUnloadNow();

// No host entry point: the bench's way to learn what became of the profile in
// the last SetProName, PostInitControl or Config (plugin/profile_outcome.h).
KM4R_EXPORT const char* KM4R_ProfileOutcome();
}
