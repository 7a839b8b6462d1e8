#include "seams.h"

namespace warden {

namespace {
constexpr Seams kBuiltIn = {
    Shell_NotifyIconW,
    OpenEventLogW,
    ReadEventLogA,
    CloseEventLog,
};
}  // namespace

Seams DefaultSeams() { return kBuiltIn; }

Seams g_seams = kBuiltIn;

}  // namespace warden
