// The loader's entry: process attach creates the ServiceLock, process detach
// closes it. Nothing else happens here: no COM call, no release of the
// service objects, no apartment left.
#include <windows.h>

#include "frame/library_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return qz45::AttachProcess() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        qz45::DetachProcess();
        return TRUE;
    default:
        return TRUE;
    }
}
