// Drives the stand-in token library FT_ND_API.dll (platform/ftndapi) from tests.
//
// The stand-in reads its tokens and injected failures from the registry on every call, so what a
// test sets here is seen at once by every process of the Wine prefix: the test, the service, the
// logon hosts. Only the cursor (which token a context opened last) belongs to each context.
//
//   ts::tokensim::Reset();                                        // no tokens, no failures
//   ts::tokensim::Insert({ts::tokensim::MakeToken(0x1234, 0, "ZARN-1")});
//   DWORD enrolled = ts::tokensim::Fold(0x1234, 0);               // what Corelib compares
//   ts::tokensim::Fail(L"OpenDevice.0", 0xE000DEAD);               // every "open next" fails
//   ts::tokensim::StartLog(); ... ts::tokensim::Log();             // "C O2! O1@1 P7 ..."
//
// Log entries: "C" create, "D" delete, "O<flag>@<position>" an open that opened the token at that
// 1-based position, "O<flag>" a failed open, "P<property>" a property read; "!" marks a failure.
// MisuseCount() counts calls a careful caller never makes (bad arguments, a dead context, two calls
// on one context at the same time): token tests expect it to stay 0.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ts {
namespace tokensim {

struct Token {
    BYTE serial[8] = {};   // property 7, as the token reports it
    std::string label;     // property 11: raw bytes in the ANSI code page, at most 32
    DWORD openError = 0;   // non-zero: opening this token fails with it
    DWORD readError = 0;   // non-zero: reading its properties fails with it
};

// A token whose serial halves are low and high (little-endian), with a label.
Token MakeToken(DWORD low, DWORD high, const std::string& label = "ZARN");
// The folded serial Corelib keeps in ulTokenSerial: low + high modulo 2^32.
DWORD Fold(DWORD low, DWORD high);
DWORD Fold(const Token& token);
// A label from text, in code page 936 (the test bed's ANSI code page).
std::string AnsiLabel(const std::wstring& text);

// Removes every token, failure, the log and the misuse count.
bool Reset();
// Replaces the inserted tokens (in enumeration order).
bool Insert(const std::vector<Token>& tokens);
// Removes every token.
bool RemoveAll();

// Injects a failure: call is CreateContext, DeleteContext, OpenDevice, OpenDevice.<flag>,
// GetProperty or GetProperty.<property>; status 0 removes the injection.
bool Fail(const std::wstring& call, DWORD status);

// Starts an empty call log; Log() returns it as written so far.
bool StartLog();
std::string Log();
// Only the open entries of the log ("O2! O1@1 O0@2").
std::string OpenLog();
DWORD MisuseCount();

}  // namespace tokensim
}  // namespace ts
