// Credential-provider interfaces of the Windows Vista and 7 logon UI (LogonUI), written from the
// public Windows SDK documentation: the usage scenarios, field types and states, the two structures
// that cross the interface, and the five interfaces with their methods in documented vtable order.
// Neither Debian's mingw-w64 headers nor Wine's have them. C++ only.
#pragma once

#ifndef __cplusplus
#error credentialprovider.h is a C++ header
#endif

#include <windows.h>
#include <unknwn.h>
#include <ntsecapi.h>  // NTSTATUS, and the KERB_* logon structures that providers serialize

enum CREDENTIAL_PROVIDER_USAGE_SCENARIO {
    CPUS_INVALID = 0,
    CPUS_LOGON = 1,
    CPUS_UNLOCK_WORKSTATION = 2,
    CPUS_CHANGE_PASSWORD = 3,
    CPUS_CREDUI = 4,
    CPUS_PLAP = 5,
};

enum CREDENTIAL_PROVIDER_FIELD_TYPE {
    CPFT_INVALID = 0,
    CPFT_LARGE_TEXT = 1,
    CPFT_SMALL_TEXT = 2,
    CPFT_COMMAND_LINK = 3,
    CPFT_EDIT_TEXT = 4,
    CPFT_PASSWORD_TEXT = 5,
    CPFT_TILE_IMAGE = 6,
    CPFT_CHECKBOX = 7,
    CPFT_COMBOBOX = 8,
    CPFT_SUBMIT_BUTTON = 9,
};

enum CREDENTIAL_PROVIDER_FIELD_STATE {
    CPFS_HIDDEN = 0,
    CPFS_DISPLAY_IN_SELECTED_TILE = 1,
    CPFS_DISPLAY_IN_DESELECTED_TILE = 2,
    CPFS_DISPLAY_IN_BOTH = 3,
};

enum CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE {
    CPFIS_NONE = 0,
    CPFIS_READONLY = 1,
    CPFIS_DISABLED = 2,
    CPFIS_FOCUSED = 3,
};

enum CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE {
    CPGSR_NO_CREDENTIAL_NOT_FINISHED = 0,
    CPGSR_NO_CREDENTIAL_FINISHED = 1,
    CPGSR_RETURN_CREDENTIAL_FINISHED = 2,
    CPGSR_RETURN_NO_CREDENTIAL_FINISHED = 3,
};

enum CREDENTIAL_PROVIDER_STATUS_ICON {
    CPSI_NONE = 0,
    CPSI_ERROR = 1,
    CPSI_WARNING = 2,
    CPSI_SUCCESS = 3,
};

// GetCredentialCount's default index when no tile is the default.
#define CREDENTIAL_PROVIDER_NO_DEFAULT ((DWORD)-1)

struct CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR {
    DWORD dwFieldID;
    CREDENTIAL_PROVIDER_FIELD_TYPE cpft;
    LPWSTR pszLabel;     // CoTaskMem string when handed to LogonUI
    GUID guidFieldType;  // GUID_NULL unless the field has a system-defined role
};

struct CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION {
    ULONG ulAuthenticationPackage;
    GUID clsidCredentialProvider;
    ULONG cbSerialization;
    BYTE* rgbSerialization;  // CoTaskMem block; LogonUI frees it
};

struct ICredentialProviderCredential;

struct ICredentialProviderCredentialEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFieldState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                    CREDENTIAL_PROVIDER_FIELD_STATE cpfs) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldInteractiveState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldString(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                     LPCWSTR psz) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldCheckbox(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                       BOOL bChecked, LPCWSTR pszLabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldBitmap(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                     HBITMAP hbmp) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldComboBoxSelectedItem(ICredentialProviderCredential* pcpc,
                                                                   DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                              DWORD dwItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE AppendFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                              LPCWSTR pszItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldSubmitButton(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                           DWORD dwAdjacentTo) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCreatingWindow(HWND* phwndOwner) = 0;
};

struct ICredentialProviderCredential : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderCredentialEvents* pcpce) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSelected(BOOL* pbAutoLogon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDeselected() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                                    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringValue(DWORD dwFieldID, LPWSTR* ppsz) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitmapValue(DWORD dwFieldID, HBITMAP* phbmp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCheckboxValue(DWORD dwFieldID, BOOL* pbChecked, LPWSTR* ppszLabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueCount(DWORD dwFieldID, DWORD* pcItems,
                                                            DWORD* pdwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR* ppszItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStringValue(DWORD dwFieldID, LPCWSTR psz) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommandLinkClicked(DWORD dwFieldID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                                                       CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs,
                                                       LPWSTR* ppszOptionalStatusText,
                                                       CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportResult(NTSTATUS ntsStatus, NTSTATUS ntsSubstatus,
                                                   LPWSTR* ppszOptionalStatusText,
                                                   CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;
};

struct ICredentialProviderEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CredentialsChanged(UINT_PTR upAdviseContext) = 0;
};

struct ICredentialProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorAt(DWORD dwIndex,
                                                           CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault,
                                                         BOOL* pbAutoLogonWithDefault) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential** ppcpc) = 0;
};

struct ICredentialProviderFilter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags,
                                             GUID* rgclsidProviders, BOOL* rgbAllow, DWORD cProviders) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
                                                             CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) = 0;
};

// Interface ids. One definition for the whole program (C++17 inline variables).
inline constexpr IID IID_ICredentialProvider = {
    0xd27c3481, 0x5a1c, 0x45b2, {0x8a, 0xaa, 0xc2, 0x0e, 0xbb, 0xe8, 0x22, 0x9e}};
inline constexpr IID IID_ICredentialProviderCredential = {
    0x63913a93, 0x40c1, 0x481a, {0x81, 0x8d, 0x40, 0x72, 0xff, 0x8c, 0x70, 0xcc}};
inline constexpr IID IID_ICredentialProviderFilter = {
    0xa5da53f9, 0xd475, 0x4080, {0xa1, 0x20, 0x91, 0x0c, 0x4a, 0x73, 0x98, 0x80}};
inline constexpr IID IID_ICredentialProviderEvents = {
    0x34201e5a, 0xa787, 0x41a3, {0xa5, 0xa4, 0xbd, 0x6d, 0xcf, 0x2a, 0x85, 0x4e}};
inline constexpr IID IID_ICredentialProviderCredentialEvents = {
    0xfa6fa76b, 0x66b7, 0x4b11, {0x95, 0xf1, 0x86, 0x17, 0x11, 0x18, 0xe8, 0x16}};

// __uuidof for the interfaces, as mingw-w64 declares it for its own.
__CRT_UUID_DECL(ICredentialProvider, 0xd27c3481, 0x5a1c, 0x45b2, 0x8a, 0xaa, 0xc2, 0x0e, 0xbb, 0xe8, 0x22, 0x9e)
__CRT_UUID_DECL(ICredentialProviderCredential, 0x63913a93, 0x40c1, 0x481a, 0x81, 0x8d, 0x40, 0x72, 0xff, 0x8c, 0x70,
                0xcc)
__CRT_UUID_DECL(ICredentialProviderFilter, 0xa5da53f9, 0xd475, 0x4080, 0xa1, 0x20, 0x91, 0x0c, 0x4a, 0x73, 0x98, 0x80)
__CRT_UUID_DECL(ICredentialProviderEvents, 0x34201e5a, 0xa787, 0x41a3, 0xa5, 0xa4, 0xbd, 0x6d, 0xcf, 0x2a, 0x85, 0x4e)
__CRT_UUID_DECL(ICredentialProviderCredentialEvents, 0xfa6fa76b, 0x66b7, 0x4b11, 0x95, 0xf1, 0x86, 0x17, 0x11, 0x18,
                0xe8, 0x16)
