// The host initialises COM on its UI thread before it calls the plug-in; each
// test program on Windows does the same for its main thread, before main.
#include <objbase.h>

namespace {

const bool g_apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

}  // namespace
