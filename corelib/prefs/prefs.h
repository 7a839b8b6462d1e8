// Config.ini, the preferences file shared by the programs: [Preferences] LockMes, UserPic; [UPDATE] VERSION.
#pragma once
#include <windows.h>

namespace prefs {

// Reads a key into out (cch characters, at most cch-1 kept); missing file or key gives def.
void Read(const wchar_t* iniPath, const wchar_t* section, const wchar_t* key, const wchar_t* def,
          wchar_t* out, DWORD cch);

// Writes a key (value NULL deletes it). A missing or empty file is first given the UTF-16 LE
// byte-order mark, so that Chinese values survive whatever the ANSI code page; a file with content
// keeps its encoding. Returns false when the write failed; a missing folder is not created.
bool Write(const wchar_t* iniPath, const wchar_t* section, const wchar_t* key, const wchar_t* value);

}  // namespace prefs
