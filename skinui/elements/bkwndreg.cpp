#include "bkwndreg.h"

#include <algorithm>

// ---- element registry --------------------------------------------------------------------------

BkWindowRegistry::BkWindowRegistry() : m_windows(17), m_groups(17), m_comboLists(17) {
    ::InitializeCriticalSection(&m_lock);
}

BkWindowRegistry& BkWindowRegistry::Instance() {
    // Never destroyed: elements of static objects may unregister after the end of main, and the
    // critical section must still be there for them.
    static BkWindowRegistry* instance = new BkWindowRegistry();
    return *instance;
}

namespace {
class RegistryLock {
public:
    explicit RegistryLock(CRITICAL_SECTION& cs) : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~RegistryLock() { ::LeaveCriticalSection(&m_cs); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};
}  // namespace

HBKWND BkWindowRegistry::Register(CBkWindow* wnd) {
    if (!wnd) return 0;
    BkWindowRegistry& r = Instance();
    RegistryLock lock(r.m_lock);
    const HBKWND handle = ++r.m_lastHandle;
    r.m_windows[handle] = wnd;
    return handle;
}

CBkWindow* BkWindowRegistry::Find(HBKWND handle) {
    if (!handle) return nullptr;
    BkWindowRegistry& r = Instance();
    RegistryLock lock(r.m_lock);
    auto it = r.m_windows.find(handle);
    return it == r.m_windows.end() ? nullptr : it->second;
}

void BkWindowRegistry::Unregister(HBKWND handle) {
    BkWindowRegistry& r = Instance();
    RegistryLock lock(r.m_lock);
    r.m_windows.erase(handle);
}

HBKWND BkWindowRegistry::LastHandle() {
    BkWindowRegistry& r = Instance();
    RegistryLock lock(r.m_lock);
    return r.m_lastHandle;
}

void BkWindowRegistry::AddTo(ListMap& map, CBkWindow* wnd, const std::string& name) {
    if (!wnd) return;
    RegistryLock lock(Instance().m_lock);
    map[name].push_back(wnd);
}

void BkWindowRegistry::RemoveFrom(ListMap& map, CBkWindow* wnd, const std::string& name) {
    RegistryLock lock(Instance().m_lock);
    auto it = map.find(name);
    if (it == map.end()) return;
    std::vector<CBkWindow*>& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), wnd), v.end());
    if (v.empty()) map.erase(it);
}

std::vector<CBkWindow*> BkWindowRegistry::MembersOf(ListMap& map, const std::string& name) {
    RegistryLock lock(Instance().m_lock);
    auto it = map.find(name);
    return it == map.end() ? std::vector<CBkWindow*>() : it->second;
}

void BkWindowRegistry::AddToGroup(CBkWindow* wnd, const std::string& group) { AddTo(Instance().m_groups, wnd, group); }
void BkWindowRegistry::RemoveFromGroup(CBkWindow* wnd, const std::string& group) {
    RemoveFrom(Instance().m_groups, wnd, group);
}
std::vector<CBkWindow*> BkWindowRegistry::GroupMembers(const std::string& group) {
    return MembersOf(Instance().m_groups, group);
}

void BkWindowRegistry::AddToComboList(CBkWindow* wnd, const std::string& name) {
    AddTo(Instance().m_comboLists, wnd, name);
}
void BkWindowRegistry::RemoveFromComboList(CBkWindow* wnd, const std::string& name) {
    RemoveFrom(Instance().m_comboLists, wnd, name);
}
std::vector<CBkWindow*> BkWindowRegistry::ComboListMembers(const std::string& name) {
    return MembersOf(Instance().m_comboLists, name);
}

void BkWindowRegistry::CheckInGroup(CBkWindow* wnd, const std::string& group) {
    if (!wnd) return;
    BkWindowRegistry& r = Instance();
    RegistryLock lock(r.m_lock);  // re-entered by the redraw notifications' look-ups: same thread
    wnd->ModifyState(kBkStateChecked, 0);
    auto it = r.m_groups.find(group);
    if (it == r.m_groups.end()) return;
    // A copy: a view that answers the notification may not change the group under our feet.
    const std::vector<CBkWindow*> members = it->second;
    for (CBkWindow* other : members) {
        if (other == wnd || !(other->GetState() & kBkStateChecked)) continue;
        other->ModifyState(0, kBkStateChecked);
        other->RequestRedraw();
    }
}

// ---- uxtheme -----------------------------------------------------------------------------------

BkUxThemeLoader::BkUxThemeLoader() {}

BkUxThemeLoader& BkUxThemeLoader::Instance() {
    static BkUxThemeLoader* instance = [] {
        BkUxThemeLoader* l = new BkUxThemeLoader();
        // Only a uxtheme that someone else has already loaded: loading it ourselves would turn
        // visual styles on for a program that did not ask for them.
        l->Bind(::GetModuleHandleW(L"uxtheme.dll"));
        return l;
    }();
    return *instance;
}

void BkUxThemeLoader::Bind(HMODULE uxtheme) {
    m_pfnOpenThemeData = nullptr;
    m_pfnCloseThemeData = nullptr;
    m_pfnDrawThemeBackground = nullptr;
    m_pfnSetWindowTheme = nullptr;
    m_bLoaded = FALSE;
    if (!uxtheme) return;
    m_bLoaded = TRUE;
    m_pfnOpenThemeData = (OpenThemeDataFn)(void*)::GetProcAddress(uxtheme, "OpenThemeData");
    m_pfnCloseThemeData = (CloseThemeDataFn)(void*)::GetProcAddress(uxtheme, "CloseThemeData");
    m_pfnDrawThemeBackground = (DrawThemeBackgroundFn)(void*)::GetProcAddress(uxtheme, "DrawThemeBackground");
    m_pfnSetWindowTheme = (SetWindowThemeFn)(void*)::GetProcAddress(uxtheme, "SetWindowTheme");
}

HBKTHEME BkUxThemeLoader::OpenThemeData(LPCWSTR classList) {
    BkUxThemeLoader& l = Instance();
    return l.m_pfnOpenThemeData ? l.m_pfnOpenThemeData(nullptr, classList) : nullptr;
}

HRESULT BkUxThemeLoader::CloseThemeData(HBKTHEME theme) {
    BkUxThemeLoader& l = Instance();
    return l.m_pfnCloseThemeData ? l.m_pfnCloseThemeData(theme) : E_NOTIMPL;
}

HRESULT BkUxThemeLoader::DrawThemeBackground(HBKTHEME theme, HDC dc, int part, int state, const RECT& rc) {
    BkUxThemeLoader& l = Instance();
    return l.m_pfnDrawThemeBackground ? l.m_pfnDrawThemeBackground(theme, dc, part, state, &rc, nullptr) : E_NOTIMPL;
}

HRESULT BkUxThemeLoader::SetWindowTheme(HWND hWnd) {
    BkUxThemeLoader& l = Instance();
    return l.m_pfnSetWindowTheme ? l.m_pfnSetWindowTheme(hWnd, L"", L"") : E_NOTIMPL;
}

LPCWSTR BkUxThemeLoader::GetThemeClassName(int index) { return index <= 0 ? L"BUTTON" : nullptr; }
