#pragma once

#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavri {

// The small XML reader behind OBEX folder listings ("x-obex/folder-listing"),
// and the conversion of a listing into file-system entries.
//
// The reader splits the text by angle brackets into tokens (text, opening,
// closing and empty tags, CDATA) and builds a tree from them. It does not check
// that closing tags match, decodes no character entities, reads only
// double-quoted attribute values and treats declarations and comments as
// opening tags. Names and values are narrow text (the document's bytes, UTF-8
// in practice) held in std::string; the variant values of the model are
// std::string too.
//
// A listing arrives from the air, so loading is bounded: at most
// kWclXMLMaxDocumentSize bytes, kWclXMLMaxNodes elements, kWclXMLMaxAttributes
// attributes and kWclXMLMaxTokens tokens; no step recurses over the depth of
// the tree (building, searching and destroying are iterative), and every scan
// is linear in the document. What cannot be read raises wclEUnreadableXML,
// which carries the code 0x8000F034 that the OBEX client reports for an
// unreadable listing.
//
// Plain objects without locking: use a tree and its nodes on one thread at a
// time (the OBEX client uses them on the main thread). A node owns its children
// and attributes; a tree is its own root.

inline constexpr std::size_t kWclXMLMaxDocumentSize = 16u * 1024u * 1024u;
inline constexpr std::size_t kWclXMLMaxNodes = 100'000;
inline constexpr std::size_t kWclXMLMaxAttributes = 400'000;
inline constexpr std::size_t kWclXMLMaxTokens = 1'000'000;

// A document (or a folder listing in it) that cannot be read. The message says
// why; the code is always kWclErrInvalidData.
class wclEUnreadableXML final : public wclException {
public:
    explicit wclEUnreadableXML(const std::string& reason)
        : wclException(reason, kWclErrInvalidData) {}
};

class TwclXMLAttribute {
public:
    TwclXMLAttribute(std::string name, std::string value)
        : m_name(std::move(name)), m_value(std::move(value)) {}

    const std::string& Name() const noexcept { return m_name; }
    const std::string& Value() const noexcept { return m_value; }
    void SetValue(std::string value) { m_value = std::move(value); }

private:
    std::string m_name;
    std::string m_value;
};

// One element. Nodes are neither copied nor moved: children point at their
// parent and know their place in its list.
class TwclXMLNode {
public:
    explicit TwclXMLNode(std::string name = {}, std::string value = {});
    virtual ~TwclXMLNode();
    TwclXMLNode(const TwclXMLNode&) = delete;
    TwclXMLNode& operator=(const TwclXMLNode&) = delete;

    const std::string& Name() const noexcept { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    // The element's text or CDATA text.
    const std::string& Value() const noexcept { return m_value; }
    void SetValue(std::string value) { m_value = std::move(value); }
    bool IsCData() const noexcept { return m_isCData; }
    void SetIsCData(bool isCData) noexcept { m_isCData = isCData; }

    // nullptr for a root.
    TwclXMLNode* Parent() const noexcept { return m_parent; }

    std::size_t ChildCount() const noexcept { return m_children.size(); }
    // Throws wclEIndexOutOfRange.
    const TwclXMLNode& Children(std::size_t index) const;
    TwclXMLNode& Children(std::size_t index);
    // Appends a new last child and returns it.
    TwclXMLNode& AddChild(std::string name, std::string value = {});
    // Removes every descendant, without recursion, so any depth is safe.
    void ClearChildren() noexcept;

    std::size_t AttributeCount() const noexcept { return m_attributes.size(); }
    // Throws wclEIndexOutOfRange. References stay valid until the next
    // AddAttribute or ClearAttributes.
    const TwclXMLAttribute& Attributes(std::size_t index) const;
    TwclXMLAttribute& AddAttribute(std::string name, std::string value);
    void ClearAttributes() noexcept { m_attributes.clear(); }

    // The first descendant with exactly this name, depth-first in pre-order
    // (a child, then its subtree, then the next child); never this node
    // itself; nullptr when there is none.
    const TwclXMLNode* FindNode(std::string_view name) const noexcept;
    TwclXMLNode* FindNode(std::string_view name) noexcept;
    // The first attribute with exactly this name, or nullptr.
    const TwclXMLAttribute* FindAttribute(std::string_view name) const noexcept;
    TwclXMLAttribute* FindAttribute(std::string_view name) noexcept;

    // nullptr when there is no child.
    const TwclXMLNode* FirstChild() const noexcept;
    TwclXMLNode* FirstChild() noexcept;
    // The next child of the parent; nullptr for the last child and for a root.
    const TwclXMLNode* NextSibling() const noexcept;
    TwclXMLNode* NextSibling() noexcept;

private:
    std::string m_name;
    std::string m_value;
    std::vector<std::unique_ptr<TwclXMLNode>> m_children;
    std::vector<TwclXMLAttribute> m_attributes;
    TwclXMLNode* m_parent = nullptr;
    std::size_t m_indexInParent = 0;
    bool m_isCData = false;
};

// A document: the root node (named "root" once loaded), the tokens it was
// built from and the number of opening tags read. Loading throws
// wclEUnreadableXML; after a failed load the tree is empty.
class TwclXMLTree : public TwclXMLNode {
public:
    explicit TwclXMLTree(std::string name = "root", std::string value = {});

