// The watchdog's crash report reader on whatever arrives through the pipe, and the readable
// report written from it, with and without the crashed process's module list.
#include "CrashReportReader.h"
#include "CrashReportText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    watchdog::CrashReport report = watchdog::readCrashReport(data, size);
    report.complete();
    report.markerValid();
    watchdog::ReportSurroundings around;
    around.commandLine = "v_WatchDog.exe 1234";
    around.hasProcessId = true;
    around.processId = 1234;
    watchdog::formatCrashReport(report, around);
    around.modulesKnown = true;
    around.modules.push_back({0x140000000ull, 0x100000, "game.exe", "C:\\Games\\game.exe"});
    around.modules.push_back({report.registers.rip & ~0xFFFFull, 0x20000, "vessad3d9u.dll",
                              "C:\\Windows\\System32\\vessad3d9u.dll"});
    watchdog::formatCrashReport(report, around);
    return 0;
}
