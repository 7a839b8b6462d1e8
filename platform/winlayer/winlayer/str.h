// A wide string with the formatting and editing calls the GUI programs use.
#pragma once

#include <windows.h>

#include <string>

class CString {
public:
    CString() = default;
    CString(LPCWSTR text) : m_s(text ? text : L"") {}
    CString(LPCWSTR text, int length) : m_s(text ? std::wstring(text, length > 0 ? length : 0) : std::wstring()) {}
    CString(const std::wstring& text) : m_s(text) {}
    CString(wchar_t ch, int repeat = 1) : m_s(repeat > 0 ? repeat : 0, ch) {}

    // printf-style formatting (mingw C99 rules: %ls for wide text, %Iu for pointer-sized numbers).
    // Returns FALSE and leaves the text empty when the format cannot be applied.
    BOOL Format(LPCWSTR format, ...);
    BOOL FormatV(LPCWSTR format, va_list args);
    BOOL AppendFormat(LPCWSTR format, ...);

    int GetLength() const { return (int)m_s.size(); }
    BOOL IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    LPCWSTR GetString() const { return m_s.c_str(); }
    operator LPCWSTR() const { return m_s.c_str(); }
    const std::wstring& str() const { return m_s; }

    wchar_t GetAt(int i) const { return m_s.at((size_t)i); }
    void SetAt(int i, wchar_t ch) { m_s.at((size_t)i) = ch; }
    wchar_t operator[](int i) const { return GetAt(i); }

    CString& operator=(LPCWSTR text) { m_s = text ? text : L""; return *this; }
    CString& operator=(const std::wstring& text) { m_s = text; return *this; }
    CString& operator+=(const CString& other) { m_s += other.m_s; return *this; }
    CString& operator+=(LPCWSTR text) { if (text) m_s += text; return *this; }
    CString& operator+=(wchar_t ch) { m_s += ch; return *this; }
    void Append(LPCWSTR text, int length) { if (text && length > 0) m_s.append(text, (size_t)length); }

    int Compare(LPCWSTR text) const { return wcscmp(m_s.c_str(), text ? text : L""); }
    int CompareNoCase(LPCWSTR text) const { return _wcsicmp(m_s.c_str(), text ? text : L""); }

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first, int count = -1) const;
    int Find(wchar_t ch, int start = 0) const;
    int Find(LPCWSTR sub, int start = 0) const;
    int ReverseFind(wchar_t ch) const;
    int Replace(LPCWSTR from, LPCWSTR to);
    CString& Trim();
    CString& MakeLower();
    CString& MakeUpper();

    // A writable buffer of at least minLength characters (plus the terminator); ReleaseBuffer
    // then takes the length up to the first NUL (newLength -1) or the given length.
    LPWSTR GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

private:
    std::wstring m_s;
};

inline CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
inline CString operator+(const CString& a, LPCWSTR b) { CString r(a); r += b; return r; }
inline CString operator+(LPCWSTR a, const CString& b) { CString r(a); r += b; return r; }
inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, LPCWSTR b) { return a.Compare(b) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, LPCWSTR b) { return !(a == b); }
inline bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
