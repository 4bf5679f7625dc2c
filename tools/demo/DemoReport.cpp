// Writing the demo's report and summary.
#include "DemoReport.h"

#include "Timeline.h"

#include <fstream>
#include <sstream>

namespace demo {

namespace {

std::string hex(uint32_t value, int digits) {
    std::ostringstream s;
    s << std::hex << std::uppercase;
    s.width(digits);
    s.fill('0');
    s << value;
    return s.str();
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00" + hex(static_cast<unsigned char>(c), 2);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(3);
    s << value;
    return s.str();
}

std::string colourText(uint32_t argb) {
    return "#" + hex(argb & 0xFFFFFFu, 6);
}

} // namespace

void DemoReport::beginMachine(const std::string& title, const sim::MachineDesc& machine) {
    m_groups.push_back({title, machine, {}});
}

void DemoReport::add(RunSummary run) {
    if (m_groups.empty())
        m_groups.push_back({"(unknown machine)", sim::MachineDesc(), {}});
    m_groups.back().runs.push_back(std::move(run));
}

std::string DemoReport::machineSection(const sim::MachineDesc& machine) {
    std::ostringstream s;
    s << "| GPU | name | PCI id | user-mode driver | bus |\n|---|---|---|---|---|\n";
    for (size_t i = 0; i < machine.gpus.size(); ++i) {
        const sim::GpuDesc& g = machine.gpus[i];
        s << "| " << i << " (" << g.id << ") | " << g.name << " | " << hex(g.vendorId, 4) << ":"
          << hex(g.deviceId, 4) << " | " << g.umdFileName << " | " << g.busNumber << " |\n";
    }
    s << "\n| display | GPU | state | mode |\n|---|---|---|---|\n";
    for (const sim::DisplayDeviceDesc& d : machine.displays) {
        s << "| " << d.deviceName << " | " << d.gpu << " | "
          << (d.mirroring()  ? "mirror"
              : d.primary()  ? "primary"
              : d.attached() ? "attached"
                             : "inactive")
          << " | ";
        if (d.attached())
            s << d.currentMode.width << "x" << d.currentMode.height << "@"
              << d.currentMode.refreshRate;
        s << " |\n";
    }
    return s.str();
}

std::string DemoReport::runsTable(const std::vector<RunSummary>& runs) {
    std::ostringstream s;
    s << "| run | scene | path | GPU | size | frames | seconds | avg ms | worst ms | scan-outs | "
         "new | repeated | pixel-exact | mismatched | new-frame interval ms (mean / worst) | "
         "transfer | result |\n"
         "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const RunSummary& r : runs) {
        s << "| " << r.name << " | " << r.scene << " | " << r.pathText << " | " << r.gpu << " | "
          << r.width << "x" << r.height << " | " << r.framesPresented << "/" << r.framesRequested
          << " | " << number(r.seconds) << " | " << number(r.averageFrameMs) << " | "
          << number(r.worstFrameMs) << " | " << r.scanOuts << " | " << r.newFrames << " | "
          << r.repeated << " | " << r.exact << "/" << r.scanOuts << " | " << r.mismatched << " | "
          << number(r.meanNewIntervalMs) << " / " << number(r.worstNewIntervalMs) << " | "
          << r.transferPath << " | " << r.result << " |\n";
    }
    return s.str();
}

std::string DemoReport::runDetails(const RunSummary& r) {
    std::ostringstream s;
    s << "\n### " << r.name << "\n\n";
    if (r.scanOuts > r.compared)
        s << (r.scanOuts - r.compared)
          << " shown frames were gone from the display's memory before they were compared.\n\n";
    if (!r.firstDifference.empty())
        s << "Oracle mismatch: " << r.firstDifference << "\n\n";
    if (r.iconFrames)
        s << "The icon was drawn into " << r.iconFrames << " of the shown frames.\n\n";
    if (!r.timeline.empty())
        s << "Timeline: [" << r.timeline << "](" << r.timeline << ")\n\n";
    if (!r.pngs.empty()) {
        s << "Frames:";
        for (const std::string& png : r.pngs)
            s << " [" << png << "](" << png << ")";
        s << "\n\n";
    }
    s << "Journal and driver counts of this run:\n\n";
    for (const std::string& line : r.counts)
        s << "- " << line << "\n";
    return s.str();
}

std::string DemoReport::markdown() const {
    std::ostringstream s;
    s << "# Demo on the simulated hybrid machine\n\n"
      << "Each run renders the scene through the simulated Direct3D 9 runtime, in a process\n"
      << "of its own. Direct runs enter a GPU's own vendor driver; interposed runs enter the\n"
      << "product's library, configured through its application database. Every frame the\n"
      << "display showed is compared with the oracle (the scene computed on the CPU with the\n"
      << "drivers' arithmetic; direct runs prove it equals what a GPU renders), outside the\n"
      << "icon's rectangle: a shown frame is *new* when it equals an application frame not\n"
      << "shown before, *repeated* when it equals the frame shown last, *mismatched* when it\n"
      << "equals none. Transfer path and timelines come from the machine's journal and\n"
      << "display only.\n\n"
      << "Timeline pictures: rows, top to bottom: application present, transfer (copies into\n"
      << "the presenting GPU's surfaces, and locks of the rendering GPU's), presenting GPU's\n"
      << "driver Present, scan-out (" << colourText(TimelineColours::kNew) << " new, "
      << colourText(TimelineColours::kRepeated) << " repeated, "
      << colourText(TimelineColours::kMismatched) << " mismatched, "
      << colourText(TimelineColours::kUnchecked) << " not compared); a faint line every "
      << "100 ms of machine time.\n";
    for (const Group& g : m_groups) {
        s << "\n## Machine of " << g.title << "\n\n"
          << machineSection(g.machine) << "\n"
          << runsTable(g.runs);
    }
    s << "\n## Runs\n";
    for (const Group& g : m_groups) {
        for (const RunSummary& r : g.runs)
            s << runDetails(r);
    }
    return s.str();
}

std::string DemoReport::json() const {
    std::ostringstream s;
    s << "{\n  \"runs\": [";
    bool first = true;
    for (const Group& g : m_groups) {
        for (const RunSummary& r : g.runs) {
            s << (first ? "\n" : ",\n") << "    {"
              << "\"name\": " << jsonString(r.name) << ", \"machine\": " << jsonString(g.title)
              << ", \"scene\": " << jsonString(r.scene) << ", \"path\": " << jsonString(r.path)
              << ", \"ok\": " << (r.ok ? "true" : "false")
              << ", \"result\": " << jsonString(r.result)
              << ", \"frames_presented\": " << r.framesPresented << ", \"new\": " << r.newFrames
              << ", \"repeated\": " << r.repeated << ", \"pixel_exact\": " << r.exact
              << ", \"mismatched\": " << r.mismatched << ", \"scan_outs\": " << r.scanOuts
              << ", \"compared\": " << r.compared << ", \"icon_frames\": " << r.iconFrames
              << ", \"mean_new_interval_ms\": " << number(r.meanNewIntervalMs)
              << ", \"worst_new_interval_ms\": " << number(r.worstNewIntervalMs)
              << ", \"transfer_path\": " << jsonString(r.transferPath)
              << ", \"timeline\": " << jsonString(r.timeline) << "}";
            first = false;
        }
    }
    s << "\n  ]\n}\n";
    return s.str();
}

bool DemoReport::writeFile(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace demo
