#pragma once

// The flash library's own small XML reader. It accepts what flash containers use and keeps the
// container format's rules on text and names (see the loader); all strings in the tree are UTF-8.

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace kq::flashlib {

struct _mDOM_xmlDoc;

/// Node kinds.
enum : int {
    kMDomElement = 1,
    kMDomAttribute = 2,
    kMDomText = 3,
    kMDomCData = 4,
    kMDomProcessingInstruction = 7,
    kMDomComment = 8,
    kMDomDeclaration = 14,
    kMDomElementDecl = 15,
    kMDomAttlistDecl = 16,
    kMDomEntity = 17,
    kMDomEntities = 18,
};

/// Every node and document carries this marker; lookups refuse anything without it.
inline constexpr unsigned char kMDomMarker = 211;

struct _mDOM_xmlNode {
    unsigned char marker = kMDomMarker;
    int type = 0;
    std::string name;
    std::string value;
    bool has_value = false;  ///< an attribute written without '=' has none
    _mDOM_xmlNode* parent = nullptr;
    _mDOM_xmlNode* prev = nullptr;
    _mDOM_xmlNode* next = nullptr;
    _mDOM_xmlNode* first_child = nullptr;
    _mDOM_xmlNode* last_child = nullptr;
    _mDOM_xmlNode* first_attribute = nullptr;
    _mDOM_xmlNode* last_attribute = nullptr;
    _mDOM_xmlDoc* doc = nullptr;
};

enum class MDomEncoding { Utf8, Latin1, Latin2 };

struct _mDOM_xmlDoc {
    unsigned char marker = kMDomMarker;
    _mDOM_xmlNode* first = nullptr;  ///< top-level nodes
    _mDOM_xmlNode* last = nullptr;
    MDomEncoding encoding = MDomEncoding::Latin2;
    std::string version;             ///< version text of the xml declaration
    std::time_t created = 0;
    std::vector<std::unique_ptr<_mDOM_xmlNode>> nodes;  ///< owns every node of the document
};

class CminiDOM {
public:
    /// Loads a document from a file (UTF-8 path). Null when the file is empty, unreadable or larger than
    /// any container, or the document is malformed ('<<', an unterminated tag, comment or quoted value,
    /// an unknown encoding, an element left open at the end); `error` (may be null) then says why, with
    /// the line and column where the reader stopped.
    _mDOM_xmlDoc* LoadFile(const std::string& path, std::string* error = nullptr) const;
    /// The same from bytes in memory.
    _mDOM_xmlDoc* LoadMemory(const char* data, std::size_t size, std::string* error = nullptr) const;
    /// Frees a document and all its nodes (null allowed).
    void FreeDoc(_mDOM_xmlDoc* doc) const;

    /// Element by a path "A/B/C": A among the children of the first top-level node, then among the
    /// top-level nodes; each further name among the previous element's direct children; the first
    /// element of exactly that name at each step. Null when a step is missing.
    const _mDOM_xmlNode* FindPath(const _mDOM_xmlDoc* doc, const std::string& path) const;
    /// First element of that name anywhere below `node` (depth first).
    const _mDOM_xmlNode* FindElement(const _mDOM_xmlNode* node, const std::string& name) const;
    /// First element of that name anywhere in the document (depth first).
    const _mDOM_xmlNode* FindElement(const _mDOM_xmlDoc* doc, const std::string& name) const;
    const _mDOM_xmlNode* FirstElementChild(const _mDOM_xmlNode* node) const;
    const _mDOM_xmlNode* NextElementSibling(const _mDOM_xmlNode* node) const;
    /// Node name; empty for a null or foreign node.
    std::string NodeName(const _mDOM_xmlNode* node) const;

    /// Value of the attribute `name` (letters a-z compared without case) as wide text. Returns twice
    /// the number of characters including a terminator, or 0 when the attribute is absent or has no value.
    int GetAttribute(const _mDOM_xmlNode* element, const std::string& name, std::wstring& out) const;
    /// The element's text the same way; 0 when it has none.
    int GetText(const _mDOM_xmlNode* element, std::wstring& out) const;
};

}  // namespace kq::flashlib
