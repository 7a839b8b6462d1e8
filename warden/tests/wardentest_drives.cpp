// The test build's drive-letter lookup. Wine maps no drive letter to a volume interface, so
// "drives.txt" beside the program names, for the test bed's removable letters, the id of a
// fabricated USB volume: one "R=<id>" a line, UTF-8. A named letter gives its id only while that
// volume is present, as Corelib's own lookup would: Corelib's search over the present volumes
// confirms it. Every other letter goes to Corelib's lookup. The slot calls stay Corelib's own.
//
// The same install also writes the program's whole command line into "seams.log" ("commandline
// ..."): how a restarted panel was started, quotes included, which wWinMain's tail does not show.
#include <windows.h>

#include <wchar.h>

#include <string>

#include "corelib.h"
#include "testsupport.h"
#include "wardentest.h"
#include "seams.h"

namespace wardentest {

namespace {

constexpr size_t kIdChars = 260;
std::wstring g_ids[26];  // by letter; empty: not named

void LoadDriveIds() {
    const std::wstring text = ts::Widen(ts::ReadFileBytes(ts::InExeDir(L"drives.txt")));
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
        if (line.size() < 3 || line[1] != L'=') continue;
        const wchar_t letter = static_cast<wchar_t>(towupper(line[0]));
        if (letter < L'A' || letter > L'Z') continue;
        g_ids[letter - L'A'] = line.substr(2);
    }
}

BOOL CORELIB_CALL MappedDriveId(const wchar_t* root, wchar_t out[260]) {
    if (!root || !out) return UP_GetDriveIDByLetter(root, out);
    const wchar_t letter = static_cast<wchar_t>(towupper(root[0]));
    if (letter < L'A' || letter > L'Z' || wcscmp(root + 1, L":\\") != 0 || g_ids[letter - L'A'].empty())
        return UP_GetDriveIDByLetter(root, out);
    out[0] = 0;
    const std::wstring& id = g_ids[letter - L'A'];
    // An id no slot can hold is no usable id; Corelib's lookup gives none for it either.
    if (id.size() >= sizeof(uinfo::lpDriverUID[0]) / sizeof(wchar_t)) return FALSE;
    uinfo probe = {};
    wcscpy(probe.lpDriverUID[0], id.c_str());
    wchar_t found[kIdChars] = {};
    if (!UP_CheckUDeskByDriveID1(&probe, found)) return FALSE;  // the volume is not present
    SecureZeroMemory(&probe, sizeof(probe));
    wcscpy(out, id.c_str());
    return TRUE;
}

}  // namespace

void InstallDrives() {
    Log(std::wstring(L"commandline ") + GetCommandLineW());
    LoadDriveIds();
    warden::g_seams.upGetDriveIdByLetter = MappedDriveId;
}

}  // namespace wardentest
