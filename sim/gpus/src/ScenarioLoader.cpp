// The scenario text format: an INI-like file of sections, each applied to a machine
// description as it ends. Every error names its line.
#include "sim/gpus/ScenarioLoader.h"

#include "sim/gpus/Presets.h"

#include <algorithm>
#include <errno.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdlib.h>

namespace sim {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    }
    return s;
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::string word;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == ',') {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        out.push_back(word);
    return out;
}

bool parseNumber(const std::string& text, uint64_t& out) {
    std::string s = trim(text);
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(s.c_str(), &end, 0);
    if (errno || *end || s[0] == '-')
        return false;
    out = v;
    return true;
}

bool parseU32(const std::string& text, uint32_t& out) {
    uint64_t v;
    if (!parseNumber(text, v) || v > UINT32_MAX)
        return false;
    out = uint32_t(v);
    return true;
}

bool parseInt(const std::string& text, int32_t& out) {
    std::string s = trim(text);
    bool negative = !s.empty() && s[0] == '-';
    uint64_t v;
    if (!parseNumber(negative ? s.substr(1) : s, v) || v > 0x7FFFFFFF)
        return false;
    out = negative ? -int32_t(v) : int32_t(v);
    return true;
}

bool parseBool(const std::string& text, bool& out) {
    std::string s = lower(trim(text));
    if (s == "yes" || s == "true" || s == "1" || s == "on")
        out = true;
    else if (s == "no" || s == "false" || s == "0" || s == "off")
        out = false;
    else
        return false;
    return true;
}

bool parseFormat(const std::string& text, uint32_t& out) {
    std::string s = lower(text);
    if (s == "x8r8g8b8")
        out = kFormatX8R8G8B8;
    else if (s == "a8r8g8b8")
        out = kFormatA8R8G8B8;
    else if (s == "r5g6b5")
        out = kFormatR5G6B5;
    else if (!parseU32(s, out))
        return false;
    return formatBitsPerPixel(out) != 0;
}

// "1280x800@60" or "1280x800@60/R5G6B5"; the refresh rate defaults to 60, the format to
// X8R8G8B8.
bool parseMode(const std::string& text, DisplayMode& out) {
    std::string s = trim(text);
    DisplayMode mode;
    size_t slash = s.find('/');
    if (slash != std::string::npos) {
        if (!parseFormat(s.substr(slash + 1), mode.format))
            return false;
        s = s.substr(0, slash);
    }
    size_t at = s.find('@');
    if (at != std::string::npos) {
        if (!parseU32(s.substr(at + 1), mode.refreshRate) || mode.refreshRate == 0)
            return false;
        s = s.substr(0, at);
    }
    size_t x = s.find('x');
    if (x == std::string::npos || !parseU32(s.substr(0, x), mode.width) ||
        !parseU32(s.substr(x + 1), mode.height) || mode.width == 0 || mode.height == 0)
        return false;
    out = mode;
    return true;
}

bool parseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    for (const std::string& w : words(text)) {
        uint64_t v;
        if (w.size() > 2 || !parseNumber("0x" + w, v))
            return false;
        out.push_back(uint8_t(v));
    }
    return true;
}

// "sz:text", "expand_sz:text", "dword:0x10", "binary:01 02", "multi_sz:a|b".
bool parseRegistryValue(const std::string& text, RegistryValueDesc& out) {
    size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    std::string type = lower(trim(text.substr(0, colon)));
    std::string data = text.substr(colon + 1);
    if (type == "sz" || type == "expand_sz") {
        out.type = type == "sz" ? 1 : 2;
        out.data = utf16Bytes(data, true);
    } else if (type == "dword") {
        uint32_t v;
        if (!parseU32(data, v))
            return false;
        out.type = 4;
        out.data = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    } else if (type == "binary") {
        out.type = 3;
        if (!parseHexBytes(data, out.data))
            return false;
    } else if (type == "multi_sz") {
        out.type = 7;
        out.data.clear();
        std::stringstream parts(data);
        std::string part;
        while (std::getline(parts, part, '|')) {
            std::vector<uint8_t> bytes = utf16Bytes(part, true);
            out.data.insert(out.data.end(), bytes.begin(), bytes.end());
        }
        out.data.push_back(0);
        out.data.push_back(0);
    } else {
        return false;
    }
    return true;
}

struct Section {
    std::string kind;
    std::string title;
    size_t line = 0;
    std::vector<ScenarioEntry> entries;
    std::vector<std::string> verbatim; // "| " lines of a [file] section
};

struct Failure {
    size_t line;
    std::string message;
};

std::map<std::string, ScenarioSectionHandler>& handlers() {
    static auto* s_pHandlers = new std::map<std::string, ScenarioSectionHandler>();
    return *s_pHandlers;
}

