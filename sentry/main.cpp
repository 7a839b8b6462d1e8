// Sentry.exe: the lock monitor service, and its own installer and controller.
#include "sentrycore.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return sentry::SentryMain(instance, commandLine);
}
