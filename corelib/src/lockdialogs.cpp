// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

IWindowUI* CORELIB_CALL GetWindowUI(void) {
    return nullptr;
}

}  // extern "C"
