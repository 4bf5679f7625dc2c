// shlwapi.dll: path helpers over the machine's root folder.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <sys/stat.h>

BOOL WINAPI PathFileExistsW(LPCWSTR path) {
    sim::Call call("shlwapi.dll", "PathFileExistsW");
    std::u16string windowsPath = sim::wideOf(path);
    call.args("path=%s", sim::toUtf8(windowsPath).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    if (!path || !*path) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(FALSE);
    }
    std::string host = sim::Machine::instance().root().toHost(windowsPath);
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(FALSE);
    }
    return call.finish(TRUE);
}
