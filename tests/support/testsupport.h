// Shared helpers for the Wine test programs.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace ts {

// The folder of the running test program (the build's bin folder), without trailing backslash.
std::wstring ExeDir();
std::wstring InExeDir(const std::wstring& name);

// Deletes a registry key and everything below it; true when it is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::wstring& path);
// The system's settings key HKLM\SOFTWARE\Quorel\Vantor, wiped for a fresh test.
void ResetSettings();

bool SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value);
bool SetBinary(HKEY root, const std::wstring& path, const std::wstring& name, const void* data, DWORD size,
               DWORD type = REG_BINARY);
// Reads a value; false when it does not exist. type receives the stored type.
bool GetValue(HKEY root, const std::wstring& path, const std::wstring& name, std::vector<BYTE>* data,
              DWORD* type = nullptr);
bool GetString(HKEY root, const std::wstring& path, const std::wstring& name, std::wstring* value);
bool GetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD* value);
bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name);
bool KeyExists(HKEY root, const std::wstring& path);

// Makes Wine report a Windows version to one program (by its file name), e.g. L"winxp", L"vista",
// L"win2008", L"win2003", L"win8". Never "win7"/"win2008r2": this Wine swaps their product types.
bool SetProgramVersion(const std::wstring& exeName, const std::wstring& version);

// Copies a program of the bin folder under another name (each name can get its own version).
bool CopyProgram(const std::wstring& from, const std::wstring& to);

struct ChildResult {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr, as bytes
};
// Runs a command line, waits (bounded) and collects its output.
ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs = 30000);

// UTF-8 <-> UTF-16 for assertions and messages.
std::string Narrow(const std::wstring& s);
std::wstring Widen(const std::string& s);

// A fresh empty folder under the system temp folder; removed by the caller with RemoveTree.
std::wstring MakeTempDir(const std::wstring& tag);
bool RemoveTree(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Appends to the file (made when missing); other processes may read and append meanwhile.
bool AppendFileBytes(const std::wstring& path, const std::string& bytes);

// Keeps a copy of a variable (a seam table, say) and puts it back when the scope ends, also when an
// assertion ends the test early. A fixture holds one as a member.
template <class T>
class Restore {
  public:
    explicit Restore(T& variable) : variable_(variable), saved_(variable) {}
    ~Restore() { variable_ = saved_; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;
    const T& saved() const { return saved_; }

  private:
    T& variable_;
    T saved_;
};

// A number as the tests print it: 0x and eight upper-case hex digits (an HRESULT, a serial).
std::string Hex(unsigned long value);
// The computer's NetBIOS name, empty when it cannot be read.
std::wstring ComputerName();
// The text's lines without their CR/LF; empty lines are kept only when asked for.
std::vector<std::string> SplitLines(const std::string& text, bool keepEmpty = false);
// A 24-bit bottom-up BMP file of one colour.
std::string SolidBmp(int width, int height, COLORREF colour);

// The message of an assertion about Wine itself rather than about the product (an environment
// check): a newer Wine that behaves otherwise fails with this, and the test's premise needs a look.
std::string WineFact(const char* fact);

}  // namespace ts