std::mutex& handlersLock() {
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}

bool applyGpu(const Section& s, MachineDesc& m, Failure& f) {
    int index = m.findGpu(s.title);
    if (index < 0) {
        GpuDesc g;
        g.id = s.title;
        index = m.addGpu(g);
    }
    GpuDesc& g = m.gpus[index];
    for (const ScenarioEntry& e : s.entries) {
        bool ok = true;
        const std::string& k = e.key;
        if (k == "name")
            g.name = e.value;
        else if (k == "vendor")
            ok = parseU32(e.value, g.vendorId);
        else if (k == "device")
            ok = parseU32(e.value, g.deviceId);
        else if (k == "subsys")
            ok = parseU32(e.value, g.subsysId);
        else if (k == "revision")
            ok = parseU32(e.value, g.revision);
        else if (k == "bus")
            ok = parseU32(e.value, g.busNumber);
        else if (k == "device-number")
            ok = parseU32(e.value, g.deviceNumber);
        else if (k == "function")
            ok = parseU32(e.value, g.functionNumber);
        else if (k == "luid")
            ok = parseU32(e.value, g.luidLow);
        else if (k == "luid-high")
            ok = parseInt(e.value, g.luidHigh);
        else if (k == "umd")
            g.umdFileName = e.value;
        else if (k == "video-guid")
            g.videoGuid = e.value;
        else if (k == "instance")
            g.instance = e.value;
        else if (k == "nodes")
            ok = parseU32(e.value, g.nodeCount);
        else if (k == "render-us")
            ok = parseU32(e.value, g.renderTimeUs);
        else if (k == "copy-us")
            ok = parseU32(e.value, g.copyTimeUs);
        else if (k == "video-memory-mib") {
            uint32_t mib = 0;
            ok = parseU32(e.value, mib);
            g.videoMemory = uint64_t(mib) << 20;
        } else if (k == "interface-value")
            ok = parseBool(e.value, g.writeInterfaceValue);
        else if (k == "private")
            ok = parseHexBytes(e.value, g.umdPrivateData);
        else if (k == "modes") {
            g.modes.clear();
            for (const std::string& w : words(e.value)) {
                DisplayMode mode;
                ok = ok && parseMode(w, mode);
                g.modes.push_back(mode);
            }
        } else if (k == "multisample") {
            g.multisampleMethods.clear();
            for (const std::string& w : words(e.value)) {
                size_t slash = w.find('/');
                MultisampleMethod method;
                ok = ok && slash != std::string::npos &&
                     parseU32(w.substr(0, slash), method.numSamples) &&
                     parseU32(w.substr(slash + 1), method.numQualityLevels);
                g.multisampleMethods.push_back(method);
            }
        } else {
            f = {e.line, "unknown GPU key '" + k + "'"};
            return false;
        }
        if (!ok) {
            f = {e.line, "bad value '" + e.value + "' for '" + k + "'"};
            return false;
        }
    }
    return true;
}

bool parseState(const std::string& text, uint32_t& flags) {
    flags = 0;
    for (const std::string& w : words(lower(text))) {
        if (w == "attached")
            flags |= kAttachedToDesktop;
        else if (w == "primary")
            flags |= kPrimaryDevice | kAttachedToDesktop;
        else if (w == "mirroring")
            flags |= kMirroringDriver;
        else if (w != "inactive" && w != "none")
            return false;
    }
    return true;
}

