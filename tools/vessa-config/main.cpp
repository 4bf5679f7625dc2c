// vessa-config: shows every configuration property as the driver would see it on a given
// machine, with the source each value came from. It runs the driver's own Configuration
// code on the simulated machine, set up from the files given on the command line.
//
//   vessa-config show --exe PATH --gpus NAME [--database FILE] [--user-settings FILE]
//                     [--loader-ini FILE]
//   vessa-config encode PLAIN.xml OUT.xenc
//   vessa-config decode IN.xenc OUT.xml
#include "ConfigScene.h"

#include "ConfigProperty.h"
#include "Configuration.h"
#include "XencCodec.h"
#include "sim/Machine.h"

#include <errno.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFile = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: vessa-config show --exe PATH --gpus NAME [--database FILE]\n"
    "                         [--user-settings FILE] [--loader-ini FILE]\n"
    "       vessa-config encode PLAIN_XML OUT_XENC\n"
    "       vessa-config decode IN_XENC OUT_XML\n"
    "NAME: intel_nv, intel_ati, nv_intel, ati_intel or none.\n"
    "show prints name<TAB>value<TAB>source for every property; the message boxes and the\n"
    "diagnostic log of the load go to standard error.\n";

int usageError(const std::string& message) {
    std::cerr << "vessa-config: " << message << "\n" << kUsage;
    return kExitUsage;
}

bool readHostFile(const std::string& path, std::string& contents) {
    std::error_code failure;
    if (std::filesystem::is_directory(path, failure)) {
        std::cerr << "vessa-config: cannot read '" << path << "': it is a directory\n";
        return false;
    }
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        std::cerr << "vessa-config: cannot read '" << path << "': " << strerror(errno) << "\n";
        return false;
    }
    contents.clear();
    char buffer[64 * 1024];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        contents.append(buffer, got);
    bool failed = ferror(f) != 0;
    int error = errno;
    fclose(f);
    if (failed) {
        std::cerr << "vessa-config: error reading '" << path << "': " << strerror(error) << "\n";
        return false;
    }
    return true;
}

bool writeHostFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::cerr << "vessa-config: cannot write '" << path << "': " << strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool endsWithNoCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char a = s[s.size() - suffix.size() + i];
        if (tolower(static_cast<unsigned char>(a)) != suffix[i])
            return false;
    }
    return true;
}

// A value on one line: tabs and line breaks are written as escapes.
std::string printable(const WCHAR* value) {
    std::string out;
    for (char c : text::narrow(value)) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void printProperty(Configuration& configuration, const std::string& name, ConfigProperty property,
                   int gpuIndex) {
    // The value first: reading it is what finds (and records) its source.
    const WCHAR* value = configuration.getProperty(property, gpuIndex);
    ConfigSource source = configuration.getPropertySource(property, gpuIndex);
    std::cout << name << '\t' << (value ? printable(value) : std::string()) << '\t'
              << configSourceName(source) << '\n';
}

void printAll(Configuration& configuration) {
    for (const ConfigPropertyInfo& row : kConfigProperties)
        printProperty(configuration, row.name, static_cast<ConfigProperty>(row.id), 0);
    for (const ConfigGpuPropertyInfo& row : kConfigGpuProperties) {
        for (int gpu = 0; gpu < kConfigGpuSlots; ++gpu) {
            printProperty(configuration, std::string(row.name) + "[" + std::to_string(gpu) + "]",
                          static_cast<ConfigProperty>(row.base), gpu);
        }
    }
}

// What the load said: message boxes first, then the diagnostic log, all on stderr.
void printDiagnostics() {
    sim::Machine& machine = sim::Machine::instance();
    for (const sim::MessageBoxRecord& box : machine.messageBoxes().records()) {
        std::cerr << "message box [" << text::narrow(box.title) << "] " << text::narrow(box.text)
                  << " (style 0x" << std::hex << box.style << std::dec << ")\n";
    }
    std::string log;
    if (machine.root().readFile(u"C:\\vessa.log", log)) {
        std::string line;
        std::istringstream lines(log);
        while (std::getline(lines, line)) {
            while (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::cerr << "log: " << line << "\n";
        }
    }
}

int show(const std::map<std::string, std::string>& options) {
    vessaconfig::ConfigScene scene;
    auto option = [&](const char* name) {
        auto it = options.find(name);
        return it == options.end() ? nullptr : &it->second;
    };
    if (!option("--exe") || !option("--gpus"))
        return usageError("show needs --exe and --gpus");
    scene.executablePath = text::widen(option("--exe")->c_str());
    scene.gpus = *option("--gpus");

    std::string contents;
    if (const std::string* path = option("--database")) {
        if (!readHostFile(*path, contents))
            return kExitFile;
        scene.database = contents;
        scene.databaseName = endsWithNoCase(*path, ".xenc") ? "vessa.xenc" : "vessa.xml";
    }
    if (const std::string* path = option("--user-settings")) {
        if (!readHostFile(*path, contents))
            return kExitFile;
        scene.userSettings = contents;
    }
    if (const std::string* path = option("--loader-ini")) {
        if (!readHostFile(*path, contents))
            return kExitFile;
        scene.loaderIni = contents;
    }

    std::string error;
    if (!vessaconfig::installConfigScene(scene, error))
        return usageError(error);

    Configuration* configuration = Configuration::getInstance();
    if (!configuration) {
        std::cerr << "vessa-config: the configuration store could not be created\n";
        return kExitFile;
    }
    printAll(*configuration);
    std::cout.flush();
    printDiagnostics();
    return kExitOk;
}

int transcode(bool encode, const std::string& in, const std::string& out) {
    std::string contents;
    if (!readHostFile(in, contents))
        return kExitFile;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(contents.data());
    std::vector<uint8_t> result;
    if (encode) {
        result = xenc::encode(bytes, contents.size());
    } else if (!xenc::decode(bytes, contents.size(), result)) {
        std::cerr << "vessa-config: '" << in << "' is not an xenc file (no VXENC01 magic)\n";
        return kExitFile;
    }
    return writeHostFile(out, result) ? kExitOk : kExitFile;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usageError("no command");
    const std::string command = args[0];
    if (command == "encode" || command == "decode") {
        if (args.size() != 3)
            return usageError(command + " needs an input and an output file");
        return transcode(command == "encode", args[1], args[2]);
    }
    if (command != "show")
        return usageError("unknown command '" + command + "'");

    static const char* const kKnown[] = {"--exe", "--gpus", "--database", "--user-settings",
                                         "--loader-ini"};
    std::map<std::string, std::string> options;
    for (size_t i = 1; i < args.size(); i += 2) {
        bool known = false;
        for (const char* name : kKnown)
            known = known || args[i] == name;
        if (!known)
            return usageError("unknown option '" + args[i] + "'");
        if (i + 1 >= args.size())
            return usageError(args[i] + " needs a value");
        options[args[i]] = args[i + 1];
    }
    return show(options);
}
