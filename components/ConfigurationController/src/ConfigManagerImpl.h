// ConfigManagerImpl: one parsed configuration file and the nodes handed out from it.
#pragma once

#include "ConfigController.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <memory>
#include <mutex>
#include <stdint.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace configctl {

class ConfigNodeImpl;

/// Owns the libxml2 document of one file and every node handed out for it. Callers see only
/// the ConfigManager base (its table pointer); the table's functions lead back here.
/// Queries, node hand-outs and releases may come from several threads at once: one lock
/// covers the document and the node table. A node itself belongs to the caller that got it.
class ConfigManagerImpl : public ConfigManager {
public:
    /// Parses a file's contents (plain XML or the xenc form). Null when it is not a
    /// well-formed document the library accepts.
    static ConfigManagerImpl* fromBytes(const WCHAR* path, std::vector<uint8_t>& bytes);

    ~ConfigManagerImpl();
    ConfigManagerImpl(const ConfigManagerImpl&) = delete;
    ConfigManagerImpl& operator=(const ConfigManagerImpl&) = delete;

    /// The implementation behind a caller's pointer; null stays null.
    static ConfigManagerImpl* from(ConfigManager* manager);

    /// The index-th element an XPath expression selects, as a new node; null when none.
    ConfigNode* select(const WCHAR* xpath, int index);
    /// The number of elements an expression selects; -1 when it does not compile.
    int count(const WCHAR* xpath);
    /// A new node for an element of this document (null stays null).
    ConfigNode* wrap(xmlNode* element);
    /// Frees a node handed out by this manager; anything else is ignored.
    void release(ConfigNode* node);
    /// Frees every node and the document; later queries find nothing.
    void clear();

    const WCHAR* filePath() const { return text::w(m_path); }
    const WCHAR* rootName() const { return text::w(m_rootName); }

    /// The function table every manager carries.
    static const ConfigManagerOps s_ops;

private:
    ConfigManagerImpl(const WCHAR* path, xmlDoc* pDoc);

    /// The elements an expression selects, in document order. False when it does not compile.
    /// Called with the lock held.
    bool evaluate(const WCHAR* xpath, std::vector<xmlNode*>& elements);
    /// wrap() with the lock held.
    ConfigNode* wrapLocked(xmlNode* element);

    std::u16string m_path;
    std::u16string m_rootName;
    xmlDoc* m_pDoc;
    /// The document's XPath context, made by the first query and used by every other.
    xmlXPathContext* m_pXPath = nullptr;
    std::unordered_map<ConfigNode*, std::unique_ptr<ConfigNodeImpl>> m_nodes;
    std::mutex m_lock;
};

} // namespace configctl
