#include "description.h"

#include <wincrypt.h>
#include <wchar.h>

#include <limits.h>

namespace refresher {

namespace {

bool ReadBytes(const wchar_t* path, size_t limit, std::string* out) {
    out->clear();
    if (!path || !*path) return false;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart >= 0 && static_cast<ULONGLONG>(size.QuadPart) <= limit;
    if (ok) {
        out->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out->empty() || (ReadFile(h, &(*out)[0], static_cast<DWORD>(out->size()), &got, nullptr) &&
                              got == out->size());
    }
    CloseHandle(h);
    if (!ok) out->clear();
    return ok;
}

std::wstring TrimBlanks(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r");
    if (b == std::wstring::npos) return {};
    size_t e = s.find_last_not_of(L" \t\r");
    return s.substr(b, e - b + 1);
}

bool SameName(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

// A key name as the profile API compares it: letters A to Z without case.
std::wstring FoldName(const wchar_t* name) {
    std::wstring folded(name);
    for (wchar_t& c : folded)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return folded;
}

struct Provider {
    HCRYPTPROV handle = 0;
    // PROV_RSA_AES brings SHA-256; XP before SP3 has none, and then nothing verifies.
    Provider() {
        if (!CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) handle = 0;
    }
    ~Provider() {
        if (handle) CryptReleaseContext(handle, 0);
    }
};

struct Hash {
    HCRYPTHASH handle = 0;
    ~Hash() {
        if (handle) CryptDestroyHash(handle);
    }
};

}  // namespace

std::wstring DecodeProfileText(const std::string& bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    std::wstring out;
    if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        bool big = p[0] == 0xFE;
        for (size_t i = 2; i + 1 < n; i += 2)
            out += static_cast<wchar_t>(big ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]));
        return out;
    }
    UINT codePage = 936;
    size_t skip = 0;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        codePage = CP_UTF8;
        skip = 3;
    }
    if (n <= skip) return out;
    int chars = MultiByteToWideChar(codePage, 0, bytes.data() + skip, static_cast<int>(n - skip), nullptr, 0);
    if (chars <= 0) return out;
    out.resize(static_cast<size_t>(chars));
    MultiByteToWideChar(codePage, 0, bytes.data() + skip, static_cast<int>(n - skip), &out[0], chars);
    return out;
}

void Description::Load(const wchar_t* path, const wchar_t* signaturePath, const BYTE* publicKey,
                       DWORD publicKeySize) {
    present_ = signed_ = false;
    keys_.clear();
    std::string bytes;
    if (!ReadBytes(path, kMaxDescriptionBytes, &bytes)) return;
    present_ = true;
    std::string signature;
    signed_ = ReadBytes(signaturePath, kMaxSignatureBytes, &signature) &&
              VerifySignature(publicKey, publicKeySize, bytes, signature);
    Parse(DecodeProfileText(bytes));
}

void Description::LoadText(const std::wstring& text) {
    present_ = true;
    signed_ = false;
    keys_.clear();
    Parse(text);
}

