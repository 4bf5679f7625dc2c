// Application scripts and their scenario section.
#include "sim/app/AppScript.h"

#include "sim/gpus/ScenarioLoader.h"

#include <mutex>
#include <stdlib.h>

namespace sim {
namespace app {

namespace {

bool parseUnsigned(const std::string& text, uint32_t low, uint32_t high, uint32_t& out) {
    if (text.empty())
        return false;
    char* pEnd = nullptr;
    unsigned long value = strtoul(text.c_str(), &pEnd, 10);
    if (*pEnd != '\0' || text[0] == '-' || value < low || value > high)
        return false;
    out = uint32_t(value);
    return true;
}

// The scripts of the scenario being loaded. The loader calls section handlers while it
// parses, so a load collects them here under the lock.
std::mutex& collectLock() {
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}
std::vector<AppScript>& collected() {
    static std::vector<AppScript>* s_pScripts = new std::vector<AppScript>();
    return *s_pScripts;
}

bool handleSection(const std::string& title, const std::vector<ScenarioEntry>& entries,
                   MachineDesc&, std::string& error, size_t& errorLine) {
    AppScript script;
    if (!title.empty())
        script.name = title;
    for (const ScenarioEntry& e : entries) {
        if (!setScriptKey(script, e.key, e.value, error)) {
            errorLine = e.line;
            return false;
        }
    }
    collected().push_back(script);
    return true;
}

struct Registration {
    Registration() { registerScenarioSection(); }
} s_registration;

} // namespace

bool setScriptKey(AppScript& s, const std::string& key, const std::string& value,
                  std::string& error) {
    bool ok = true;
    if (key == "scene") {
        ok = parseSceneKind(value, s.scene);
    } else if (key == "frames") {
        ok = parseUnsigned(value, 1, 1000000, s.frames);
    } else if (key == "rate") {
        char* pEnd = nullptr;
        double rate = strtod(value.c_str(), &pEnd);
        ok = !value.empty() && *pEnd == '\0' && rate >= 0.0 && rate <= 10000.0;
        if (ok)
            s.rate = rate;
    } else if (key == "path") {
        if (value == "direct")
            s.path = AppPath::Direct;
        else if (value == "interposed")
            s.path = AppPath::Interposed;
        else
            ok = false;
    } else if (key == "gpu") {
        s.gpu = value;
    } else if (key == "display") {
        s.display = value;
    } else if (key == "library") {
        ok = !value.empty();
        s.library = value;
    } else if (key == "export") {
        ok = !value.empty();
        s.entry = value;
    } else if (key == "size") {
        size_t x = value.find('x');
        ok = x != std::string::npos && parseUnsigned(value.substr(0, x), 64, 16384, s.width) &&
             parseUnsigned(value.substr(x + 1), 64, 16384, s.height);
    } else if (key == "backbuffers") {
        ok = parseUnsigned(value, 1, 8, s.backBuffers);
    } else if (key == "interval") {
        ok = parseUnsigned(value, 0, 4, s.interval);
    } else if (key == "frame-us") {
        ok = parseUnsigned(value, 0, 10000000, s.frameUs);
    } else if (key == "exe") {
        ok = !value.empty();
        s.executable = value;
    } else if (key == "mode-switch") {
        size_t space = value.find(' ');
        size_t x = value.find('x', space == std::string::npos ? 0 : space);
        ok = space != std::string::npos && x != std::string::npos &&
             parseUnsigned(value.substr(0, space), 1, 1000000, s.switchFrame) &&
             parseUnsigned(value.substr(space + 1, x - space - 1), 64, 16384, s.switchWidth) &&
             parseUnsigned(value.substr(x + 1), 64, 16384, s.switchHeight);
    } else if (key == "icon-corner") {
        ok = value == "UL" || value == "UR" || value == "LL" || value == "LR" || value == "none";
        s.iconCorner = value == "none" ? std::string() : value;
    } else {
        error = "unknown app key '" + key + "'";
        return false;
    }
    if (!ok)
        error = "bad value '" + value + "' for app key '" + key + "'";
    return ok;
}

void registerScenarioSection() {
    ScenarioLoader::registerSection("app", handleSection);
}

bool loadScenarioText(const std::string& text, const std::string& name, MachineDesc& machine,
                      std::vector<AppScript>& scripts, std::string* error) {
    registerScenarioSection();
    std::lock_guard<std::mutex> guard(collectLock());
    collected().clear();
    bool ok = ScenarioLoader::loadText(text, name, machine, error);
    scripts = ok ? collected() : std::vector<AppScript>();
    collected().clear();
    return ok;
}

bool loadScenario(const std::string& path, MachineDesc& machine, std::vector<AppScript>& scripts,
                  std::string* error) {
    registerScenarioSection();
    std::lock_guard<std::mutex> guard(collectLock());
    collected().clear();
    bool ok = ScenarioLoader::loadFile(path, machine, error);
    scripts = ok ? collected() : std::vector<AppScript>();
    collected().clear();
    return ok;
}

int scriptGpu(const AppScript& script, const MachineDesc& machine) {
    if (script.gpu.empty()) {
        const DisplayDeviceDesc* pPrimary = machine.primaryDisplay();
        return pPrimary ? pPrimary->gpu : (machine.gpus.empty() ? -1 : 0);
    }
    int byId = machine.findGpu(script.gpu);
    if (byId >= 0)
        return byId;
    uint32_t index = 0;
    if (parseUnsigned(script.gpu, 0, 63, index) && index < machine.gpus.size())
        return int(index);
    return -1;
}

} // namespace app
} // namespace sim
