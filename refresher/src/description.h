// The update description as the engine reads it: the exact bytes of the downloaded "update.txt",
// whether its signature "update.txt.sig" holds for those bytes, and the keys of section UPDATE
// parsed from those same bytes (so what was verified is what is used).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <unordered_map>
#include <vector>

// The SDK declares SHA-256 for targets after XP SP2 only; XP SP3's enhanced AES provider has it.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace refresher {

constexpr int kMaxFileIndex = 99;    // highest accepted "UPDATEFILECOUNT"
constexpr DWORD kDigestBytes = 32;   // SHA-256
constexpr size_t kMaxDescriptionBytes = 1 << 20;
constexpr size_t kMaxSignatureBytes = 4096;
// The most any one file of an update may have: the bound of a file without a declared "FILE%dSIZE",
// and the largest size a description may declare. Far above every file of the product.
constexpr ULONGLONG kMaxFileBytes = 64ull << 20;

class Description {
public:
    // Reads the description and its signature from disk and checks the signature against the public
    // key (a PUBLICKEYBLOB; none means nothing is ever signed). A missing file is an empty description.
    void Load(const wchar_t* path, const wchar_t* signaturePath, const BYTE* publicKey, DWORD publicKeySize);
    // Parses text that needs no signature (tests of the parser).
    void LoadText(const std::wstring& text);

    bool present() const { return present_; }
    bool signedOk() const { return signed_; }

    // Value of a key of section "UPDATE" (case-insensitive, as the profile API), at most maxChars
    // characters; def when the key is absent.
    std::wstring Get(const wchar_t* key, const wchar_t* def, size_t maxChars) const;

private:
    void Parse(const std::wstring& text);

    bool present_ = false;
    bool signed_ = false;
    // Keys of section UPDATE by their name folded as the comparison folds it, so that each line and
    // each look-up costs the same however long the (unsigned) text is.
    std::unordered_map<std::wstring, std::wstring> keys_;
};

// Text of a profile file's bytes: UTF-16 (either byte order) or UTF-8 by their byte-order mark,
// otherwise the Chinese ANSI code page 936.
std::wstring DecodeProfileText(const std::string& bytes);

// "UPDATEFILECOUNT" read as a decimal integer: leading blanks, an optional sign, leading digits;
// none gives 0; values beyond the int range are clamped.
int ParseCount(const std::wstring& text);

// A byte count written in decimal ("FILE%dSIZE", an HTTP Content-Length): digits only, no sign or
// blank, no value beyond 64 bits.
bool ParseSize(const std::wstring& text, ULONGLONG* size);

// RSA signature with SHA-256 (as CryptSignHash writes it, little-endian) over data.
bool VerifySignature(const BYTE* publicKey, DWORD publicKeySize, const std::string& data,
                     const std::string& signature);
// SHA-256 of a file's whole content; false when it cannot be read or hashed.
bool FileSha256(const wchar_t* path, BYTE digest[kDigestBytes]);
// 64 hexadecimal digits (either case) into a digest.
bool ParseDigest(const std::wstring& hex, BYTE digest[kDigestBytes]);

// A file name taken from a URL that may be used inside a folder: not empty, no \ / : * ? " < > |
// or control characters, not "." or "..", no trailing dot or blank, no DOS device name.
bool IsSafeFileName(const wchar_t* name);

}  // namespace refresher
