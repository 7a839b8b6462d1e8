// A test installation folder of the service: the given service build as Sentry.exe, the given
// Porter build as Porter.exe, and the libraries of the build beside them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testsupport.h"

inline void InstallSentry(const std::wstring& dir, const std::wstring& sentryBuild, const std::wstring& porterBuild) {
    ASSERT_TRUE(CopyFileW(ts::InExeDir(sentryBuild).c_str(), (dir + L"\\Sentry.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(ts::InExeDir(porterBuild).c_str(), (dir + L"\\Porter.exe").c_str(), FALSE));
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW(ts::InExeDir(L"*.dll").c_str(), &fd);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    do {
        CopyFileW(ts::InExeDir(fd.cFileName).c_str(), (dir + L"\\" + fd.cFileName).c_str(), FALSE);
    } while (FindNextFileW(f, &fd));
    FindClose(f);
}
