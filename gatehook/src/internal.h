// Gatehook internals shared by its source files; not part of the GINA interface.
#pragma once

#include "corelib.h"
#include "keydlg.h"
#include "seams.h"
#include "wlx.h"

namespace gatehook {

// Switch names read by the GINA.
#define GH_SWITCH_BOOT_KEY L"QJ_KaiJiChcekKey"
#define GH_SWITCH_UNLOCK_KEY L"QJ_SuoPingCheckKey"
#define GH_SWITCH_REMOVE_LOCK L"QJ_RemoveLock"
#define GH_SWITCH_CTRL_ALT_DEL L"QJ_CtrlAltDel"
#define GH_SWITCH_INTERVAL L"QJ_IntervalMonitor"

// --- module ---
HINSTANCE Instance();
void SetInstance(HINSTANCE instance);

// --- the module-wide user record ---
// Winlogon's thread and the key watch share one record. Refresh reads the registry into a private
// buffer and then replaces the shared copy under a lock; Snapshot copies it out under the same lock,
// so no reader ever sees a record that is half read. Copies hold passwords: callers wipe them.
// A record that cannot be read is no empty record: Refresh keeps the last record it could read (or
// the all-zero one when nothing was ever read) and returns whether the module holds a readable
// record, one read from the registry or known not to be stored.
bool RefreshRecord();
void SnapshotRecord(uinfo* out);
bool RecordReadable();
// Whether the enrolled key is present, by the module-wide record as it stands now.
bool KeyPresent();
// As on the credential tile, the key counts as absent only when a second read agrees with a first one
// that found it absent: one read that failed (a busy token, a device list being rebuilt) is no removal.
// Pauses a moment, re-reads the record and reads again; true when the key is still absent.
bool SecondReadAbsent();
// Formats into a bounded line and writes it to the event log.
void Log(const wchar_t* format, ...);
// A stored field compared with a string without reading past the field; an empty or unterminated
// field never matches.
bool FieldEquals(const wchar_t* field, size_t cch, const wchar_t* s);

// --- window placement and dialogs ---
using keydlg::CenteredOrigin;
using keydlg::CenterWindowTopmost;
using keydlg::IsKeyArrival;
using keydlg::RegisterKeyNotices;
using keydlg::UnregisterKeyNotices;
INT_PTR CALLBACK DisplaySASNoticeDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK EmergencyDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK WkstaLockedSASDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);

// --- key watch ---
void StartKeyWatchThread();
void StopKeyWatch();

}  // namespace gatehook