// The subset of the profile format that the description uses: "[section]" lines, "key=value"
// lines with blanks trimmed around both, a value in matching quotes loses them, ';' starts a comment
// line; names compare without case and the first occurrence wins.
void Description::Parse(const std::wstring& text) {
    bool inUpdate = false;
    bool seenUpdate = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = TrimBlanks(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            size_t close = line.find(L']');
            std::wstring name = TrimBlanks(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            // A repeated section is not read again: the profile API answers from its first one.
            inUpdate = SameName(name, L"UPDATE") && !seenUpdate;
            if (inUpdate) seenUpdate = true;
            continue;
        }
        if (!inUpdate) continue;
        size_t eq = line.find(L'=');
        std::wstring key = TrimBlanks(line.substr(0, eq));
        std::wstring value = eq == std::wstring::npos ? std::wstring() : TrimBlanks(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        if (key.empty()) continue;
        keys_.emplace(FoldName(key.c_str()), std::move(value));  // a repeated key keeps its first value
    }
}

std::wstring Description::Get(const wchar_t* key, const wchar_t* def, size_t maxChars) const {
    std::wstring value = def ? def : L"";
    if (key) {
        auto found = keys_.find(FoldName(key));
        if (found != keys_.end()) value = found->second;
    }
    if (value.size() > maxChars) value.resize(maxChars);
    return value;
}

int ParseCount(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    long long value = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        value = value * 10 + (text[i++] - L'0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;  // stays out of range
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool ParseSize(const std::wstring& text, ULONGLONG* size) {
    if (text.empty()) return false;
    ULONGLONG value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        ULONGLONG digit = static_cast<ULONGLONG>(c - L'0');
        if (value > (~0ull - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *size = value;
    return true;
}

bool VerifySignature(const BYTE* publicKey, DWORD publicKeySize, const std::string& data,
                     const std::string& signature) {
    if (!publicKey || publicKeySize < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) || signature.empty() ||
        signature.size() > kMaxSignatureBytes || data.size() > kMaxDescriptionBytes)
        return false;
    const BLOBHEADER* header = reinterpret_cast<const BLOBHEADER*>(publicKey);
    if (header->bType != PUBLICKEYBLOB) return false;
    Provider provider;
    if (!provider.handle) return false;
    HCRYPTKEY key = 0;
    if (!CryptImportKey(provider.handle, publicKey, publicKeySize, 0, 0, &key)) return false;
    bool ok = false;
    {
        Hash hash;
        if (CryptCreateHash(provider.handle, CALG_SHA_256, 0, 0, &hash.handle) &&
            CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()),
                          0)) {
            ok = CryptVerifySignatureW(hash.handle, reinterpret_cast<const BYTE*>(signature.data()),
                                       static_cast<DWORD>(signature.size()), key, nullptr, 0) != FALSE;
        }
    }
    CryptDestroyKey(key);
    return ok;
}

bool FileSha256(const wchar_t* path, BYTE digest[kDigestBytes]) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = false;
    {
        Provider provider;
        Hash hash;
        if (provider.handle && CryptCreateHash(provider.handle, CALG_SHA_256, 0, 0, &hash.handle)) {
            static const DWORD kBlock = 65536;
            std::string block(kBlock, '\0');
            ok = true;
            for (;;) {
                DWORD got = 0;
                if (!ReadFile(h, &block[0], kBlock, &got, nullptr)) {
                    ok = false;
                    break;
                }
                if (got == 0) break;
                if (!CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(block.data()), got, 0)) {
                    ok = false;
                    break;
                }
            }
            DWORD size = kDigestBytes;
            ok = ok && CryptGetHashParam(hash.handle, HP_HASHVAL, digest, &size, 0) && size == kDigestBytes;
        }
    }
    CloseHandle(h);
    return ok;
}

bool ParseDigest(const std::wstring& hex, BYTE digest[kDigestBytes]) {
    if (hex.size() != kDigestBytes * 2) return false;
    for (size_t i = 0; i < hex.size(); ++i) {
        wchar_t c = hex[i];
        int v = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10
                : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
        if (v < 0) return false;
        if (i % 2 == 0) digest[i / 2] = static_cast<BYTE>(v << 4);
        else digest[i / 2] = static_cast<BYTE>(digest[i / 2] | v);
    }
    return true;
}

bool IsSafeFileName(const wchar_t* name) {
    if (!name || !*name) return false;
    size_t n = wcslen(name);
    if (n >= MAX_PATH) return false;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = name[i];
        if (c < 0x20 || c == 0x7F || wcschr(L"\\/:*?\"<>|", c)) return false;
    }
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return false;
    // Windows drops a trailing dot or blank: the file would get another name than the one checked.
    if (name[n - 1] == L'.' || name[n - 1] == L' ') return false;
    // A device name stays a device whatever extension follows it ("nul.dll", "COM1.txt").
    std::wstring base(name);
    size_t dot = base.find(L'.');
    if (dot != std::wstring::npos) base.resize(dot);
    while (!base.empty() && base.back() == L' ') base.pop_back();
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* d : kDevices)
        if (_wcsicmp(base.c_str(), d) == 0) return false;
    if (base.size() == 4 && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0) &&
        base[3] >= L'0' && base[3] <= L'9')
        return false;
    return true;
}

}  // namespace refresher
