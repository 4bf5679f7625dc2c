// vessa-wine-scenario: an interposed application run through the product DLL that ships,
// inside a real Windows process (Wine in tests) that hosts the simulated hybrid machine.
// The application enters vessad3d9u.dll's Intel export on the display's adapter, renders
// the rectangles scene on the discrete GPU and presents; every frame the display shows is
// compared with the direct render (the pixel oracle).
//
//   vessa-wine-scenario [--stage device|frames] [--frames N] [--summary FILE]
//
// "--stage device" stops after the adapter and a device: it checks that the product opened
// the display GPU's driver with the runtime's arguments and the discrete GPU's driver on
// its own, and that the device lives on both, then closes everything. "--stage frames"
// (the default) runs the frames. The summary counts the frames presented, the scan-outs that showed a new image or
// repeated the last one, and the frames shown pixel-exact. Exit code 0 when every frame
// was presented and shown pixel-exact, 1 otherwise, 2 for a bad command line or machine.
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/Machine.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/Presets.h"
#include "sim/harness/WineMachine.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

namespace {

constexpr int kIntel = 0;  // GPU indexes of the default machine
constexpr int kNvidia = 1;

struct Options {
    bool deviceOnly = false;
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

struct Summary {
    uint32_t frames = 0;
    uint32_t fresh = 0;
    uint32_t repeated = 0;
    uint32_t exact = 0;
    std::string firstDifference;

    std::string text() const {
        return "frames: " + std::to_string(frames) + "\nnew: " + std::to_string(fresh) +
               "\nrepeated: " + std::to_string(repeated) +
               "\npixel-exact: " + std::to_string(exact) + "\n";
    }
};

// Checks the frame the display shows after present `frame` against the oracle, and whether
// it is a new image or the last one again.
void observe(const sim::app::AppScript& script, const sim::app::RunReport& report, uint32_t frame,
             sim::Image& previous, Summary& summary) {
    sim::Display& display = sim::Display::instance();
    display.waitForCount(report.displayGpu, report.vidPnSourceId, frame + 1);
    sim::ScanOut shown;
    if (!display.last(report.displayGpu, report.vidPnSourceId, shown))
        return;
    if (frame > 0 && shown.image.pixels == previous.pixels)
        ++summary.repeated;
    else
        ++summary.fresh;
    previous = shown.image;
    sim::Image expected;
    sim::app::SceneRunner::expectedFrame(script, report, frame, expected);
    sim::app::FrameDifference d = sim::app::compareFrames(expected, shown.image);
    if (d.equal()) {
        ++summary.exact;
    } else if (summary.firstDifference.empty()) {
        char text[160];
        snprintf(text, sizeof text,
                 "frame %u: %zu pixels differ, the first at (%u,%u): 0x%08X expected, 0x%08X "
                 "shown",
                 frame, d.differing, d.firstX, d.firstY, d.expected, d.actual);
        summary.firstDifference =
            d.sameSize ? text
                       : "frame " + std::to_string(frame) + ": shown and expected sizes differ";
    }
}

bool writeSummary(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fputs(text.c_str(), file) >= 0;
    return fclose(file) == 0 && written;
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
        fprintf(stderr, "usage: vessa-wine-scenario [--stage device|frames] [--frames N] "
                        "[--summary FILE]\n");
        return 2;
    }
    std::string error;
    sim::MachineDesc machine = sim::presets::defaultMachine();
    if (!sim::harness::WineMachine::install(
            machine, sim::harness::WineMachine::executableDirectory(), &error)) {
        fprintf(stderr, "vessa-wine-scenario: cannot install the machine: %s\n", error.c_str());
        return 2;
    }

    if (options.deviceOnly)
        return runDeviceStage();

    sim::app::AppScript script;
    script.name = "interposed";
    script.scene = sim::app::SceneKind::Rectangles;
    script.path = sim::app::AppPath::Interposed;
    script.frames = options.frames;
    Summary summary;
    sim::Image previous;
    sim::app::RunReport report;
    sim::app::SceneRunner::run(
        script, report, [&](uint32_t frame) { observe(script, report, frame, previous, summary); });
    summary.frames = report.framesPresented;

    std::string text = summary.text();
    printf("%s", text.c_str());
    if (FAILED(report.result))
        printf("failed (0x%08X): %s\n", unsigned(report.result), report.failure.c_str());
    if (!summary.firstDifference.empty())
        printf("first difference: %s\n", summary.firstDifference.c_str());
    if (!options.summary.empty() && !writeSummary(options.summary, text)) {
        fprintf(stderr, "vessa-wine-scenario: cannot write %s\n", options.summary.c_str());
        return 1;
    }
    bool good = SUCCEEDED(report.result) && summary.frames == options.frames &&
                summary.exact == summary.frames;
    return good ? 0 : 1;
}
