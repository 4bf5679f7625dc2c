// vessa-wine-scenario: an interposed application run through the product DLL that ships,
// inside a real Windows process (Wine in tests) that hosts the simulated hybrid machine.
// The application enters vessad3d9u.dll's Intel export on the display's adapter, renders
// the rectangles scene on the discrete GPU and presents; every frame the display shows is
// compared with the direct render (the pixel oracle).
//
//   vessa-wine-scenario [--stage device|frames] [--scene KIND] [--frames N] [--summary FILE]
//
// "--stage device" stops after the adapter and a device: it checks that the product opened
// the display GPU's driver with the runtime's arguments and the discrete GPU's driver on
// its own, and that the device lives on both, then closes everything. "--stage frames"
// (the default) runs the frames of the scene (rectangles unless --scene names another kind
// the simulated application knows).
//
// Frames are checked and summed up as the demo does (tools/demo: every scan-out is new,
// repeated or mismatched outside the icon's rectangle); the summary file holds the demo's
// run summary ("key=value" lines: framesPresented, scanOuts, newFrames, repeated, exact,
// mismatched, ...). Exit code 0 when every frame was presented and every scan-out was
// pixel-exact, 1 otherwise, 2 for a bad command line or machine.
#include "RunSummary.h"
#include "ScanOutChecker.h"
#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/Presets.h"
#include "sim/harness/WineMachine.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kIntel = 0; // GPU indexes of the default machine
constexpr int kNvidia = 1;

