// How tests and demos drive the stand-in FT_ND_API.dll. The stand-in keeps no state of its own
// between calls except each context's cursor: every call reads the inserted tokens and the injected
// failures afresh from the registry key below, so every process of a test run (the service, the
// logon hosts, the test itself) sees the same tokens at the same moment.
//
// HKLM\SOFTWARE\TolvenTest\Token
//   Inserted\0, Inserted\1, ...     one subkey per inserted token, in enumeration order; the list
//                                   ends at the first missing number
//       Serial     REG_BINARY 8     hardware serial (property 7)
//       Label      REG_BINARY <=32  label bytes in the ANSI code page (property 11), zero-padded to 32
//       OpenError  REG_DWORD        when non-zero, opening this token fails with this status (the
//                                   context's cursor still moves onto it)
//       ReadError  REG_DWORD        when non-zero, every property read of this token fails with it
//   Fail.<call>    REG_DWORD        when non-zero, every such call fails with this status, after its
//                                   arguments were checked. <call> is CreateContext, DeleteContext,
//                                   OpenDevice, OpenDevice.<flag>, GetProperty or GetProperty.<property>
//   LogCalls       REG_DWORD        non-zero: append every call to CallLog
//   CallLog        REG_SZ           space-separated entries, see below
//   Misuse         REG_DWORD        count of calls a careful caller never makes: bad arguments, an
//                                   unknown or deleted context, two calls on one context at once
//
// CallLog entries: "C" create, "D" delete, "O<flag>@<position>" an open that opened the token at
// that 1-based position, "O<flag>" an open that failed, "P<property>" a property read; a trailing
// "!" marks a failed call. "BUSY" marks a call refused because another call was using its context.
#pragma once

#define FTNDSIM_KEY L"SOFTWARE\\TolvenTest\\Token"
#define FTNDSIM_INSERTED L"Inserted"
#define FTNDSIM_SERIAL L"Serial"
#define FTNDSIM_LABEL L"Label"
#define FTNDSIM_OPEN_ERROR L"OpenError"
#define FTNDSIM_READ_ERROR L"ReadError"
#define FTNDSIM_FAIL_PREFIX L"Fail."
#define FTNDSIM_LOG_CALLS L"LogCalls"
#define FTNDSIM_CALL_LOG L"CallLog"
#define FTNDSIM_MISUSE L"Misuse"

// The most tokens the stand-in reads; more are ignored.
#define FTNDSIM_MAX_TOKENS 64

// Statuses of the stand-in's own (not injected) failures.
#define FTNDSIM_E_INVALID_PARAMETER 0xE0000001UL  // a NULL pointer, a flag, property or size not allowed
#define FTNDSIM_E_INVALID_CONTEXT 0xE0000002UL    // not a live context of this process
#define FTNDSIM_E_NO_DEVICE 0xE0000003UL          // nothing to open: no token, past the last, current gone
#define FTNDSIM_E_NOT_OPENED 0xE0000004UL         // property read with no open token, or it was pulled
#define FTNDSIM_E_BUFFER_TOO_SMALL 0xE0000005UL
#define FTNDSIM_E_BUSY 0xE0000006UL               // another call is using this context right now
