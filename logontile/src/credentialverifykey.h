// The key tile: logs on or unlocks with the stored Windows credentials once the enrolled key is
// found, or with a typed password in password mode (F8 at boot logon, the switches, or after a
// failed logon). After every success it tells the lock monitor service.
#pragma once

#include <credentialprovider.h>

#include <vector>

#include "corelib.h"
#include "fields.h"

namespace logontile {

class Provider;

// Row texts of ReportResult, by row (0-1 by status in key mode, 2-4 by failure count).
struct REPORT_RESULT_STATUS_INFO {
    NTSTATUS ntsStatus;
    NTSTATUS ntsSubstatus;
    const wchar_t* pwzMessage;
    CREDENTIAL_PROVIDER_STATUS_ICON cpsi;
};
extern const REPORT_RESULT_STATUS_INFO s_rgLogonStatusInfo[5];

// Passwords of this many characters or more are left in place by SetDeselected and ClearPassword.
constexpr size_t kMaxClearedPassword = 128;

// At unlock the key must read absent in this many polls in a row before its return counts: one
// SetupAPI or token read that fails once is no pulled key. The polls that confirm an absence come
// sooner than the poll period, so that a key pulled and put back at once is still seen absent.
constexpr int kAbsentPollsBeforeReturn = 2;
constexpr DWORD kAbsentConfirmMs = 250;

// The tile's key check, Corelib's VerifyUserInfo by default. Only unit tests replace it, to play
// a read that fails for one poll.
struct TileSeams {
    BOOL(CORELIB_CALL* VerifyUserInfo)(const uinfo* record);
    // How long LogonUI's thread waits for one key check; tests shorten it.
    DWORD uiCheckBoundMs;
};
extern TileSeams g_tileSeams;

// The key check for LogonUI's own thread. VerifyUserInfo takes the process-wide token lock, which
// the key thread may hold through several slow token calls: the check runs on a worker with its
// own copy of the record, and one that has not answered within uiCheckBoundMs counts as no key.
// While a check that was given up on still runs, no second worker starts: the answer is no key.
bool KeyPresentWithinBound(const uinfo* record);

class CredentialVerifyKey : public ICredentialProviderCredential {
public:
    CredentialVerifyKey();

    // Always S_OK: a tile with a missing text still lets the user log on, no tile would not.
    HRESULT Initialize(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* rgcpfd,
                       const FIELD_STATE_PAIR* rgfsp, Provider* provider, PCWSTR userName, PCWSTR password);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Advise(ICredentialProviderCredentialEvents* pcpce) override;
    STDMETHODIMP UnAdvise() override;
    STDMETHODIMP SetSelected(BOOL* pbAutoLogon) override;
    STDMETHODIMP SetDeselected() override;
    STDMETHODIMP GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) override;
    STDMETHODIMP GetStringValue(DWORD dwFieldID, LPWSTR* ppwsz) override;
    STDMETHODIMP GetBitmapValue(DWORD dwFieldID, HBITMAP* phbmp) override;
    STDMETHODIMP GetCheckboxValue(DWORD dwFieldID, BOOL* pbChecked, LPWSTR* ppwszLabel) override;
    STDMETHODIMP GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) override;
    STDMETHODIMP GetComboBoxValueCount(DWORD dwFieldID, DWORD* pcItems, DWORD* pdwSelectedItem) override;
    STDMETHODIMP GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR* ppwszItem) override;
    STDMETHODIMP SetStringValue(DWORD dwFieldID, LPCWSTR pwz) override;
    STDMETHODIMP SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) override;
    STDMETHODIMP SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) override;
    STDMETHODIMP CommandLinkClicked(DWORD dwFieldID) override;
    STDMETHODIMP GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                                  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, LPWSTR* ppwszOptionalStatusText,
                                  CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override;
    STDMETHODIMP ReportResult(NTSTATUS ntsStatus, NTSTATUS ntsSubstatus, LPWSTR* ppwszOptionalStatusText,
                              CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override;

    // Ends this tile's key and F8 threads (the provider lets the tile go). With wait, returns once
    // they have ended (bounded), so that the F8 key is free again for a new tile.
    void StopThreads(bool wait);

    // What the key thread found; read and written with interlocked operations.
    bool IsConnected() const;

protected:
    virtual ~CredentialVerifyKey();

private:
    struct ThreadStart;

    void ReadPreferences();
    void LoadLockMessage();
    void ShowPwdEdit();
    void HidePwdEdit();
    void ClearPassword();
    BOOL ForceShutdown();
    void SignalService();
    void StoreTypedPassword();
    bool KeyPresent() const;
    bool RemoteSession() const;
    bool EnrolledUserHasSession() const;
    bool KeyPresentOnUiThread() const;
    void SetStatus(size_t row, LPWSTR* text, CREDENTIAL_PROVIDER_STATUS_ICON* icon);

    void StartKeyThread();
    void StartHotKeyThread();
    bool StartThread(LPTHREAD_START_ROUTINE proc, LONG generation, DWORD* threadId);
    static DWORD WINAPI _VerifyUserInfoThreadProc(void* start);
    static DWORD WINAPI _CommandLink(void* start);
    void RunKeyThread(LONG generation);
    void RunHotKeyThread();
    bool KeyThreadMayRun(LONG generation) const;
    bool Stopped() const;
    // Waits one poll period (or ms); false when the tile was stopped meanwhile.
    bool Pause() const;
    bool Pause(DWORD ms) const;

    volatile LONG _cRef = 1;
    CREDENTIAL_PROVIDER_USAGE_SCENARIO _cpus = CPUS_INVALID;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR _rgCredProvFieldDescriptors[SFI_NUM_FIELDS];
    FIELD_STATE_PAIR _rgFieldStatePairs[SFI_NUM_FIELDS];
    PWSTR _rgFieldStrings[SFI_NUM_FIELDS];
    ICredentialProviderCredentialEvents* _pCredProvCredentialEvents = nullptr;
    volatile LONG _isConnect = 0;
    Provider* _pProvider = nullptr;
    LockRecord _lockRecord;
    wchar_t _userPicture[MAX_PATH];
    wchar_t _lockMessage[MAX_PATH];
    BOOL _noFailure = TRUE;
    ULONG m_LogoErrorCount = 0;

    // Password mode is shown (ShowPwdEdit), as opposed to key mode (HidePwdEdit).
    bool _passwordMode = false;
    // The last serialization sent the stored password (key logon), not the field text.
    bool _lastLogonWasKey = false;
    // The key thread keeps the unlock rule (the key must be seen absent before it counts): at
    // unlock, and at logon into a user's session that already exists. Set before the thread starts.
    bool _unlockRules = false;

    // Set when the tile is let go; every thread of the tile waits on it.
    HANDLE _stopEvent = nullptr;
    // Each key thread started makes the earlier ones of this tile end at their next poll.
    volatile LONG _keyGeneration = 0;
    // Threads of this tile, touched on LogonUI's thread only (and by the destructor).
    std::vector<HANDLE> _threads;
    std::vector<DWORD> _threadIds;
    bool _hotKeyThreadStarted = false;
};

}  // namespace logontile
