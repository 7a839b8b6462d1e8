// The process-wide element registry (handles to elements, radio groups, combo lists) and the
// visual-styles entry points of uxtheme.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "bkwnd.h"

// Elements by handle. Handles start at 1 and are never reused. The registry does not own the
// elements: each registers itself when built and unregisters when destroyed. Every operation takes
// the one critical section, so look-ups and group changes are safe from any thread.
class BkWindowRegistry {
public:
    static BkWindowRegistry& Instance();

    // The next handle, mapped to the element; 0 (nothing stored) for a null element.
    static HBKWND Register(CBkWindow* wnd);
    static CBkWindow* Find(HBKWND handle);
    static void Unregister(HBKWND handle);

    static void AddToGroup(CBkWindow* wnd, const std::string& group);
    // Removes every entry of the element from the group.
    static void RemoveFromGroup(CBkWindow* wnd, const std::string& group);
    // Checks the element; every other checked member of the group loses its check and asks for a
    // redraw (sent while the lock is held).
    static void CheckInGroup(CBkWindow* wnd, const std::string& group);
    // The members of a group, in the order they joined (a copy).
    static std::vector<CBkWindow*> GroupMembers(const std::string& group);

    static void AddToComboList(CBkWindow* wnd, const std::string& name);
    static void RemoveFromComboList(CBkWindow* wnd, const std::string& name);
    static std::vector<CBkWindow*> ComboListMembers(const std::string& name);

    // The last handle given out (0 before the first).
    static HBKWND LastHandle();

private:
    BkWindowRegistry();
    typedef std::unordered_map<std::string, std::vector<CBkWindow*>> ListMap;
    static void AddTo(ListMap& map, CBkWindow* wnd, const std::string& name);
    static void RemoveFrom(ListMap& map, CBkWindow* wnd, const std::string& name);
    static std::vector<CBkWindow*> MembersOf(ListMap& map, const std::string& name);

    CRITICAL_SECTION m_lock;
    std::unordered_map<HBKWND, CBkWindow*> m_windows;
    ListMap m_groups;
    ListMap m_comboLists;
    HBKWND m_lastHandle = 0;
};

// uxtheme's entry points, found by name in a uxtheme.dll that is already in the process; the
// framework never loads the library itself. Without it every entry is null and the wrappers fail
// (null theme, E_NOTIMPL), so the elements draw their classic fallback.
typedef void* HBKTHEME;

class BkUxThemeLoader {
public:
    static BkUxThemeLoader& Instance();

    static HBKTHEME OpenThemeData(LPCWSTR classList);
    static HRESULT CloseThemeData(HBKTHEME theme);
    static HRESULT DrawThemeBackground(HBKTHEME theme, HDC dc, int part, int state, const RECT& rc);
    // Turns visual styles off for the window (empty sub-application and id list).
    static HRESULT SetWindowTheme(HWND hWnd);
    // "BUTTON" for index 0 and below, null above.
    static LPCWSTR GetThemeClassName(int index);

    // Takes the entry points from that module (null: none). The instance binds itself to the
    // process's uxtheme.dll on first use; this is also the way to run the classic fallback on a
    // system that has a theme.
    void Bind(HMODULE uxtheme);
    BOOL Loaded() const { return m_bLoaded; }

private:
    BkUxThemeLoader();

    typedef HBKTHEME(WINAPI* OpenThemeDataFn)(HWND, LPCWSTR);
    typedef HRESULT(WINAPI* CloseThemeDataFn)(HBKTHEME);
    typedef HRESULT(WINAPI* DrawThemeBackgroundFn)(HBKTHEME, HDC, int, int, const RECT*, const RECT*);
    typedef HRESULT(WINAPI* SetWindowThemeFn)(HWND, LPCWSTR, LPCWSTR);

    BOOL m_bLoaded = FALSE;
    OpenThemeDataFn m_pfnOpenThemeData = nullptr;
    CloseThemeDataFn m_pfnCloseThemeData = nullptr;
    DrawThemeBackgroundFn m_pfnDrawThemeBackground = nullptr;
    SetWindowThemeFn m_pfnSetWindowTheme = nullptr;
};
