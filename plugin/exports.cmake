# The module's exported names, the one list the Windows .def file and the
# Linux version script are made from. The component model's self-registration
# functions are exported PRIVATE on Windows (no import-library entry).
set(KM4R_HOST_EXPORTS
    SetProName InitControl PostInitControl Config Update StopPlug
    DoDwell Reset JogOn JogOff Purge Probe Home
    SetDoButton SetSetDRO SetGetDRO SetGetLED SetSetLED SetCode)
set(KM4R_COM_EXPORTS DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow)
# What the last profile load or save came to, for the bench's `config` and
# `live` against the module a user installed (the module keeps no log); the
# pendant's status, for the LinuxCNC component's pins.
set(KM4R_TOOL_EXPORTS KM4R_ProfileOutcome KM4R_PendantStatus)