bool applyDisplay(const Section& s, bool mirror, MachineDesc& m, Failure& f) {
    int index = m.findDisplay(s.title);
    bool created = index < 0;
    DisplayDeviceDesc d;
    if (!created)
        d = m.displays[index];
    d.deviceName = s.title;
    if (mirror) {
        d.gpu = -1;
        d.stateFlags |= kMirroringDriver;
    }
    bool sourceGiven = false;
    bool modeGiven = false;
    for (const ScenarioEntry& e : s.entries) {
        bool ok = true;
        const std::string& k = e.key;
        if (k == "gpu" && !mirror) {
            d.gpu = m.findGpu(e.value);
            if (d.gpu < 0) {
                f = {e.line, "no GPU named '" + e.value + "' (define its [gpu] section first)"};
                return false;
            }
        } else if (k == "source" && !mirror) {
            ok = parseU32(e.value, d.vidPnSourceId);
            sourceGiven = true;
        } else if (k == "state") {
            ok = parseState(e.value, d.stateFlags);
            if (mirror)
                d.stateFlags |= kMirroringDriver;
        } else if (k == "mode" && !mirror) {
            ok = parseMode(e.value, d.currentMode);
            modeGiven = true;
        } else if (k == "position") {
            size_t comma = e.value.find(',');
            ok = comma != std::string::npos && parseInt(e.value.substr(0, comma), d.positionX) &&
                 parseInt(e.value.substr(comma + 1), d.positionY);
        } else if (k == "monitor" && !mirror) {
            d.monitorName = e.value;
        } else if (k == "string" && mirror) {
            d.mirrorString = e.value;
        } else if (k == "device-id" && mirror) {
            d.mirrorDeviceId = e.value;
        } else if (k == "key" && mirror) {
            d.mirrorDeviceKey = e.value;
        } else {
            f = {e.line,
                 std::string("unknown ") + (mirror ? "mirror" : "display") + " key '" + k + "'"};
            return false;
        }
        if (!ok) {
            f = {e.line, "bad value '" + e.value + "' for '" + k + "'"};
            return false;
        }
    }
    if (!mirror && d.gpu < 0) {
        f = {s.line, "display device '" + s.title + "' needs 'gpu = <id>'"};
        return false;
    }
    if (created && !mirror && !sourceGiven) {
        d.vidPnSourceId = 0;
        for (const DisplayDeviceDesc& other : m.displays) {
            if (other.gpu == d.gpu)
                d.vidPnSourceId = std::max(d.vidPnSourceId, other.vidPnSourceId + 1);
        }
    }
    if (!mirror && !modeGiven && d.currentMode.width == 0 && !m.gpus[d.gpu].modes.empty())
        d.currentMode = m.gpus[d.gpu].modes.front();
    if (created)
        m.displays.push_back(d);
    else
        m.displays[index] = d;
    return true;
}

bool applyRegistry(const Section& s, MachineDesc& m, Failure& f) {
    for (const ScenarioEntry& e : s.entries) {
        RegistryValueDesc value;
        value.key = s.title;
        value.name = e.key == "@" ? std::string() : e.key;
        if (!parseRegistryValue(e.value, value)) {
            f = {e.line, "bad registry value '" + e.value +
                             "' (use sz:, expand_sz:, dword:, binary: or multi_sz:)"};
            return false;
        }
        m.registry.push_back(value);
    }
    return true;
}

// [install <folder>]: "files = a.dll b.dll" copies built modules into the folder when the
// machine is installed; "registry = <key>\<value>" names the string value that points at it.
bool applyInstall(const Section& s, MachineDesc& m, Failure& f) {
    InstallDesc install;
    install.directory = s.title;
    for (const ScenarioEntry& e : s.entries) {
        if (e.key == "files") {
            std::stringstream names(e.value);
            std::string name;
            while (names >> name) {
                if (name.find_first_of("\\/:") != std::string::npos) {
                    f = {e.line, "install file '" + name + "' must be a bare module name"};
                    return false;
                }
                install.files.push_back(name);
            }
        } else if (e.key == "registry") {
            size_t cut = e.value.find_last_of('\\');
            if (cut == std::string::npos || cut == 0 || cut + 1 == e.value.size()) {
                f = {e.line, "install registry wants <key>\\<value name>, not '" + e.value + "'"};
                return false;
            }
            m.addString(e.value.substr(0, cut), e.value.substr(cut + 1), install.directory);
        } else {
            f = {e.line, "unknown install key '" + e.key + "'"};
            return false;
        }
    }
    m.installs.push_back(install);
    return true;
}

// [clock]: "mode = virtual" runs the machine on simulated time, "real" (the default) on
// the host's.
bool applyClock(const Section& s, MachineDesc& m, Failure& f) {
    for (const ScenarioEntry& e : s.entries) {
        if (e.key != "mode") {
            f = {e.line, "unknown clock key '" + e.key + "'"};
            return false;
        }
        std::string mode = lower(e.value);
        if (mode != "virtual" && mode != "real") {
            f = {e.line, "unknown clock mode '" + e.value + "' (use virtual or real)"};
            return false;
        }
        m.virtualClock = mode == "virtual";
    }
    return true;
}

// [interop]: "notify-us = N", the time the simulated interop library takes from an
// injection to its CPU notification.
bool applyInterop(const Section& s, MachineDesc& m, Failure& f) {
    for (const ScenarioEntry& e : s.entries) {
        char* end = nullptr;
        unsigned long value = strtoul(e.value.c_str(), &end, 10);
        if (e.key != "notify-us") {
            f = {e.line, "unknown interop key '" + e.key + "'"};
            return false;
        }
        if (e.value.empty() || *end != 0 || value > 10000000ul) {
            f = {e.line, "notify-us wants microseconds from 0 to 10000000, not '" + e.value + "'"};
            return false;
        }
        m.interopNotifyUs = static_cast<uint32_t>(value);
    }
    return true;
}

