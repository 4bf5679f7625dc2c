// The binary interface of ConfigurationController.dll, the configuration library the driver
// loads at run time to read its XML files (application database, user settings).
//
// The library hands out two kinds of objects, a manager per file and a node per query result.
// Callers reach their operations by position in a table of function pointers whose first
// argument is the object itself (COM style). The tables are plain structs rather than C++
// virtual functions on purpose: a compiler may give a virtual destructor more than one table
// slot, which would move every later operation, while these positions are fixed for good.
//
// Text is wide (WCHAR, 16 bits) in both directions; the library converts to and from UTF-8.
// Every operation accepts a null object and answers with its failure value.
#pragma once

#include "platform/win.h"

#include <stddef.h>

struct _xmlNode; // libxml2's element record, handed out by ConfigNodeOps::getXmlNode

struct ConfigManager;
struct ConfigNode;

/// Flag of ConfigManagerOps::destroy: free the object's storage as well as its contents.
constexpr unsigned kConfigDestroyFree = 1u;

/// Operations of a manager, in table order. Positions 0, 1 and 6 are the ones the driver uses.
struct ConfigManagerOps {
    /// 0: releases the document and every node still held. With kConfigDestroyFree the manager
    /// itself is freed too; without it the manager stays valid but empty (queries find nothing).
    void (*destroy)(ConfigManager* self, unsigned flags);
    /// 1: the first element selected by an XPath 1.0 expression evaluated from the document
    /// node, or null (bad expression, no element). Release the node with releaseNode.
    ConfigNode* (*getNode)(ConfigManager* self, const WCHAR* xpath);
    /// 2: how many elements the expression selects; -1 for an expression that does not compile.
    int (*getNodeCount)(ConfigManager* self, const WCHAR* xpath);
    /// 3: the index-th (from 0) element the expression selects, or null.
    ConfigNode* (*getNodeAt)(ConfigManager* self, const WCHAR* xpath, int index);
    /// 4: the path the manager was opened with.
    const WCHAR* (*getFilePath)(ConfigManager* self);
    /// 5: the name of the document's root element.
    const WCHAR* (*getRootName)(ConfigManager* self);
    /// 6: gives back a node obtained from this manager. Unknown pointers are ignored.
    void (*releaseNode)(ConfigManager* self, ConfigNode* node);
};

/// Operations of a node, in table order. Positions 4 and 8 are the ones the driver uses.
/// Strings returned belong to the node and stay valid until it is released.
struct ConfigNodeOps {
    /// 0: the element's name.
    const WCHAR* (*getName)(ConfigNode* self);
    /// 1: the value of an attribute, or null when the element has none of that name. The
    /// string stays valid until the next getAttribute on the same node.
    const WCHAR* (*getAttribute)(ConfigNode* self, const WCHAR* name);
    /// 2: the number of child elements.
    int (*getChildCount)(ConfigNode* self);
    /// 3: the index-th child element, or null; released through the manager like any node.
    ConfigNode* (*getChild)(ConfigNode* self, int index);
    /// 4: the element's text: every text inside it, in document order, unchanged (white
    /// space included). Empty, never null, for an element without text.
    const WCHAR* (*getText)(ConfigNode* self);
    /// 5: the parent element, or null for the root; released through the manager.
    ConfigNode* (*getParent)(ConfigNode* self);
    /// 6: the line of the file the element starts on.
    long (*getLine)(ConfigNode* self);
    /// 7: the manager the node came from.
    ConfigManager* (*getManager)(ConfigNode* self);
    /// 8: the element as libxml2 keeps it. Valid while the manager holds its document.
    struct _xmlNode* (*getXmlNode)(ConfigNode* self);
};

/// A manager: one parsed file. Only the table pointer is visible to callers.
struct ConfigManager {
    const ConfigManagerOps* pOps;
};

/// A node: one element selected by a query.
struct ConfigNode {
    const ConfigNodeOps* pOps;
};

// The positions are the contract: check them where the layout is declared.
static_assert(offsetof(ConfigManagerOps, destroy) == 0 * sizeof(void*), "manager slot 0");
static_assert(offsetof(ConfigManagerOps, getNode) == 1 * sizeof(void*), "manager slot 1");
static_assert(offsetof(ConfigManagerOps, releaseNode) == 6 * sizeof(void*), "manager slot 6");
static_assert(sizeof(ConfigManagerOps) == 7 * sizeof(void*), "manager table size");
static_assert(offsetof(ConfigNodeOps, getText) == 4 * sizeof(void*), "node slot 4");
static_assert(offsetof(ConfigNodeOps, getXmlNode) == 8 * sizeof(void*), "node slot 8");
static_assert(sizeof(ConfigNodeOps) == 9 * sizeof(void*), "node table size");
static_assert(offsetof(ConfigManager, pOps) == 0 && offsetof(ConfigNode, pOps) == 0,
              "the table pointer comes first");

/// Export "CreateConfigManager": opens and parses a file. `reserved` must be 0. Returns null
/// when the file is missing, unreadable, too large or not well-formed XML.
typedef ConfigManager* (*PFN_CreateConfigManager)(int reserved, const WCHAR* path);
/// Export "CleanupConfigManager": destroys and frees a manager (as destroy with
/// kConfigDestroyFree); null is ignored.
typedef void (*PFN_CleanupConfigManager)(ConfigManager* manager);

/// Largest file the library reads, in bytes. Configuration files are a few kilobytes; a
/// larger one is refused rather than parsed into memory.
constexpr size_t kConfigMaxFileBytes = 16u * 1024u * 1024u;
