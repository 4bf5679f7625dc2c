// Window hooks and thread message queues of user32 as the simulated machine offers them.
// Included by win32_api.h; Linux only.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define WH_GETMESSAGE 3
#define HC_ACTION 0
#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define ERROR_INVALID_HOOK_HANDLE 1404L
#define ERROR_INVALID_FILTER_PROC 1427L
#define ERROR_HOOK_NEEDS_HMOD 1428L
#define ERROR_INVALID_THREAD_ID 1444L

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
    DWORD lPrivate;
} MSG, *PMSG, *LPMSG;

typedef LRESULT(CALLBACK* HOOKPROC)(int code, WPARAM wParam, LPARAM lParam);

/// Installs a hook. Only thread hooks (a thread id, no module needed) are simulated; their
/// procedures run on that thread when it retrieves a message with PeekMessageW.
HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
HHOOK WINAPI SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
BOOL WINAPI UnhookWindowsHookEx(HHOOK hook);
/// Passes a hook call on to the next hook of the chain; 0 at the end of the chain.
LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);

/// Queues a message for a thread (any thread id of the process is accepted).
BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
/// Retrieves the calling thread's next message, running its WH_GETMESSAGE hooks first (with
/// wParam PM_REMOVE or PM_NOREMOVE and lParam the MSG), as Windows does. Window and range
/// filters are not simulated: the first queued message is taken.
BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);

#pragma GCC visibility pop
#ifdef __cplusplus
} // extern "C"
static_assert(sizeof(MSG) == 48, "MSG is 48 bytes");
#endif
