// The module's exports and its lock count.
#include "module.h"

#include <new>

#include "classfactory.h"

namespace logontile {

namespace {
volatile LONG g_locks = 0;
HINSTANCE g_instance = nullptr;
}  // namespace

void ModuleLock() { InterlockedIncrement(&g_locks); }

void ModuleUnlock() {
    for (;;) {
        LONG current = g_locks;
        if (current <= 0) return;
        if (InterlockedCompareExchange(&g_locks, current - 1, current) == current) return;
    }
}

LONG ModuleLockCount() { return g_locks; }

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

}  // namespace logontile

using namespace logontile;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    TraceScope trace("DllGetClassObject");
    if (!IsEqualCLSID(rclsid, CLSID_Provider)) {
        if (ppv) *ppv = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    CClassFactory* factory = new (std::nothrow) CClassFactory();
    if (!factory) {
        if (ppv) *ppv = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow(void) {
    TraceScope trace("DllCanUnloadNow");
    return ModuleLockCount() > 0 ? S_FALSE : S_OK;
}

// Kept for the module's export table; does nothing.
extern "C" int WINAPI test(void) { return 0; }
