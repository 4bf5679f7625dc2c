// The node: names, attributes, texts and neighbours of one selected element.
#include "ConfigNodeImpl.h"

#include "ConfigManagerImpl.h"
#include "Guarded.h"

#include <libxml/parser.h>

namespace configctl {

namespace {

const WCHAR kEmpty[] = {0};

std::u16string widenXml(const xmlChar* s) {
    return text::widen(reinterpret_cast<const char*>(s ? s : BAD_CAST ""));
}

const WCHAR* opGetName(ConfigNode* self) {
    return guarded<const WCHAR*>(nullptr, [&]() -> const WCHAR* {
        ConfigNodeImpl* node = ConfigNodeImpl::from(self);
        return node ? node->name() : nullptr;
    });
}

const WCHAR* opGetAttribute(ConfigNode* self, const WCHAR* name) {
    return guarded<const WCHAR*>(nullptr, [&]() -> const WCHAR* {
        ConfigNodeImpl* node = ConfigNodeImpl::from(self);
        return node ? node->attribute(name) : nullptr;
    });
}

int opGetChildCount(ConfigNode* self) {
    ConfigNodeImpl* node = ConfigNodeImpl::from(self);
    return node ? node->childCount() : 0;
}

ConfigNode* opGetChild(ConfigNode* self, int index) {
    return guarded<ConfigNode*>(nullptr, [&]() -> ConfigNode* {
        ConfigNodeImpl* node = ConfigNodeImpl::from(self);
        return node ? node->child(index) : nullptr;
    });
}

const WCHAR* opGetText(ConfigNode* self) {
    return guarded<const WCHAR*>(kEmpty, [&]() -> const WCHAR* {
        ConfigNodeImpl* node = ConfigNodeImpl::from(self);
        return node ? node->text() : kEmpty;
    });
}

ConfigNode* opGetParent(ConfigNode* self) {
    return guarded<ConfigNode*>(nullptr, [&]() -> ConfigNode* {
        ConfigNodeImpl* node = ConfigNodeImpl::from(self);
        return node ? node->parent() : nullptr;
    });
}

long opGetLine(ConfigNode* self) {
    ConfigNodeImpl* node = ConfigNodeImpl::from(self);
    return node ? node->line() : 0;
}

ConfigManager* opGetManager(ConfigNode* self) {
    ConfigNodeImpl* node = ConfigNodeImpl::from(self);
    return node ? node->owner() : nullptr;
}

struct _xmlNode* opGetXmlNode(ConfigNode* self) {
    ConfigNodeImpl* node = ConfigNodeImpl::from(self);
    return node ? node->element() : nullptr;
}

} // namespace

const ConfigNodeOps ConfigNodeImpl::s_ops = {
    opGetName,       // 0
    opGetAttribute,  // 1
    opGetChildCount, // 2
    opGetChild,      // 3
    opGetText,       // 4
    opGetParent,     // 5
    opGetLine,       // 6
    opGetManager,    // 7
    opGetXmlNode,    // 8
};

ConfigNodeImpl::ConfigNodeImpl(ConfigManagerImpl* pOwner, xmlNode* pElement)
    : ConfigNode{&s_ops}, m_pOwner(pOwner), m_pElement(pElement) {}

ConfigNodeImpl* ConfigNodeImpl::from(ConfigNode* node) {
    if (!node || node->pOps != &s_ops)
        return nullptr;
    return static_cast<ConfigNodeImpl*>(node);
}

const WCHAR* ConfigNodeImpl::name() {
    if (!m_hasName) {
        m_name = widenXml(m_pElement->name);
        m_hasName = true;
    }
    return text::w(m_name);
}

const WCHAR* ConfigNodeImpl::attribute(const WCHAR* name) {
    if (!name)
        return nullptr;
    std::string narrowName = text::narrow(name);
    xmlChar* value = xmlGetProp(m_pElement, BAD_CAST narrowName.c_str());
    if (!value)
        return nullptr;
    m_attribute = widenXml(value);
    xmlFree(value);
    return text::w(m_attribute);
}

int ConfigNodeImpl::childCount() const {
    int count = 0;
    for (xmlNode* c = m_pElement->children; c; c = c->next)
        count += c->type == XML_ELEMENT_NODE ? 1 : 0;
    return count;
}

ConfigNode* ConfigNodeImpl::child(int index) {
    if (index < 0)
        return nullptr;
    for (xmlNode* c = m_pElement->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        if (index-- == 0)
            return m_pOwner->wrap(c);
    }
    return nullptr;
}

const WCHAR* ConfigNodeImpl::text() {
    if (!m_hasText) {
        xmlChar* content = xmlNodeGetContent(m_pElement);
        m_text = widenXml(content);
        xmlFree(content);
        m_hasText = true;
    }
    return text::w(m_text);
}

ConfigNode* ConfigNodeImpl::parent() {
    xmlNode* p = m_pElement->parent;
    return p && p->type == XML_ELEMENT_NODE ? m_pOwner->wrap(p) : nullptr;
}

long ConfigNodeImpl::line() const {
    return xmlGetLineNo(m_pElement);
}

} // namespace configctl
