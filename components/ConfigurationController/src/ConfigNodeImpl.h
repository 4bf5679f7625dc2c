// ConfigNodeImpl: one element selected by a query, with the texts handed out for it.
#pragma once

#include "ConfigController.h"

#include <libxml/tree.h>

#include <string>

namespace configctl {

class ConfigManagerImpl;

/// A view of one element of a manager's document. The texts it returns are kept here, so
/// they stay valid until the node is released.
class ConfigNodeImpl : public ConfigNode {
public:
    ConfigNodeImpl(ConfigManagerImpl* pOwner, xmlNode* pElement);
    ConfigNodeImpl(const ConfigNodeImpl&) = delete;
    ConfigNodeImpl& operator=(const ConfigNodeImpl&) = delete;

    /// The implementation behind a caller's pointer; null stays null.
    static ConfigNodeImpl* from(ConfigNode* node);

    const WCHAR* name();
    const WCHAR* attribute(const WCHAR* name);
    int childCount() const;
    ConfigNode* child(int index);
    const WCHAR* text();
    ConfigNode* parent();
    long line() const;
    ConfigManagerImpl* owner() const { return m_pOwner; }
    xmlNode* element() const { return m_pElement; }

    /// The function table every node carries.
    static const ConfigNodeOps s_ops;

private:
    ConfigManagerImpl* m_pOwner;
    xmlNode* m_pElement;
    std::u16string m_name;
    std::u16string m_text;
    std::u16string m_attribute;
    bool m_hasName = false;
    bool m_hasText = false;
};

} // namespace configctl