struct Options {
    bool deviceOnly = false;
    sim::app::SceneKind scene = sim::app::SceneKind::Rectangles;
    uint32_t frames = 60;
    std::string summary;
};

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc)
            return false;
        std::string value = argv[i + 1];
        if (strcmp(argv[i], "--stage") == 0) {
            if (value != "device" && value != "frames")
                return false;
            options.deviceOnly = value == "device";
        } else if (strcmp(argv[i], "--scene") == 0) {
            if (!sim::app::parseSceneKind(value, options.scene))
                return false;
        } else if (strcmp(argv[i], "--frames") == 0) {
            options.frames = uint32_t(strtoul(value.c_str(), nullptr, 10));
            if (options.frames == 0)
                return false;
        } else if (strcmp(argv[i], "--summary") == 0) {
            options.summary = value;
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

// Scan-outs kept for the checker, and how long the display is given after the last
// present to show what is still queued (machine clock), as the demo does.
constexpr size_t kKeptScanOuts = 64;
constexpr uint64_t kDrainNs = 100'000'000;

bool writeSummary(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fputs(text.c_str(), file) >= 0;
    return fclose(file) == 0 && written;
}

// Every journal entry of the run, counted by module, entry and GPU, for a run that failed.
void printJournalCounts() {
    std::map<std::string, size_t> counts;
    for (const sim::JournalEntry& e : sim::Machine::instance().journal().entries())
        ++counts[e.module + "!" + e.entry + " on GPU " + std::to_string(e.gpu) +
                 (e.result < 0 ? " (failed)" : "")];
    for (const auto& count : counts)
        printf("  %s: %zu\n", count.first.c_str(), count.second);
}

// One journal count, printed, and whether it is the expected one.
bool expectCalls(const char* module, const char* entry, int gpu, size_t expected) {
    size_t count = sim::Machine::instance().journal().count(module, entry, gpu);
    printf("%s!%s on GPU %d: %zu\n", module, entry, gpu, count);
    if (count != expected)
        printf("  expected %zu\n", expected);
    return count == expected;
}

// The adapter through the product's Intel export on the primary display, and a device.
int runDeviceStage() {
    sim::rt::AdapterSource source;
    source.library = "vessad3d9u.dll";
    source.entry = "OpenAdapter9DetourIntel";
    std::unique_ptr<sim::rt::RuntimeAdapter> adapter;
    HRESULT hr = sim::rt::RuntimeAdapter::openDisplay("", source, adapter);
    printf("OpenAdapter9DetourIntel: 0x%08X\n", unsigned(hr));
    if (FAILED(hr))
        return 1;
    std::unique_ptr<sim::rt::RuntimeDevice> device;
    hr = adapter->createDevice(device);
    printf("CreateDevice: 0x%08X\n", unsigned(hr));
    bool good = SUCCEEDED(hr);
    if (device)
        good = SUCCEEDED(device->destroy()) && good;
    good = SUCCEEDED(adapter->close()) && good;
    good = expectCalls("simumd_intel.dll", "OpenAdapter", kIntel, 1) && good;
    good = expectCalls("simumd_nv.dll", "OpenAdapter", kNvidia, 1) && good;
    good = expectCalls("simumd_intel.dll", "CreateDevice", kIntel, 1) && good;
    good = expectCalls("simumd_nv.dll", "CreateDevice", kNvidia, 1) && good;
    good = expectCalls("gdi32.dll", "D3DKMTCreateDevice", kNvidia, 1) && good;
    good = expectCalls("simumd_nv.dll", "CloseAdapter", kNvidia, 1) && good;
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        fprintf(stderr, "usage: vessa-wine-scenario [--stage device|frames] [--scene KIND] "
                        "[--frames N] [--summary FILE]\n");
        return 2;
    }
    std::string error;
    sim::MachineDesc machine = sim::presets::defaultMachine();
    // The machine's own clock: waits move time instead of sleeping, so the run takes what
    // the work takes and its pacing does not depend on the host's load.
    machine.virtualClock = true;
    if (!sim::harness::WineMachine::install(
            machine, sim::harness::WineMachine::executableDirectory(), &error)) {
        fprintf(stderr, "vessa-wine-scenario: cannot install the machine: %s\n", error.c_str());
        return 2;
    }

    if (options.deviceOnly)
        return runDeviceStage();
    // A summary from an earlier run must not be taken for this one's.
    if (!options.summary.empty())
        remove(options.summary.c_str());

    sim::app::AppScript script;
    script.name = "interposed";
    script.scene = options.scene;
    script.path = sim::app::AppPath::Interposed;
    script.frames = options.frames;
    sim::Display::instance().setKeepLimit(kKeptScanOuts);

    // Every scan-out is classified against the direct render, outside the icon's rectangle,
    // as the demo does; through the product frames may repeat or be held back by pacing.
    sim::app::RunReport report;
    demo::ScanOutChecker checker(script);
    // The process has no user settings, so the product shows its icon top left.
    checker.setIconCorner("UL");
    sim::app::SceneRunner::run(script, report,
                               [&](uint32_t frame) { checker.check(report, frame); });
    if (report.framesPresented > 0) {
        sim::Clock::instance().sleepFor(kDrainNs);
        checker.check(report, report.framesPresented - 1);
    }

    demo::RunSummary summary;
    summary.name = script.name;
    summary.scene = sim::app::sceneKindName(script.scene);
    summary.path = "interposed";
    summary.pathText = "interposed: " + script.library + "!" + script.entry;
    summary.framesRequested = script.frames;
    summary.ok = report.result == S_OK;
    char result[32];
    snprintf(result, sizeof result, "0x%08X ", unsigned(report.result));
    summary.result = summary.ok ? "ok" : result + report.failure;
    demo::summariseRun(report, checker, summary);

    printf("%u presented, %llu shown (%llu new, %llu repeated), %llu pixel-exact, %llu "
           "mismatched: %s\n",
           summary.framesPresented, (unsigned long long)summary.scanOuts,
           (unsigned long long)summary.newFrames, (unsigned long long)summary.repeated,
           (unsigned long long)summary.exact, (unsigned long long)summary.mismatched,
           summary.result.c_str());
    if (!summary.firstDifference.empty())
        printf("first difference: %s\n", summary.firstDifference.c_str());
    if (!options.summary.empty() && !writeSummary(options.summary, summary.serialize())) {
        fprintf(stderr, "vessa-wine-scenario: cannot write %s\n", options.summary.c_str());
        return 1;
    }
    bool good = summary.allExact() && summary.framesPresented == options.frames;
    if (!good) {
        printJournalCounts();
        // The last frame shown, beside the summary, for a look at what went wrong.
        if (!options.summary.empty() && report.displayGpu >= 0) {
            std::string png = options.summary + ".last-frame.png";
            if (sim::Display::instance().writeLastPng(report.displayGpu, report.vidPnSourceId, png))
                printf("last frame shown: %s\n", png.c_str());
        }
    }
    return good ? 0 : 1;
}
