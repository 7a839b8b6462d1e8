// Test build of Sentry: the interval lock fires every 1.5 s instead of every 41 minutes, so that the
// timer path and its re-arming can be watched from outside the service.
#include "sentrycore.h"

namespace {
struct ShortPeriod {
    ShortPeriod() { sentry::g_seams.intervalMs = 1500; }
} g_shortPeriod;
}  // namespace