bool applySection(const Section& s, MachineDesc& m, bool first, bool skipUnknown, Failure& f) {
    if (s.kind == "machine") {
        if (!first) {
            f = {s.line, "[machine] must be the first section"};
            return false;
        }
        for (const ScenarioEntry& e : s.entries) {
            if (e.key != "base") {
                f = {e.line, "unknown machine key '" + e.key + "'"};
                return false;
            }
            if (!presets::byName(e.value, m)) {
                std::string known;
                for (const std::string& n : presets::names())
                    known += (known.empty() ? "" : ", ") + n;
                f = {e.line, "unknown base machine '" + e.value + "' (known: " + known + ")"};
                return false;
            }
        }
        return true;
    }
    if (s.kind == "clock")
        return applyClock(s, m, f);
    if (s.kind == "interop")
        return applyInterop(s, m, f);
    if (s.title.empty()) {
        f = {s.line, "section [" + s.kind + "] needs a name"};
        return false;
    }
    if (s.kind == "gpu")
        return applyGpu(s, m, f);
    if (s.kind == "display" || s.kind == "mirror")
        return applyDisplay(s, s.kind == "mirror", m, f);
    if (s.kind == "registry")
        return applyRegistry(s, m, f);
    if (s.kind == "install")
        return applyInstall(s, m, f);
    if (s.kind == "file") {
        if (!s.entries.empty()) {
            f = {s.entries.front().line, "file lines start with '|'"};
            return false;
        }
        std::string content;
        for (const std::string& line : s.verbatim)
            content += line + "\n";
        m.addFile(s.title, content);
        return true;
    }
    ScenarioSectionHandler handler;
    {
        std::lock_guard<std::mutex> guard(handlersLock());
        auto it = handlers().find(s.kind);
        if (it != handlers().end())
            handler = it->second;
    }
    if (!handler && skipUnknown)
        return true;
    if (!handler) {
        f = {s.line, "unknown section kind '" + s.kind + "'"};
        return false;
    }
    std::string message;
    size_t line = s.line;
    if (!handler(s.title, s.entries, m, message, line)) {
        f = {line, message};
        return false;
    }
    return true;
}

} // namespace

bool ScenarioLoader::loadText(const std::string& text, const std::string& name, MachineDesc& out,
                              std::string* error, UnknownSections unknown) {
    MachineDesc machine;
    Failure failure{0, ""};
    std::stringstream lines(text);
    std::string raw;
    size_t number = 0;
    bool haveSection = false;
    bool first = true;
    Section section;
    auto fail = [&](const Failure& f) {
        if (error)
            *error = name + ":" + std::to_string(f.line) + ": " + f.message;
        return false;
    };
    auto finish = [&]() {
        if (!haveSection)
            return true;
        bool ok = applySection(section, machine, first, unknown == UnknownSections::Skip, failure);
        first = false;
        return ok;
    };
    while (std::getline(lines, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        std::string line = trim(raw);
        if (!line.empty() && line[0] == '|') {
            if (!haveSection || section.kind != "file")
                return fail({number, "'|' lines belong to a [file] section"});
            // "| text" keeps everything after the bar and one blank.
            std::string content = raw.substr(raw.find('|') + 1);
            if (!content.empty() && content[0] == ' ')
                content.erase(0, 1);
            section.verbatim.push_back(content);
            continue;
        }
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                return fail({number, "section header without ']'"});
            if (!finish())
                return fail(failure);
            std::string header = trim(line.substr(1, line.size() - 2));
            size_t space = header.find_first_of(" \t");
            section = Section();
            section.kind = lower(header.substr(0, space));
            section.title = space == std::string::npos ? "" : trim(header.substr(space));
            section.line = number;
            haveSection = true;
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return fail({number, "expected 'key = value', a [section] or a '|' line"});
        if (!haveSection)
            return fail({number, "'key = value' before the first [section]"});
        section.entries.push_back(
            {lower(trim(line.substr(0, eq))), trim(line.substr(eq + 1)), number});
        if (section.kind == "registry")
            section.entries.back().key = trim(line.substr(0, eq)); // value names keep case
    }
    if (!finish())
        return fail(failure);
    std::string problem = machine.validate();
    if (!problem.empty())
        return fail({number, "the machine is inconsistent: " + problem});
    out = machine;
    return true;
}

bool ScenarioLoader::loadFile(const std::string& path, MachineDesc& out, std::string* error,
                              UnknownSections unknown) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error)
            *error = "cannot open scenario file " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return loadText(text.str(), path, out, error, unknown);
}

void ScenarioLoader::registerSection(const std::string& kind, ScenarioSectionHandler handler) {
    std::lock_guard<std::mutex> guard(handlersLock());
    handlers()[lower(kind)] = std::move(handler);
}

} // namespace sim
