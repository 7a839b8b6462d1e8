// Test build of Sentry: Porter gets 1.5 s instead of 10 s to lock, so that the end of a hung Porter
// can be watched from outside the service without waiting the real bound.
#include "sentrycore.h"

namespace {
struct QuickPorter {
    QuickPorter() { sentry::g_seams.porterWaitMs = 1500; }
} g_quickPorter;
}  // namespace
