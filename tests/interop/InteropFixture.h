// A device created through the library on the simulated machine, with the interop library
// installed beside the configuration library in the installation directory, and helpers to
// drive and watch its staging ring.
#pragma once

#include "../adapter/AdapterTestSupport.h"

#include "ConfigProperty.h"
#include "SimProbeStagingRing.h"
#include "StagingBuffer.h"
#include "VessaInterop.h"
#include "platform/win.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

namespace interoptest {

using adaptertest::machine;
using adaptertest::reports;

constexpr int kIntel = 0;  // presenting GPU of the default machine
constexpr int kNvidia = 1; // rendering GPU
constexpr const char* kInterop = "vessaInterop.dll";
// A device's worker states.
constexpr uint32_t kWorkerNone = 0;
constexpr uint32_t kWorkerRunning = 1;
const char16_t kInstallDir[] = u"C:\\Vessa\\install";

/// What vessaProbeStagingRing reports.
using StagingRing = VessaProbeStagingRing;

template <typename Fn> Fn probe(const char* name) {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    return library ? reinterpret_cast<Fn>(
                         reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)))
                   : nullptr;
}

inline std::string hostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

/// The machine, an application database with `values` over the usual properties, and an
/// installation directory holding the configuration library and, when `withInterop`, the
/// interop library.
inline void installMachine(const sim::MachineDesc& desc,
                           const std::map<std::string, std::string>& values, bool withInterop) {
    std::string error;
    ASSERT_TRUE(sim::installMachine(desc, &error)) << error;
    std::string xml = "<?xml version=\"1.0\"?>\n<kora><default><all>\n";
    auto add = [&](const char* name, const char* fallback) {
        if (std::string(name) == "partial_copy" && !values.count(name))
            fallback = "1.0"; // whole rows, as the sample database has it
        auto it = values.find(name);
        std::string value = it != values.end() ? it->second : (fallback ? fallback : "0");
        xml += std::string("<") + name + ">" + value + "</" + name + ">\n";
    };
#define INTEROP_TEST_PROPERTY(name, id, kind, fallback)                                            \
    if (id >= 1 && id <= 25)                                                                       \
        add(#name, fallback);
    VESSA_CONFIG_PROPERTIES(INTEROP_TEST_PROPERTY)
#undef INTEROP_TEST_PROPERTY
    xml += "</all></default></kora>\n";
    ASSERT_TRUE(machine().root().writeFile(u"C:\\Vessa\\config\\vessa.xml", xml));

    const char* moduleDir = getenv("VESSA_MODULE_DIR");
    ASSERT_NE(nullptr, moduleDir);
    ASSERT_TRUE(machine().root().createFolder(kInstallDir));
    ASSERT_TRUE(machine().root().writeFile(
        std::u16string(kInstallDir) + u"\\ConfigurationController.dll",
        hostFile(std::string(moduleDir) + "/ConfigurationController.dll")));
    if (withInterop) {
        std::string library = hostFile(VESSA_TEST_INTEROP_DIR "/vessaInterop.dll");
        ASSERT_FALSE(library.empty());
        ASSERT_TRUE(machine().root().writeFile(std::u16string(kInstallDir) + u"\\vessaInterop.dll",
                                               library));
    }
    const std::u16string key = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
    ASSERT_TRUE(machine().registry().setString(key, u"InstallDirectory", kInstallDir));
    ASSERT_TRUE(machine().registry().setString(key, u"ConfigFileDirectory", u"C:\\Vessa\\config"));
    machine().environment().set(u"USERPROFILE", u"C:\\Users\\player");
    ASSERT_TRUE(machine().root().writeFile(u"C:\\Users\\player\\Quorvex\\userSettings.xml",
                                           "<userSettings/>"));
    // The loader ini names no DLL_DIR: the interop library is looked for in the installation.
    ASSERT_TRUE(
        machine().root().writeFile(u"C:\\Users\\player\\Quorvex\\vessaloader.ini", "[Driver]\r\n"));
    adaptertest::clearLog();
}

/// The virtual-clock default machine: waits that would take seconds take none.
inline sim::MachineDesc virtualMachine() {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.virtualClock = true;
    return desc;
}

inline size_t calls(const char* module, const char* entry, int gpu = sim::kNoGpu) {
    return gpu == sim::kNoGpu ? machine().journal().count(module, entry)
                              : machine().journal().count(module, entry, gpu);
}

/// One interposed device and its resources.
class InteropDevice {
public:
    ~InteropDevice() { close(); }

    void open() {
        sim::rt::AdapterSource source;
        source.library = "vessad3d9u.dll";
        source.entry = "OpenAdapter9DetourIntel";
        ASSERT_EQ(S_OK, sim::rt::RuntimeAdapter::openDisplay("", source, m_pAdapter));
        ASSERT_EQ(S_OK, m_pAdapter->createDevice(m_pDevice));
    }

    void close() {
        if (m_pDevice) {
            for (HANDLE hResource : m_resources)
                m_pDevice->destroyResource(hResource);
            m_resources.clear();
            m_pDevice->destroy();
            m_pDevice.reset();
        }
        if (m_pAdapter) {
            m_pAdapter->close();
            m_pAdapter.reset();
        }
    }

    sim::rt::RuntimeDevice& device() { return *m_pDevice; }
    HANDLE hDevice() const { return m_pDevice->driverDevice(); }

    HANDLE create(UINT width, UINT height, UINT multisampleType = 0, UINT surfaces = 1) {
        sim::rt::SurfaceDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = D3DDDIFMT_A8R8G8B8;
        desc.multisampleType = multisampleType;
        desc.surfaceCount = surfaces;
        HANDLE hResource = nullptr;
        EXPECT_EQ(S_OK, m_pDevice->createResource(desc, hResource));
        m_resources.push_back(hResource);
        return hResource;
    }

    /// A destination: a resource with its copy on the presenting GPU.
    HANDLE createDestination(UINT width, UINT height) {
        HANDLE hResource = create(width, height);
        uint64_t presenting = 0;
        auto fn = probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
        EXPECT_TRUE(fn && fn(hDevice(), hResource, &presenting));
        return hResource;
    }

    int transfer(HANDLE hDst, HANDLE hSrc) {
        auto fn = probe<int (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeTransfer");
        return fn ? fn(hDevice(), hDst, 0, hSrc, 0) : -2;
    }

    bool completionStep(HANDLE hDst, HANDLE hSrc) {
        auto fn = probe<BOOL (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeCompletionStep");
        return fn && fn(hDevice(), hDst, 0, hSrc, 0);
    }

    StagingRing ring() {
        StagingRing out = {};
        auto fn = probe<BOOL (*)(HANDLE, StagingRing*)>("vessaProbeStagingRing");
        EXPECT_TRUE(fn && fn(hDevice(), &out));
        return out;
    }

    bool stopWorker() {
        auto fn = probe<BOOL (*)(HANDLE)>("vessaProbeStopWorker");
        return fn && fn(hDevice());
    }

    uint32_t workerState() {
        auto fn = probe<uint32_t (*)(HANDLE)>("vessaProbeWorkerState");
        return fn ? fn(hDevice()) : 0xFFFFFFFFu;
    }

    bool workerPass() {
        auto fn = probe<BOOL (*)(HANDLE)>("vessaProbeWorkerPass");
        return fn && fn(hDevice());
    }

    int presentTarget(HANDLE hTarget) {
        auto fn = probe<int (*)(HANDLE, HANDLE, UINT)>("vessaProbePresentTarget");
        return fn ? fn(hDevice(), hTarget, 0) : -2;
    }

    uint64_t mappedCell(HANDLE hResource, UINT gpu) {
        auto fn = probe<uint64_t (*)(HANDLE, HANDLE, UINT)>("vessaProbeMappedCell");
        return fn ? fn(hDevice(), hResource, gpu) : 0;
    }

    /// Fills `hResource` on the rendering GPU with a picture of `parts` (drawn in order).
    void paint(HANDLE hResource, const std::vector<std::pair<RECT, D3DCOLOR>>& parts) {
        for (const auto& part : parts)
            ASSERT_EQ(S_OK, m_pDevice->colorFill(hResource, 0, part.first, part.second));
    }

    /// The presenting GPU's allocation of the destination `hResource` (found by size).
    sim::AllocationInfo presentingCopy(UINT width, UINT height) {
        sim::AllocationInfo found;
        for (D3DKMT_HANDLE h : sim::Kernel::instance().allocationsOf(m_pDevice->kernelDevice())) {
            sim::AllocationInfo info;
            if (sim::Kernel::instance().allocation(h, info) && !info.systemMemory &&
                info.width == width && info.height == height)
                found = info;
        }
        sim::Kernel::instance().waitForGpus(
            [&] { return !found.handle || !sim::Kernel::instance().allocationBusy(found.handle); });
        return found;
    }

private:
    std::unique_ptr<sim::rt::RuntimeAdapter> m_pAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> m_pDevice;
    std::vector<HANDLE> m_resources;
};

/// The colour at (x, y) of a picture of `parts` over black.
inline D3DCOLOR expectedPixel(const std::vector<std::pair<RECT, D3DCOLOR>>& parts, LONG x, LONG y) {
    D3DCOLOR colour = 0;
    for (const auto& part : parts) {
        const RECT& r = part.first;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            colour = part.second;
    }
    return colour;
}

/// Moves one frame of `width` x `height` through `device` and checks that it took the API
/// copy: no injection, the rendering GPU's Blt into its staging surface instead.
inline void expectTransferByApiCopy(InteropDevice& device, UINT width, UINT height) {
    HANDLE hSrc = device.create(width, height);
    HANDLE hDst = device.createDestination(width, height);
    machine().journal().clear();
    EXPECT_EQ(1, device.transfer(hDst, hSrc));
    EXPECT_EQ(0u, calls(kInterop, "injectBufferedSurfaceTransfer"));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "Blt", kNvidia)); // the API copy's first half
}

/// Pixels of `copy` that differ from the picture, counting only columns below `columns`.
inline int wrongPixels(const sim::AllocationInfo& copy,
                       const std::vector<std::pair<RECT, D3DCOLOR>>& parts, LONG columns) {
    int wrong = 0;
    for (LONG y = 0; y < LONG(copy.height); ++y) {
        for (LONG x = 0; x < columns && x < LONG(copy.width); ++x) {
            uint32_t pixel;
            memcpy(&pixel, copy.pMemory + size_t(y) * copy.pitch + size_t(x) * 4, 4);
            wrong += pixel != expectedPixel(parts, x, y);
        }
    }
    return wrong;
}

/// Interop library objects still alive.
inline void libraryLiveObjects(size_t& tokens, size_t& notifications, size_t& mappings) {
    tokens = notifications = mappings = 0;
    HMODULE library = GetModuleHandleW(WSTR("vessaInterop.dll"));
    auto fn =
        library ? reinterpret_cast<void (*)(size_t*, size_t*, size_t*)>(
                      reinterpret_cast<void (*)(void)>(GetProcAddress(library, "viSimLiveObjects")))
                : nullptr;
    if (fn)
        fn(&tokens, &notifications, &mappings);
}

/// Journal entries of the interop library and of the drivers' flushes and queries, in order,
/// as "module!entry@gpu".
inline std::vector<std::string> frameCalls() {
    std::vector<std::string> out;
    for (const sim::JournalEntry& e : machine().journal().entries()) {
        const bool interop = e.module == kInterop;
        const bool driverStep = (e.module == "simumd_nv.dll" && e.entry == "Flush") ||
                                (e.module == "simumd_intel.dll" &&
                                 (e.entry == "CreateQuery" || e.entry == "IssueQuery"));
        if (interop || driverStep)
            out.push_back(e.entry + "@" + std::to_string(e.gpu));
    }
    return out;
}

} // namespace interoptest
