// Linked into every test program: a program killed by its time-out (before its TearDown) can leave the
// AUTO_START "Sentry" service behind, and every later program that expects no service, no alert event
// and no lock mapping would go red for it. Each program therefore starts by removing such a leftover,
// and fails at once, saying why, when the service's named objects still exist afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "leftovers.h"
#include "services.h"

namespace ts {

const wchar_t kServiceName[] = L"Sentry";
const wchar_t* const kServiceObjects[] = {L"Global\\AlertServiceEvent", L"Global\\ZARNSHARD"};

bool NamedObjectExists(const wchar_t* name) {
    if (HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, name)) {
        CloseHandle(e);
        return true;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return true;  // a mapping of that name answers ERROR_INVALID_HANDLE
    if (HANDLE m = OpenFileMappingW(FILE_MAP_READ, FALSE, name)) {
        CloseHandle(m);
        return true;
    }
    return GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::wstring LeftoverServiceObject() {
    for (const wchar_t* name : kServiceObjects)
        if (NamedObjectExists(name)) return name;
    return L"";
}

bool RemoveLeftoverService() {
    bool found = ServiceState(kServiceName) != 0;
    if (found) RemoveService(kServiceName);
    // The stopped service's process may take a moment to go and take its objects with it.
    WaitFor([] { return LeftoverServiceObject().empty(); }, found ? 5000 : 0);
    return found;
}

namespace {

class LeftoverServiceCheck : public ::testing::Environment {
  public:
    void SetUp() override {
        if (RemoveLeftoverService())
            fprintf(stderr, "note: removed a \"Sentry\" service left behind by an earlier program\n");
        ASSERT_EQ(ServiceState(kServiceName), 0u) << "a leftover \"Sentry\" service could not be removed";
        const std::wstring left = LeftoverServiceObject();
        ASSERT_TRUE(left.empty()) << "the named object " << std::string(left.begin(), left.end())
                                  << " still exists before any test ran: a process of an earlier program holds it";
    }
};

// Unbuffered output: a program that dies mid-test still shows every line it printed before, and one
// that shows nothing at all never reached its main (the runner tells those apart).
const int g_unbufferedOutput = setvbuf(stdout, nullptr, _IONBF, 0);

::testing::Environment* const g_leftoverCheck = ::testing::AddGlobalTestEnvironment(new LeftoverServiceCheck);

}  // namespace
}  // namespace ts
