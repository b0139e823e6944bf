// The names of the plug-in's exported entry points, apart from their
// declarations so that code which sees the platform's own declarations of the
// self-registration functions (windows.h) can use the list too.
#pragma once

namespace km4r {
// Every exported name, for export-table checks.
inline constexpr const char* kExportedNames[] = {
    "SetProName",
    "InitControl",
    "PostInitControl",
    "Config",
    "Update",
    "StopPlug",
    "DoDwell",
    "Reset",
    "JogOn",
    "JogOff",
    "Purge",
    "Probe",
    "Home",
    "SetDoButton",
    "SetSetDRO",
    "SetGetDRO",
    "SetGetLED",
    "SetSetLED",
    "SetCode",
    "DllRegisterServer",
    "DllUnregisterServer",
    "DllGetClassObject",
    "DllCanUnloadNow",
};
}  // namespace km4r
