// Child program: enrols the ids given on the command line into a record and reports the OS class
// and which present volume counts as the key, so tests can run the disk check as XP or Vista.
// Usage: corelib_probe_diskcheck <id>...   prints "class=<n> found=<0|1> id=<matching id>"
#include <windows.h>

#include <stdio.h>

#include "internal.h"
#include "testsupport.h"

int wmain(int argc, wchar_t** argv) {
    uinfo record = {};
    for (int i = 1; i < argc; ++i)
        if (!AddDriverUID(&record, argv[i])) printf("refused=%s\n", ts::Narrow(argv[i]).c_str());
    wchar_t id[260] = {};
    BOOL found = UP_CheckUDeskByDriveID1(&record, id);
    printf("class=%d found=%d id=%s\n", corelib::OsClass(), found, ts::Narrow(id).c_str());
    return 0;
}
