#include "tokensim.h"

#include <string.h>

#include <sstream>

#include "../../platform/ftndapi/ftndapi_control.h"
#include "testsupport.h"

namespace ts {
namespace tokensim {

Token MakeToken(DWORD low, DWORD high, const std::string& label) {
    Token t;
    memcpy(t.serial, &low, 4);
    memcpy(t.serial + 4, &high, 4);
    t.label = label;
    return t;
}

DWORD Fold(DWORD low, DWORD high) { return low + high; }

DWORD Fold(const Token& token) {
    DWORD low, high;
    memcpy(&low, token.serial, 4);
    memcpy(&high, token.serial + 4, 4);
    return Fold(low, high);
}

std::string AnsiLabel(const std::wstring& text) {
    int n = WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), &s[0], n, nullptr, nullptr);
    return s;
}

bool Reset() { return DeleteKeyTree(HKEY_LOCAL_MACHINE, FTNDSIM_KEY); }

bool RemoveAll() { return DeleteKeyTree(HKEY_LOCAL_MACHINE, std::wstring(FTNDSIM_KEY) + L"\\" + FTNDSIM_INSERTED); }

bool Insert(const std::vector<Token>& tokens) {
    if (!RemoveAll()) return false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.label.size() > 32) return false;
        const std::wstring key = std::wstring(FTNDSIM_KEY) + L"\\" + FTNDSIM_INSERTED + L"\\" + std::to_wstring(i);
        bool ok = SetBinary(HKEY_LOCAL_MACHINE, key, FTNDSIM_SERIAL, t.serial, sizeof(t.serial)) &&
                  SetBinary(HKEY_LOCAL_MACHINE, key, FTNDSIM_LABEL, t.label.data(), static_cast<DWORD>(t.label.size())) &&
                  SetDword(HKEY_LOCAL_MACHINE, key, FTNDSIM_OPEN_ERROR, t.openError) &&
                  SetDword(HKEY_LOCAL_MACHINE, key, FTNDSIM_READ_ERROR, t.readError);
        if (!ok) return false;
    }
    return true;
}

bool Fail(const std::wstring& call, DWORD status) {
    return SetDword(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, std::wstring(FTNDSIM_FAIL_PREFIX) + call, status);
}

bool StartLog() {
    return SetString(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, FTNDSIM_CALL_LOG, L"") &&
           SetDword(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, FTNDSIM_LOG_CALLS, 1);
}

std::string Log() {
    std::wstring s;
    GetString(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, FTNDSIM_CALL_LOG, &s);
    return Narrow(s);
}

std::string OpenLog() {
    std::istringstream in(Log());
    std::string entry, out;
    while (in >> entry) {
        if (entry[0] != 'O') continue;
        if (!out.empty()) out += ' ';
        out += entry;
    }
    return out;
}

DWORD MisuseCount() {
    DWORD n = 0;
    GetDword(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, FTNDSIM_MISUSE, &n);
    return n;
}

}  // namespace tokensim
}  // namespace ts
