// The four calls of the ePass token library as this system uses them (our own declaration, written
// from the call shapes the system relies on). Every call returns a status: 0 is success.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// epas_OpenDevice flags.
#define EPAS_OPEN_NEXT 0     // the token after the current one
#define EPAS_OPEN_FIRST 1    // the first inserted token
#define EPAS_OPEN_CURRENT 2  // the token this context opened last

// epas_GetProperty properties and their sizes in bytes.
#define EPAS_PROP_HARDWARE_SERIAL 7
#define EPAS_HARDWARE_SERIAL_SIZE 8
#define EPAS_PROP_LABEL 11
#define EPAS_LABEL_SIZE 32

#define EPAS_CONTEXT_VERSION 0x100

DWORD WINAPI epas_CreateContext(HANDLE* context, DWORD flags, DWORD version);
DWORD WINAPI epas_DeleteContext(HANDLE context);
DWORD WINAPI epas_OpenDevice(HANDLE context, DWORD flag, void* reserved);
DWORD WINAPI epas_GetProperty(HANDLE context, DWORD property, void* reserved, void* buffer, DWORD size);

#ifdef __cplusplus
}
#endif
