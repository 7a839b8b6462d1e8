// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

DWORD CORELIB_CALL CreateSharedMemory(void) {
    return 0;
}

BOOL CORELIB_CALL ReleaseSharedMemory(void) {
    return 0;
}

DWORD CORELIB_CALL WriteToSharedMemory(const void* data, DWORD size) {
    return 0;
}

DWORD CORELIB_CALL ReadFromSharedMemory(void* out, DWORD size) {
    return 0;
}

}  // extern "C"
