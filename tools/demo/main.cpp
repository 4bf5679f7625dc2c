// vessa-demo: renders the demo scenes on the simulated hybrid machine and writes frames,
// timelines, report.md and summary.json. Without a scenario it runs the direct-mode scenes
// on each GPU of the default machine with a monitor on every GPU (the pixel oracle of
// interposed runs). Each run is a process of its own.
//
//   vessa-demo [--scenario FILE]... [--out DIR] [--frames N] [--rate HZ] [--journal]
//
// Exit status: 0 when every run showed only pixel-exact frames; 1 when a direct run did
// not; 3 when only interposed runs did not; 2 for bad arguments or an unusable scenario.
#include "DemoReport.h"
#include "RunInProcess.h"
#include "RunJournal.h"
#include "ScanOutChecker.h"
#include "Timeline.h"

#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/SceneRunner.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <algorithm>
#include <errno.h>
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
    std::vector<std::string> scenarios;
    std::string out = "out/demo";
    uint32_t frames = 0;
    double rate = -1.0;
    bool journal = false; ///< write each run's journal as <run>-journal.txt
};

// Scan-outs the display keeps with their pixels: enough for every frame shown between two
// application presents, so each one is compared.
constexpr size_t kKeptScanOuts = 64;

// Machine time given to presents still queued for a vertical blank when the frame loop ends.
constexpr uint64_t kDrainNs = 100'000'000;

