#include "internal.h"

namespace gatehook {

namespace {
void WINAPI RealPause(DWORD ms) { Sleep(ms); }
}  // namespace

Seams g_seams = {
    ::LockWorkStation,
    RealPause,
    2000,     // key watch tick
    2000000,  // interval lock, 33 min 20 s
};

}  // namespace gatehook
