// AppHandling: what the library does when it is mapped into a process, and the small
// services through which the rest of the system learns about its installation and its
// per-user environment (the per-user folder "%USERPROFILE%\Quorvex", the loader ini
// "vessaloader.ini" in it, and the developer switches DEBUG_APPINIT / RELEASE_APPINIT).
#pragma once

#include "platform/win.h"

/// Capacity, in characters, of the path buffers these services fill (MAX_PATH).
constexpr DWORD kAppPathChars = 260;

/// The one-time process initialisation, run from DllMain at process attach: fixes the GPU
/// roles (rendering 1, presenting 0) and arms the crash hand-off when the loader ini asks for
/// it. Later calls do nothing. Returns true.
bool initProcess();

/// True once initProcess() has run.
bool isProcessInitialized();

/// Copies the per-user folder ("%s\Quorvex" of USERPROFILE) into `buffer`, whose capacity is
/// `*size` characters, and sets `*size` to its length. False when USERPROFILE is unset,
/// empty or too long, or when the folder does not fit into `buffer`.
bool getUserFolder(WCHAR* buffer, DWORD* size);

/// Formats "<per-user folder>\<fileName>" into `buffer` (capacity `*size` characters).
/// True only when that file exists; then `*size` is set to the path's length. On failure
/// the buffer may already hold the path.
bool getUserFilePath(const WCHAR* fileName, WCHAR* buffer, DWORD* size);

/// The app-init mode: 2 when RELEASE_APPINIT is set and non-empty, else 1 when
/// DEBUG_APPINIT is, else 0.
int getAppInitMode();

/// True when the loader ini's [GENERAL] CRASH_HANDLER_ACTIVE begins with "1".
bool isCrashHandlerActive();

/// The application entry of the loader ini for the executable at `modulePath`: the longest
/// active tail of the path (game.exe, bin\game.exe, ... up to four components) whose VA mask
/// has the bit of this machine's GPU configuration code. Returns a pointer into
/// `modulePath`, or null when no entry applies.
const WCHAR* getMultiLevelAppName(const WCHAR* modulePath);

/// The directory of the interop library into `buffer` (kAppPathChars characters): the loader
/// ini's [Driver] DLL_DIR (default `defaultDir`) in app-init mode 0, else the developer root
/// of the mode. False in mode 0 when there is no loader ini.
bool getDllDirectory(const WCHAR* defaultDir, WCHAR* buffer);

/// The full path of the interop library `name` ("vessaInterop.dll") into `buffer`
/// (kAppPathChars characters): getDllDirectory() with the registry's InstallDirectory as the
/// default, then the file name. False when there is no directory or the path does not fit.
bool getInteropLibraryPath(const WCHAR* name, WCHAR* buffer);
