# The names a host looks up in the module, written out apart from the build's
# own list so that the export checks compare against an independent one.
set(expected_exports SetProName InitControl PostInitControl Config Update StopPlug DoDwell Reset
    JogOn JogOff Purge Probe Home SetDoButton SetSetDRO SetGetDRO SetGetLED SetSetLED SetCode
    DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow KM4R_ProfileOutcome
    KM4R_PendantStatus)
