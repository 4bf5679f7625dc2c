// The configuration library on any file: plain XML or the xenc form (the first byte chooses,
// so mutations of a plain document also reach the decoder), then the queries and node walks
// the driver and the tools make. Nothing may crash, leak or read outside the document.
#include "ConfigController.h"
#include "FuzzSupport.h"
#include "XencCodec.h"

#include "platform/text.h"
#include "platform/win.h"
#include "sim/Machine.h"

#include <string.h>

namespace {

const char16_t kPath[] = u"C:\\fuzz\\vessa.xml";

PFN_CreateConfigManager s_create = nullptr;
PFN_CleanupConfigManager s_cleanup = nullptr;

// Visits an element and its children down to a small depth, reading everything a node
// offers, and releases what it took.
void walk(ConfigManager* manager, ConfigNode* node, int depth) {
    const ConfigNodeOps* ops = node->pOps;
    ops->getName(node);
    ops->getAttribute(node, WSTR("exact_name"));
    ops->getAttribute(node, WSTR(""));
    ops->getText(node);
    ops->getLine(node);
    ops->getXmlNode(node);
    if (ConfigNode* parent = ops->getParent(node))
        manager->pOps->releaseNode(manager, parent);
    int children = ops->getChildCount(node);
    for (int i = 0; depth < 4 && i < children && i < 16; ++i) {
        if (ConfigNode* child = ops->getChild(node, i)) {
            walk(manager, child, depth + 1);
            manager->pOps->releaseNode(manager, child);
        }
    }
    ops->getChild(node, -1);
    ops->getChild(node, children);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useBuildModules();
    HMODULE module = LoadLibraryW(WSTR("ConfigurationController.dll"));
    if (!module)
        abort();
    FARPROC create = GetProcAddress(module, "CreateConfigManager");
    FARPROC cleanup = GetProcAddress(module, "CleanupConfigManager");
    if (!create || !cleanup)
        abort();
    memcpy(&s_create, &create, sizeof s_create);
    memcpy(&s_cleanup, &cleanup, sizeof s_cleanup);
    sim::Machine::instance().root().createFolder(u"C:\\fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    bool encoded = input.byte() & 1;
    std::string document = input.remaining();
    if (encoded) {
        std::vector<uint8_t> file =
            xenc::encode(reinterpret_cast<const uint8_t*>(document.data()), document.size());
        document.assign(file.begin(), file.end());
    }
    sim::Machine::instance().root().writeFile(kPath, document);

    ConfigManager* manager = s_create(0, text::w(kPath));
    if (!manager)
        return 0;
    const ConfigManagerOps* ops = manager->pOps;
    ops->getFilePath(manager);
    ops->getRootName(manager);
    static const WCHAR* const kQueries[] = {
        WSTR("/*"),
        WSTR("//*"),
        WSTR("/kora/default/all/*"),
        WSTR("/kora/app[@exact_name='game.exe']"),
        WSTR("//intel_nv/*"),
        WSTR("/*/*[1]/text()"),
        WSTR("(("),
    };
    for (const WCHAR* query : kQueries) {
        int count = ops->getNodeCount(manager, query);
        if (ConfigNode* node = ops->getNode(manager, query)) {
            walk(manager, node, 0);
            ops->releaseNode(manager, node);
        }
        if (ConfigNode* last = ops->getNodeAt(manager, query, count - 1))
            ops->releaseNode(manager, last);
    }
    // A node still held when the manager empties itself, then a query on the empty manager.
    ConfigNode* held = ops->getNode(manager, WSTR("//*"));
    ops->destroy(manager, 0);
    ops->getNode(manager, WSTR("/*"));
    ops->releaseNode(manager, held);
    s_cleanup(manager);
    return 0;
}
