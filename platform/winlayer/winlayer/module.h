// The application object of a GUI program: its module instance and main thread.
#pragma once

#include <windows.h>

class CAppModule {
public:
    // instance null means the program's own module.
    HRESULT Init(void* objectMap, HINSTANCE instance, const GUID* libId = nullptr);
    void Term();

    HINSTANCE GetModuleInstance() const { return m_hInst; }
    HINSTANCE GetResourceInstance() const { return m_hInstResource; }
    void SetResourceInstance(HINSTANCE instance) { m_hInstResource = instance; }
    DWORD GetMainThreadId() const { return m_dwMainThreadID; }
    BOOL IsInitialized() const { return m_hInst != nullptr; }

    HINSTANCE m_hInst = nullptr;
    HINSTANCE m_hInstResource = nullptr;
    DWORD m_dwMainThreadID = 0;
};
