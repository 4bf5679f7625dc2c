// The manager: parsing, XPath evaluation and the bookkeeping of handed-out nodes.
#include "ConfigManagerImpl.h"

#include "ConfigNodeImpl.h"
#include "Guarded.h"
#include "XencCodec.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <new>

namespace configctl {

namespace {

// libxml2 would print parse and XPath errors to the standard error of the host process;
// a bad file or query is reported to the caller by a null result instead.
void silentError(void*, xmlErrorPtr) {}

// Parser options: never touch the network, say nothing on stderr.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

std::u16string widenXml(const xmlChar* s) {
    return text::widen(reinterpret_cast<const char*>(s ? s : BAD_CAST ""));
}

void opDestroy(ConfigManager* self, unsigned flags) {
    guardedVoid([&] {
        ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
        if (!manager)
            return;
        if (flags & kConfigDestroyFree)
            delete manager;
        else
            manager->clear();
    });
}

ConfigNode* opGetNode(ConfigManager* self, const WCHAR* xpath) {
    return guarded<ConfigNode*>(nullptr, [&]() -> ConfigNode* {
        ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
        return manager ? manager->select(xpath, 0) : nullptr;
    });
}

int opGetNodeCount(ConfigManager* self, const WCHAR* xpath) {
    return guarded(-1, [&] {
        ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
        return manager ? manager->count(xpath) : -1;
    });
}

ConfigNode* opGetNodeAt(ConfigManager* self, const WCHAR* xpath, int index) {
    return guarded<ConfigNode*>(nullptr, [&]() -> ConfigNode* {
        ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
        return manager ? manager->select(xpath, index) : nullptr;
    });
}

const WCHAR* opGetFilePath(ConfigManager* self) {
    ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
    return manager ? manager->filePath() : nullptr;
}

const WCHAR* opGetRootName(ConfigManager* self) {
    ConfigManagerImpl* manager = ConfigManagerImpl::from(self);
    return manager ? manager->rootName() : nullptr;
}

void opReleaseNode(ConfigManager* self, ConfigNode* node) {
    guardedVoid([&] {
        if (ConfigManagerImpl* manager = ConfigManagerImpl::from(self))
            manager->release(node);
    });
}

} // namespace

const ConfigManagerOps ConfigManagerImpl::s_ops = {
    opDestroy,      // 0
    opGetNode,      // 1
    opGetNodeCount, // 2
    opGetNodeAt,    // 3
    opGetFilePath,  // 4
    opGetRootName,  // 5
    opReleaseNode,  // 6
};

ConfigManagerImpl::ConfigManagerImpl(const WCHAR* path, xmlDoc* pDoc)
    : ConfigManager{&s_ops}, m_path(reinterpret_cast<const char16_t*>(path)), m_pDoc(pDoc) {
    m_rootName = widenXml(xmlDocGetRootElement(pDoc)->name);
}

ConfigManagerImpl::~ConfigManagerImpl() {
    clear();
}

ConfigManagerImpl* ConfigManagerImpl::fromBytes(const WCHAR* path, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> decoded;
    if (xenc::decode(bytes.data(), bytes.size(), decoded))
        bytes.swap(decoded);
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX))
        return nullptr;

    xmlDoc* pDoc = xmlReadMemory(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<int>(bytes.size()), nullptr, nullptr, kParseOptions);
    if (!pDoc)
        return nullptr;
    // Configuration files have no use for a document type declaration, and entities declared
    // in one could expand a small file into an enormous text: such a file is refused.
    if (pDoc->intSubset || pDoc->extSubset || !xmlDocGetRootElement(pDoc)) {
        xmlFreeDoc(pDoc);
        return nullptr;
    }
    ConfigManagerImpl* manager = new (std::nothrow) ConfigManagerImpl(path, pDoc);
    if (!manager)
        xmlFreeDoc(pDoc);
    return manager;
}

ConfigManagerImpl* ConfigManagerImpl::from(ConfigManager* manager) {
    if (!manager || manager->pOps != &s_ops)
        return nullptr;
    return static_cast<ConfigManagerImpl*>(manager);
}

bool ConfigManagerImpl::evaluate(const WCHAR* xpath, std::vector<xmlNode*>& elements) {
    elements.clear();
    if (!m_pDoc || !xpath)
        return false;
    std::string expression = text::narrow(xpath);

    if (!m_pXPath) {
        m_pXPath = xmlXPathNewContext(m_pDoc);
        if (!m_pXPath)
            return false;
        m_pXPath->error = silentError;
    }
    // The context is shared by every query: each one starts afresh at the document node,
    // where relative expressions ("kora/default/...") begin, with no position of its own.
    m_pXPath->node = reinterpret_cast<xmlNode*>(m_pDoc);
    m_pXPath->contextSize = -1;
    m_pXPath->proximityPosition = -1;
    xmlXPathObject* pResult = xmlXPathEvalExpression(BAD_CAST expression.c_str(), m_pXPath);
    bool compiled = pResult != nullptr;
    if (pResult && pResult->type == XPATH_NODESET && pResult->nodesetval) {
        const xmlNodeSet* set = pResult->nodesetval;
        for (int i = 0; i < set->nodeNr; ++i) {
            // Attributes, texts and namespace records are not elements; only elements have
            // the shape a node promises.
            if (set->nodeTab[i] && set->nodeTab[i]->type == XML_ELEMENT_NODE)
                elements.push_back(set->nodeTab[i]);
        }
    }
    xmlXPathFreeObject(pResult);
    return compiled;
}

ConfigNode* ConfigManagerImpl::select(const WCHAR* xpath, int index) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<xmlNode*> elements;
    if (!evaluate(xpath, elements) || index < 0 || static_cast<size_t>(index) >= elements.size())
        return nullptr;
    return wrapLocked(elements[static_cast<size_t>(index)]);
}

int ConfigManagerImpl::count(const WCHAR* xpath) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<xmlNode*> elements;
    if (!evaluate(xpath, elements))
        return -1;
    return static_cast<int>(elements.size());
}

ConfigNode* ConfigManagerImpl::wrap(xmlNode* element) {
    std::lock_guard<std::mutex> guard(m_lock);
    return wrapLocked(element);
}

ConfigNode* ConfigManagerImpl::wrapLocked(xmlNode* element) {
    if (!element || !m_pDoc)
        return nullptr;
    auto node = std::make_unique<ConfigNodeImpl>(this, element);
    ConfigNode* handle = node.get();
    m_nodes.emplace(handle, std::move(node));
    return handle;
}

void ConfigManagerImpl::release(ConfigNode* node) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nodes.erase(node);
}

void ConfigManagerImpl::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nodes.clear();
    if (m_pXPath) {
        xmlXPathFreeContext(m_pXPath);
        m_pXPath = nullptr;
    }
    if (m_pDoc) {
        xmlFreeDoc(m_pDoc);
        m_pDoc = nullptr;
    }
}

} // namespace configctl
