// The run summary's text form: one "key=value" line per field.
#include "RunSummary.h"

#include <sstream>
#include <stdlib.h>

namespace demo {

namespace {

// Values are single lines; a line break inside one would start a new field.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

} // namespace

std::string RunSummary::serialize() const {
    std::ostringstream s;
    s.precision(17);
    auto put = [&](const char* key, const auto& value) { s << key << "=" << value << "\n"; };
    put("name", oneLine(name));
    put("scene", oneLine(scene));
    put("path", oneLine(path));
    put("pathText", oneLine(pathText));
    put("ok", ok ? 1 : 0);
    put("result", oneLine(result));
    put("gpu", gpu);
    put("displayGpu", displayGpu);
    put("width", width);
    put("height", height);
    put("framesRequested", framesRequested);
    put("framesPresented", framesPresented);
    put("seconds", seconds);
    put("averageFrameMs", averageFrameMs);
    put("worstFrameMs", worstFrameMs);
    put("scanOuts", scanOuts);
    put("compared", compared);
    put("newFrames", newFrames);
    put("repeated", repeated);
    put("exact", exact);
    put("mismatched", mismatched);
    put("iconFrames", iconFrames);
    put("meanNewIntervalMs", meanNewIntervalMs);
    put("worstNewIntervalMs", worstNewIntervalMs);
    put("transferPath", oneLine(transferPath));
    put("firstDifference", oneLine(firstDifference));
    put("timeline", oneLine(timeline));
    for (const std::string& png : pngs)
        put("png", oneLine(png));
    for (const std::string& line : counts)
        put("count", oneLine(line));
    return s.str();
}

bool RunSummary::parse(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    bool any = false;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        auto u64 = [&]() { return uint64_t(strtoull(value.c_str(), nullptr, 10)); };
        auto f64 = [&]() { return strtod(value.c_str(), nullptr); };
        any = true;
        if (key == "name")
            name = value;
        else if (key == "scene")
            scene = value;
        else if (key == "path")
            path = value;
        else if (key == "pathText")
            pathText = value;
        else if (key == "ok")
            ok = value == "1";
        else if (key == "result")
            result = value;
        else if (key == "gpu")
            gpu = atoi(value.c_str());
        else if (key == "displayGpu")
            displayGpu = atoi(value.c_str());
        else if (key == "width")
            width = uint32_t(u64());
        else if (key == "height")
            height = uint32_t(u64());
        else if (key == "framesRequested")
            framesRequested = uint32_t(u64());
        else if (key == "framesPresented")
            framesPresented = uint32_t(u64());
        else if (key == "seconds")
            seconds = f64();
        else if (key == "averageFrameMs")
            averageFrameMs = f64();
        else if (key == "worstFrameMs")
            worstFrameMs = f64();
        else if (key == "scanOuts")
            scanOuts = u64();
        else if (key == "compared")
            compared = u64();
        else if (key == "newFrames")
            newFrames = u64();
        else if (key == "repeated")
            repeated = u64();
        else if (key == "exact")
            exact = u64();
        else if (key == "mismatched")
            mismatched = u64();
        else if (key == "iconFrames")
            iconFrames = u64();
        else if (key == "meanNewIntervalMs")
            meanNewIntervalMs = f64();
        else if (key == "worstNewIntervalMs")
            worstNewIntervalMs = f64();
        else if (key == "transferPath")
            transferPath = value;
        else if (key == "firstDifference")
            firstDifference = value;
        else if (key == "timeline")
            timeline = value;
        else if (key == "png")
            pngs.push_back(value);
        else if (key == "count")
            counts.push_back(value);
    }
    return any;
}

} // namespace demo