    // Reads from the stream's position to its end (at most
    // kWclXMLMaxDocumentSize bytes).
    void LoadFromStream(std::istream& stream);
    void LoadFromBuffer(std::string_view document);
    void LoadFromBuffer(std::span<const std::uint8_t> document);

    // Tokens one per line, each with its kind: "TX:" text, "OT:" opening tag,
    // "CT:" closing tag, "ET:" empty tag, "CD:" CDATA. Throws
    // wclEIndexOutOfRange; views stay valid until the next load.
    std::size_t TokenCount() const noexcept { return m_tokenEnds.size(); }
    std::string_view Tokens(std::size_t index) const;
    // Opening tags read by the last load (empty tags are not counted).
    std::size_t OpenTagCount() const noexcept { return m_openTagCount; }

private:
    void Reset() noexcept;
    void Tokenise(std::string_view text);
    void AddToken(std::string_view prefix, std::string_view text);
    void Build();

    // The tokens back to back; m_tokenEnds[i] is where token i ends.
    std::string m_tokenText;
    std::vector<std::size_t> m_tokenEnds;
    std::size_t m_openTagCount = 0;
};

// Access rights of a folder-listing entry: bit 0 read, bit 1 write, bit 2
// delete.
enum class TwclFilePermission : std::uint8_t {
    fpRead = 0,
    fpWrite = 1,
    fpDelete = 2,
};
using TwclFilePermissions = TwclSet<TwclFilePermission>;

// One entry of a folder listing. Name is UTF-8 (the listing's text decoded;
// malformed sequences become U+FFFD). Size keeps the low 32 bits of the
// listed size.
class TwclFileSystemObject {
public:
    const std::string& Name() const noexcept { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    bool IsFolder() const noexcept { return m_isFolder; }
    void SetIsFolder(bool isFolder) noexcept { m_isFolder = isFolder; }
    TwclFilePermissions Permissions() const noexcept { return m_permissions; }
    void SetPermissions(TwclFilePermissions permissions) noexcept { m_permissions = permissions; }
    std::uint32_t Size() const noexcept { return m_size; }
    void SetSize(std::uint32_t size) noexcept { m_size = size; }

private:
    std::string m_name;
    bool m_isFolder = true;
    TwclFilePermissions m_permissions;
    std::uint32_t m_size = 0;
};

// An ordered list that owns its entries. Add(nullptr) throws
// wclEInvalidArgument; Items with a bad index throws wclEIndexOutOfRange.
class TwclFileSystemObjects {
public:
    std::size_t Count() const noexcept { return m_items.size(); }
    const TwclFileSystemObject& Items(std::size_t index) const;
    TwclFileSystemObject& Items(std::size_t index);
    TwclFileSystemObject& Add(std::unique_ptr<TwclFileSystemObject> item);

private:
    std::vector<std::unique_ptr<TwclFileSystemObject>> m_items;
};

// Reads the bytes of a received folder listing into entries: one per child of
// the first "folder-listing" element that has a "name" attribute. An empty
// store or a document without "folder-listing" gives an empty list. Throws
// wclEUnreadableXML for a document that cannot be read or a "size" that is
// not a number (an optional sign and decimal digits).
TwclFileSystemObjects ReadFolderListing(std::string_view store);
TwclFileSystemObjects ReadFolderListing(std::span<const std::uint8_t> store);

}  // namespace kavri
