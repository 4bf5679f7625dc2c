// vessa-demo: renders the demo scenes on the simulated hybrid machine and writes frames
// and a report. Without arguments it runs the direct-mode scenes on each GPU of the default
// machine with a monitor on every GPU (the pixel oracle of interposed runs).
//
//   vessa-demo [--scenario FILE] [--out DIR] [--frames N] [--rate HZ]
#include "DemoReport.h"

#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace {

struct Options {
    std::string scenario;
    std::string out = "out/demo";
    uint32_t frames = 0;
    double rate = -1.0;
};

void usage() {
    fprintf(stderr, "usage: vessa-demo [--scenario FILE] [--out DIR] [--frames N] [--rate HZ]\n");
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return false;
        if (i + 1 >= argc) {
            fprintf(stderr, "vessa-demo: %s needs a value\n", arg.c_str());
            return false;
        }
        std::string value = argv[++i];
        if (arg == "--scenario") {
            options.scenario = value;
        } else if (arg == "--out") {
            options.out = value;
        } else if (arg == "--frames") {
            options.frames = uint32_t(strtoul(value.c_str(), nullptr, 10));
            if (options.frames == 0) {
                fprintf(stderr, "vessa-demo: --frames wants a positive number\n");
                return false;
            }
        } else if (arg == "--rate") {
            options.rate = strtod(value.c_str(), nullptr);
            if (options.rate < 0) {
                fprintf(stderr, "vessa-demo: --rate wants 0 (unpaced) or more\n");
                return false;
            }
        } else {
            fprintf(stderr, "vessa-demo: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

// The default demo: three seconds of the scene on each GPU at 60 Hz, and a second of the
// windowed variant on the display's GPU.
std::vector<sim::app::AppScript> defaultScripts(const sim::MachineDesc& machine) {
    std::vector<sim::app::AppScript> scripts;
    for (size_t i = 0; i < machine.gpus.size(); ++i) {
        sim::app::AppScript s;
        s.name = machine.gpus[i].id + "-direct";
        s.gpu = std::to_string(i);
        s.frames = 180;
        scripts.push_back(s);
    }
    sim::app::AppScript windowed;
    windowed.name = "windowed";
    windowed.scene = sim::app::SceneKind::Windowed;
    windowed.frames = 60;
    scripts.push_back(windowed);
    return scripts;
}

bool makeFolders(const std::string& path) {
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
        if (i < path.size())
            partial += path[i];
    }
    return true;
}

// Every journal entry of the run, grouped by module, entry and GPU, busiest first.
std::vector<std::string> journalCounts(int gpuA, int gpuB) {
    std::map<std::tuple<std::string, std::string, int>, size_t> counts;
    for (const sim::JournalEntry& e : sim::Machine::instance().journal().entries())
        ++counts[std::make_tuple(e.module, e.entry, e.gpu)];
    std::vector<std::pair<size_t, std::string>> lines;
    for (const auto& c : counts) {
        std::string line = std::get<0>(c.first) + "!" + std::get<1>(c.first) + " on GPU " +
                           std::to_string(std::get<2>(c.first)) + ": " + std::to_string(c.second);
        lines.push_back({c.second, line});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(l.second);
    for (int gpu : std::set<int>{gpuA, gpuB}) {
        if (gpu < 0)
            continue;
        sim::umd::DriverStats st = sim::umd::stats(gpu);
        out.push_back("driver of GPU " + std::to_string(gpu) + ": " + std::to_string(st.draws) +
                      " draws, " + std::to_string(st.fills) + " fills, " + std::to_string(st.blts) +
                      " copies (" + std::to_string(st.bytesCopied >> 20) + " MiB), " +
                      std::to_string(st.flushes) + " submissions, " + std::to_string(st.presents) +
                      " presents, " + std::to_string(st.unimplemented) +
                      " calls of unimplemented entries");
    }
    return out;
}

demo::RunRecord runOne(const sim::app::AppScript& script, const std::string& outDir) {
    demo::RunRecord record;
    record.script = script;
    sim::Machine::instance().journal().clear();
    sim::umd::resetStats();
    sim::Display::instance().clear();
    std::set<uint32_t> dumped = {0, script.frames / 2, script.frames - 1};
    sim::app::RunReport& report = record.report;
    auto observe = [&](uint32_t frame) {
        // Presents are queued to the display's vertical blanks: compare each frame once the
        // GPU has shown it.
        sim::Display::instance().waitForCount(report.displayGpu, report.vidPnSourceId, frame + 1);
        sim::ScanOut shown;
        if (!sim::Display::instance().last(report.displayGpu, report.vidPnSourceId, shown))
            return;
        sim::Image expected;
        sim::app::SceneRunner::expectedFrame(script, report, frame, expected);
        sim::app::FrameDifference d = sim::app::compareFrames(expected, shown.image);
        if (d.equal()) {
            ++record.exactFrames;
        } else if (record.firstDifference.empty()) {
            char text[160];
            if (d.sameSize)
                snprintf(text, sizeof text,
                         "frame %u: %zu pixels differ, the first at (%u,%u): 0x%08X expected, "
                         "0x%08X shown",
                         frame, d.differing, d.firstX, d.firstY, d.expected, d.actual);
            else
                snprintf(text, sizeof text, "frame %u: %ux%u shown, %ux%u expected", frame,
                         shown.image.width, shown.image.height, expected.width, expected.height);
            record.firstDifference = text;
        }
        if (dumped.count(frame)) {
            std::string name = script.name + "-frame" + std::to_string(frame) + ".png";
            if (sim::Display::instance().writeLastPng(report.displayGpu, report.vidPnSourceId,
                                                      outDir + "/" + name))
                record.pngs.push_back(name);
        }
    };
    sim::app::SceneRunner::run(script, report, observe);
    record.counts = journalCounts(report.gpu, report.displayGpu);
    return record;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        usage();
        return 2;
    }
    // The default runs render directly on each GPU and present there, so every GPU has a
    // monitor; a scenario brings its own machine.
    sim::MachineDesc machine = sim::presets::monitorOnEveryGpu();
    std::vector<sim::app::AppScript> scripts;
    if (!options.scenario.empty()) {
        std::string error;
        if (!sim::app::loadScenario(options.scenario, machine, scripts, &error)) {
            fprintf(stderr, "vessa-demo: %s\n", error.c_str());
            return 2;
        }
    }
    std::string error;
    if (!sim::installMachine(machine, &error)) {
        fprintf(stderr, "vessa-demo: cannot install the machine: %s\n", error.c_str());
        return 2;
    }
    if (scripts.empty())
        scripts = defaultScripts(machine);
    for (sim::app::AppScript& s : scripts) {
        if (options.frames)
            s.frames = options.frames;
        if (options.rate >= 0)
            s.rate = options.rate;
    }
    if (!makeFolders(options.out)) {
        fprintf(stderr, "vessa-demo: cannot create %s\n", options.out.c_str());
        return 2;
    }

    demo::DemoReport report(machine);
    bool allGood = true;
    for (const sim::app::AppScript& script : scripts) {
        printf("running %-16s %s, %u frames at %g Hz ...", script.name.c_str(),
               sim::app::sceneKindName(script.scene), script.frames, script.rate);
        fflush(stdout);
        demo::RunRecord record = runOne(script, options.out);
        const sim::app::RunReport& r = record.report;
        bool good = r.result == 0 && record.exactFrames == r.framesPresented;
        allGood = allGood && good;
        if (r.result == 0)
            printf(" %u frames in %.2f s on GPU %d, %u pixel-exact\n", r.framesPresented, r.seconds,
                   r.gpu, record.exactFrames);
        else
            printf(" failed (0x%08X): %s\n", unsigned(r.result), r.failure.c_str());
        report.add(std::move(record));
    }
    std::string reportPath = options.out + "/report.md";
    if (!report.write(reportPath, error)) {
        fprintf(stderr, "vessa-demo: %s\n", error.c_str());
        return 1;
    }
    printf("\nreport: %s\nframes: %s/*.png\n", reportPath.c_str(), options.out.c_str());
    return allGood ? 0 : 1;
}
