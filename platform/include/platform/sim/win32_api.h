// Declarations of the Windows API as the simulated machine provides it on Linux.
//
// Only what the system and its tests use is declared, with Windows names, types and
// semantics (x64 layouts). The implementations live in sim/ (kernel32.dll and friends,
// ELF shared objects that keep their Windows file names). WCHAR is 16 bits, as on Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// ---- Basic types (LLP64: LONG and ULONG are 32 bits) -------------------------------
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef WCHAR* PWSTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef uint8_t BYTE;
typedef BYTE* LPBYTE;
typedef uint8_t BOOLEAN;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int32_t INT;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef int32_t NTSTATUS;
typedef float FLOAT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t UINT64;
typedef int64_t INT64;
typedef uint32_t UINT32;
typedef int32_t INT32;
typedef uint64_t ULONG_PTR;
typedef int64_t LONG_PTR;
typedef uint64_t UINT_PTR;
typedef int64_t INT_PTR;
typedef uint64_t SIZE_T;
typedef uint64_t DWORD_PTR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef LONG_PTR LRESULT;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

#define DECLARE_VESSA_HANDLE(name)                                                             \
    struct name##__ {                                                                          \
        int unused;                                                                            \
    };                                                                                         \
    typedef struct name##__* name
DECLARE_VESSA_HANDLE(HINSTANCE);
DECLARE_VESSA_HANDLE(HWND);
DECLARE_VESSA_HANDLE(HDC);
DECLARE_VESSA_HANDLE(HKEY);
DECLARE_VESSA_HANDLE(HHOOK);
DECLARE_VESSA_HANDLE(HMONITOR);
#undef DECLARE_VESSA_HANDLE
typedef HINSTANCE HMODULE;
typedef HKEY* PHKEY;

typedef INT_PTR (*FARPROC)();

#define WINAPI
#define APIENTRY
#define CALLBACK
#define __stdcall
#define CONST const
#define IN
#define OUT
#define OPTIONAL

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT, *PRECT, *LPRECT;

typedef struct tagPOINT {
    LONG x, y;
} POINT, *PPOINT;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// ---- HRESULT and status values -----------------------------------------------------
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DLL_INIT_FAILED 1114L

// ---- DLL entry ---------------------------------------------------------------------
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
typedef BOOL(WINAPI* PDLL_MAIN)(HINSTANCE module, DWORD reason, LPVOID reserved);

#ifdef __cplusplus
extern "C" {
#endif

// ---- Errors --------------------------------------------------------------------------
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

// ---- Modules (kernel32) ------------------------------------------------------------
// Look-ups use the Windows file name of the module, case-insensitively; a module loaded
// the first time has its DllMain called with DLL_PROCESS_ATTACH.
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
HMODULE WINAPI LoadLibraryW(LPCWSTR fileName);
BOOL WINAPI FreeLibrary(HMODULE module);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004
BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);

// ---- Threads and processes ---------------------------------------------------------
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE WINAPI CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId);
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
#define STILL_ACTIVE 259u
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetCurrentThreadId(void);
DWORD WINAPI GetCurrentProcessId(void);
HANDLE WINAPI GetCurrentProcess(void);
HANDLE WINAPI GetCurrentThread(void);

// ---- Critical sections (recursive, as on Windows) ------------------------------------
typedef struct _RTL_CRITICAL_SECTION {
    // Same size as the Windows structure; the simulation keeps its lock inside.
    alignas(8) unsigned char opaque[40];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs);

// ---- Time ------------------------------------------------------------------------------
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void WINAPI GetLocalTime(LPSYSTEMTIME time);
DWORD WINAPI GetTickCount(void);

// ---- Debugging -------------------------------------------------------------------------
BOOL WINAPI IsDebuggerPresent(void);
void WINAPI DebugBreak(void);
void WINAPI OutputDebugStringA(LPCSTR text);

// ---- C runtime file access with Windows paths --------------------------------------------
// "c:\vessa.log" is opened inside the simulated machine's root folder. A mode without
// 'b' is text mode: "\n" is written as "\r\n", as the Windows C runtime does.
FILE* _wfopen(const WCHAR* path, const WCHAR* mode);

#ifdef __cplusplus
} // extern "C"
#endif

#include "platform/sim/win32_gdi.h"