void usage() {
    fprintf(stderr, "usage: vessa-demo [--scenario FILE]... [--out DIR] [--frames N] [--rate HZ] "
                    "[--journal]\n");
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return false;
        if (arg == "--journal") {
            options.journal = true;
            continue;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "vessa-demo: %s needs a value\n", arg.c_str());
            return false;
        }
        std::string value = argv[++i];
        if (arg == "--scenario") {
            options.scenarios.push_back(value);
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
std::vector<std::string> journalCounts(const std::vector<sim::JournalEntry>& entries,
                                       const std::set<int>& gpus) {
    std::map<std::tuple<std::string, std::string, int>, size_t> counts;
    for (const sim::JournalEntry& e : entries)
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
    for (int gpu : gpus) {
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

// The GPU the frames were rendered on: the one whose driver drew (an interposed run opens
// the display's adapter, and the product decides where the drawing goes); -1 when none drew.
int renderingGpu(const sim::MachineDesc& machine) {
    int best = -1;
    uint64_t most = 0;
    for (size_t gpu = 0; gpu < machine.gpus.size(); ++gpu) {
        uint64_t draws = sim::umd::stats(int(gpu)).draws;
        if (draws > most) {
            most = draws;
            best = int(gpu);
        }
    }
    return best;
}

std::string hresultText(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", unsigned(hr));
    return text;
}

// One run, inside its own process.
void writeJournal(const std::vector<sim::JournalEntry>& entries, const std::string& path) {
    FILE* pFile = fopen(path.c_str(), "w");
    if (!pFile) {
        fprintf(stderr, "vessa-demo: cannot write %s\n", path.c_str());
        return;
    }
    for (const sim::JournalEntry& e : entries)
        fprintf(pFile, "%llu %.6f %s!%s gpu=%d \"%s\" result=%lld\n",
                (unsigned long long)e.sequence, double(e.timeNs) / 1e9, e.module.c_str(),
                e.entry.c_str(), e.gpu, e.arguments.c_str(), (long long)e.result);
    fclose(pFile);
}

demo::RunSummary runOne(const sim::app::AppScript& script, const sim::MachineDesc& machine,
                        const std::string& outDir, bool keepJournal) {
    bool interposed = script.path == sim::app::AppPath::Interposed;
    sim::Machine::instance().journal().clear();
    sim::umd::resetStats();
    sim::Display::instance().clear();
    sim::Display::instance().setKeepLimit(kKeptScanOuts);

    demo::RunSummary s;
    s.name = script.name;
    s.scene = sim::app::sceneKindName(script.scene);
    s.path = interposed ? "interposed" : "direct";
    s.pathText = demo::pathText(script);
    s.framesRequested = script.frames;

    sim::app::RunReport report;
    demo::ScanOutChecker checker(script);
    checker.setIconCorner(script.iconCorner);
    demo::TimelineEvents events;
    std::set<uint32_t> dumped = {0, script.frames / 2, script.frames - 1};
    auto observe = [&](uint32_t frame) {
        events.appPresents.push_back(sim::Clock::instance().nowNs());
        // A direct present shows every frame: wait until it did. Through the product, frames
        // may be repeated or held back by pacing, so whatever has shown is looked at.
        if (!interposed)
            sim::Display::instance().waitForCount(report.displayGpu, report.vidPnSourceId,
                                                  frame + 1);
        checker.check(report, frame);
        if (dumped.count(frame)) {
            std::string name = script.name + "-frame" + std::to_string(frame) + ".png";
            if (sim::Display::instance().writeLastPng(report.displayGpu, report.vidPnSourceId,
                                                      outDir + "/" + name))
                s.pngs.push_back(name);
        }
    };
    sim::app::SceneRunner::run(script, report, observe);
    if (report.framesPresented > 0) {
        sim::Clock::instance().sleepFor(kDrainNs);
        checker.check(report, report.framesPresented - 1);
    }

    s.ok = report.result == S_OK;
    s.result = s.ok ? "ok" : hresultText(report.result) + " " + report.failure;
    demo::summariseRun(report, checker, s);

    std::vector<sim::JournalEntry> entries = sim::Machine::instance().journal().entries();
    if (keepJournal)
        writeJournal(entries, outDir + "/" + script.name + "-journal.txt");
    int renderGpu = interposed ? renderingGpu(machine) : report.gpu;
    demo::JournalStages stages =
        demo::readStages(entries, machine, renderGpu, report.displayGpu, interposed);
    s.transferPath = stages.transferPath;
    s.counts = journalCounts(entries, {renderGpu, report.displayGpu});

    events.transfers = std::move(stages.transfers);
    events.presentingPresents = std::move(stages.presentingPresents);
    events.scanOuts = checker.shown();
    std::string timeline = script.name + "-timeline.png";
    std::string error;
    if (demo::writeTimeline(events, outDir + "/" + timeline, error))
        s.timeline = timeline;
    else
        fprintf(stderr, "vessa-demo: %s\n", error.c_str());
    return s;
}

struct Batch {
    std::string title;
    sim::MachineDesc machine;
    std::vector<sim::app::AppScript> scripts;
};

bool loadBatches(const Options& options, std::vector<Batch>& batches) {
    if (options.scenarios.empty()) {
        // The default runs render directly on each GPU and present there, so every GPU
        // has a monitor.
        Batch b;
        b.title = "the default demo";
        b.machine = sim::presets::monitorOnEveryGpu();
        b.scripts = defaultScripts(b.machine);
        batches.push_back(b);
    }
    for (const std::string& file : options.scenarios) {
        Batch b;
        b.title = file.substr(file.find_last_of('/') + 1);
        std::string error;
        if (!sim::app::loadScenario(file, b.machine, b.scripts, &error)) {
            fprintf(stderr, "vessa-demo: %s\n", error.c_str());
            return false;
        }
        if (b.scripts.empty())
            b.scripts = defaultScripts(b.machine);
        batches.push_back(b);
    }
    for (Batch& b : batches) {
        for (sim::app::AppScript& s : b.scripts) {
            if (options.frames)
                s.frames = options.frames;
            if (options.rate >= 0)
                s.rate = options.rate;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        usage();
        return 2;
    }
    std::vector<Batch> batches;
    if (!loadBatches(options, batches))
        return 2;
    std::string runsDir = options.out + "/.runs";
    if (!makeFolders(runsDir)) {
        fprintf(stderr, "vessa-demo: cannot create %s\n", runsDir.c_str());
        return 2;
    }

    demo::DemoReport report;
    bool directGood = true;
    bool interposedGood = true;
    size_t runIndex = 0;
    for (const Batch& batch : batches) {
        std::string error;
        if (!sim::installMachine(batch.machine, &error)) {
            fprintf(stderr, "vessa-demo: %s: cannot install the machine: %s\n", batch.title.c_str(),
                    error.c_str());
            return 2;
        }
        report.beginMachine(batch.title, batch.machine);
        for (const sim::app::AppScript& script : batch.scripts) {
            printf("running %-22s %-10s %-10s %u frames at %g Hz ...", script.name.c_str(),
                   sim::app::sceneKindName(script.scene),
                   script.path == sim::app::AppPath::Direct ? "direct" : "interposed",
                   script.frames, script.rate);
            fflush(stdout);
            std::string exchange = runsDir + "/" + std::to_string(runIndex++) + ".txt";
            demo::RunSummary r = demo::runInChildProcess(script, exchange, [&]() {
                return runOne(script, batch.machine, options.out, options.journal);
            });
            bool good = r.allExact();
            if (r.path == "direct")
                directGood = directGood && good && r.newFrames == r.framesPresented;
            else
                interposedGood = interposedGood && good;
            if (r.ok)
                printf(" %u presented, %llu shown (%llu new, %llu repeated), %llu pixel-exact, "
                       "%llu mismatched\n",
                       r.framesPresented, (unsigned long long)r.scanOuts,
                       (unsigned long long)r.newFrames, (unsigned long long)r.repeated,
                       (unsigned long long)r.exact, (unsigned long long)r.mismatched);
            else
                printf(" failed: %s\n", r.result.c_str());
            report.add(std::move(r));
        }
    }
    std::string error;
    std::string reportPath = options.out + "/report.md";
    std::string summaryPath = options.out + "/summary.json";
    if (!demo::DemoReport::writeFile(reportPath, report.markdown(), error) ||
        !demo::DemoReport::writeFile(summaryPath, report.json(), error)) {
        fprintf(stderr, "vessa-demo: %s\n", error.c_str());
        return 1;
    }
    printf("\nreport: %s\nsummary: %s\nframes and timelines: %s/*.png\n", reportPath.c_str(),
           summaryPath.c_str(), options.out.c_str());
    if (!directGood)
        return 1;
    return interposedGood ? 0 : 3;
}
