// Test build of Sentry: a lock that did not take is tried again every 300 ms instead of every 2 s, so
// that several retries, and their end, can be watched from outside the service without waiting the
// real period.
#include "sentrycore.h"

namespace {
struct ShortRetry {
    ShortRetry() { sentry::g_seams.retryMs = 300; }
} g_shortRetry;
}  // namespace
