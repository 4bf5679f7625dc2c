// Writing the demo's report.
#include "DemoReport.h"

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

std::string pathText(const sim::app::AppScript& script) {
    if (script.path == sim::app::AppPath::Direct)
        return "direct on GPU " +
               (script.gpu.empty() ? std::string("of the primary display") : script.gpu);
    return "interposed: " + script.library + "!" + script.entry;
}

} // namespace

std::string DemoReport::machineSection() const {
    std::ostringstream s;
    s << "## Machine\n\n| GPU | name | PCI id | user-mode driver | bus |\n|---|---|---|---|---|\n";
    for (size_t i = 0; i < m_machine.gpus.size(); ++i) {
        const sim::GpuDesc& g = m_machine.gpus[i];
        s << "| " << i << " (" << g.id << ") | " << g.name << " | " << hex(g.vendorId, 4) << ":"
          << hex(g.deviceId, 4) << " | " << g.umdFileName << " | " << g.busNumber << " |\n";
    }
    s << "\n| display | GPU | state | mode |\n|---|---|---|---|\n";
    for (const sim::DisplayDeviceDesc& d : m_machine.displays) {
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

std::string DemoReport::markdown() const {
    std::ostringstream s;
    s << "# Demo on the simulated hybrid machine\n\n"
      << "Each run renders the scene through the simulated Direct3D 9 runtime. Direct runs\n"
      << "enter a GPU's own vendor driver; their frames are the pixel oracle. Every presented\n"
      << "frame is compared with the oracle computed on the CPU.\n\n"
      << machineSection() << "\n## Runs\n\n";
    s << "| run | scene | path | GPU | size | frames | seconds | frames/s | avg ms | worst ms | "
         "pixel-exact | result |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const RunRecord& r : m_runs) {
        const sim::app::RunReport& p = r.report;
        double fps = p.seconds > 0 ? p.framesPresented / p.seconds : 0.0;
        s.setf(std::ios::fixed);
        s.precision(2);
        s << "| " << r.script.name << " | " << sim::app::sceneKindName(r.script.scene) << " | "
          << pathText(r.script) << " | " << p.gpu << " | " << p.width << "x" << p.height << " | "
          << p.framesPresented << "/" << r.script.frames << " | " << p.seconds << " | " << fps
          << " | " << p.averageFrameMs << " | " << p.worstFrameMs << " | " << r.exactFrames << "/"
          << p.framesPresented << " | "
          << (p.result == 0 ? std::string("ok")
                            : "0x" + hex(uint32_t(p.result), 8) + " " + p.failure)
          << " |\n";
    }
    for (const RunRecord& r : m_runs) {
        s << "\n### " << r.script.name << "\n\n";
        if (!r.firstDifference.empty())
            s << "Oracle mismatch: " << r.firstDifference << "\n\n";
        if (!r.pngs.empty()) {
            s << "Frames:";
            for (const std::string& png : r.pngs)
                s << " [" << png << "](" << png << ")";
            s << "\n\n";
        }
        s << "Journal and driver counts of this run:\n\n";
        for (const std::string& line : r.counts)
            s << "- " << line << "\n";
    }
    return s.str();
}

bool DemoReport::write(const std::string& path, std::string& error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    out << markdown();
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace demo
