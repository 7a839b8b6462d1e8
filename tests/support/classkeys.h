// Where the product registers its class id (HKCR), its credential provider and its provider filter
// (HKLM): the one set of paths every test reads them at.
#pragma once

#include "corelib.h"

namespace ts {

constexpr wchar_t kClassKey[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT;
constexpr wchar_t kInprocKey[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32";
constexpr wchar_t kAuthenticationKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\";
constexpr wchar_t kProvidersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\" CORELIB_PROVIDER_CLSID_TEXT;
constexpr wchar_t kFiltersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider "
                                  L"Filters\\" CORELIB_PROVIDER_CLSID_TEXT;

}  // namespace ts
