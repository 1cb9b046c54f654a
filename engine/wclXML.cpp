#include "engine/wclXML.h"

#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <istream>
#include <limits>

namespace kavri {
namespace {

constexpr std::string_view kText = "TX:";
constexpr std::string_view kOpening = "OT:";
constexpr std::string_view kClosing = "CT:";
constexpr std::string_view kEmpty = "ET:";
constexpr std::string_view kCData = "CD:";
constexpr std::size_t kPrefixLength = 3;

constexpr std::string_view kCDataStart = "<![CDATA[";
constexpr std::string_view kCDataEnd = "]]>";

// Blanks are the space and every control character, NUL included, so stray
// control bytes between tags never become a token of their own.
bool IsXmlBlank(char c) noexcept {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view TrimXmlBlanks(std::string_view text) noexcept {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsXmlBlank(text[first]))
        ++first;
    while (last > first && IsXmlBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view upper) noexcept {
    if (a.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != upper[i])
            return false;
    }
    return true;
}

// The document's lines joined again with CR LF after every line: CR LF, a lone
// CR and a lone LF each end a line, and a last line without a break gets one.
std::string JoinLines(std::string_view document) {
    std::string text;
    text.reserve(document.size() + 2);
    for (std::size_t i = 0; i < document.size(); ++i) {
        const char c = document[i];
        if (c == '\r' || c == '\n') {
            text += "\r\n";
            if (c == '\r' && i + 1 < document.size() && document[i + 1] == '\n')
                ++i;
        } else {
            text += c;
        }
    }
    if (!document.empty() && document.back() != '\r' && document.back() != '\n')
        text += "\r\n";
    return text;
}

// The "size" attribute of a file: an optional sign and decimal digits within
// 64 bits; the entry keeps the low 32 bits (two's complement for a negative
// number). Anything else makes the listing unreadable.
std::uint32_t ParseSize(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw wclEUnreadableXML("Folder listing: size is not a number.");
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            throw wclEUnreadableXML("Folder listing: size is not a number.");
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (kMax - digit) / 10)
            throw wclEUnreadableXML("Folder listing: size is not a number.");
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        magnitude = 0 - magnitude;
    return static_cast<std::uint32_t>(magnitude);
}

// Decoded from UTF-8 and kept as UTF-8: a malformed sequence becomes U+FFFD, so
// entry names are always well-formed text.
std::string DecodeUtf8(const std::string& text) {
    if (IsValidUtf8(text))
        return text;
    return Utf16ToUtf8(Utf8ToUtf16(text));
}

}  // namespace

TwclXMLNode::TwclXMLNode(std::string name, std::string value)
    : m_name(std::move(name)), m_value(std::move(value)) {}

TwclXMLNode::~TwclXMLNode() {
    ClearChildren();
}

const TwclXMLNode& TwclXMLNode::Children(std::size_t index) const {
    if (index >= m_children.size())
        throw wclEIndexOutOfRange();
    return *m_children[index];
}

TwclXMLNode& TwclXMLNode::Children(std::size_t index) {
    if (index >= m_children.size())
        throw wclEIndexOutOfRange();
    return *m_children[index];
}

TwclXMLNode& TwclXMLNode::AddChild(std::string name, std::string value) {
    auto child = std::make_unique<TwclXMLNode>(std::move(name), std::move(value));
    child->m_parent = this;
    child->m_indexInParent = m_children.size();
    m_children.push_back(std::move(child));
    return *m_children.back();
}

void TwclXMLNode::ClearChildren() noexcept {
    // Destroying children through their owning pointers would recurse once per
    // level, and a hostile listing nests a million deep. Instead walk down to
    // a leaf, drop it, and go on from its parent: every node is entered once
    // and destroyed childless, with no allocation and no recursion.
    TwclXMLNode* node = this;
    while (true) {
        if (!node->m_children.empty()) {
            node = node->m_children.back().get();
            continue;
        }
        if (node == this)
            break;
        TwclXMLNode* parent = node->m_parent;
        parent->m_children.pop_back();
        node = parent;
    }
}

const TwclXMLAttribute& TwclXMLNode::Attributes(std::size_t index) const {
    if (index >= m_attributes.size())
        throw wclEIndexOutOfRange();
    return m_attributes[index];
}

TwclXMLAttribute& TwclXMLNode::AddAttribute(std::string name, std::string value) {
    m_attributes.emplace_back(std::move(name), std::move(value));
    return m_attributes.back();
}

const TwclXMLNode* TwclXMLNode::FindNode(std::string_view name) const noexcept {
    // Pre-order without recursion: test a node, go down to its first child,
    // else on to the next sibling of it or of the nearest ancestor below this.
    const TwclXMLNode* node = FirstChild();
    while (node != nullptr) {
        if (node->m_name == name)
            return node;
        if (const TwclXMLNode* child = node->FirstChild()) {
            node = child;
            continue;
        }
        while (node != this) {
            if (const TwclXMLNode* next = node->NextSibling()) {
                node = next;
                break;
            }
            node = node->m_parent;
        }
        if (node == this)
            return nullptr;
    }
    return nullptr;
}

TwclXMLNode* TwclXMLNode::FindNode(std::string_view name) noexcept {
    return const_cast<TwclXMLNode*>(std::as_const(*this).FindNode(name));
}

const TwclXMLAttribute* TwclXMLNode::FindAttribute(std::string_view name) const noexcept {
    for (const TwclXMLAttribute& attribute : m_attributes) {
        if (attribute.Name() == name)
            return &attribute;
    }
    return nullptr;
}

TwclXMLAttribute* TwclXMLNode::FindAttribute(std::string_view name) noexcept {
    return const_cast<TwclXMLAttribute*>(std::as_const(*this).FindAttribute(name));
}

const TwclXMLNode* TwclXMLNode::FirstChild() const noexcept {
    return m_children.empty() ? nullptr : m_children.front().get();
}

TwclXMLNode* TwclXMLNode::FirstChild() noexcept {
    return m_children.empty() ? nullptr : m_children.front().get();
}

const TwclXMLNode* TwclXMLNode::NextSibling() const noexcept {
    if (m_parent == nullptr)
        return nullptr;
    const std::size_t next = m_indexInParent + 1;
    return next < m_parent->m_children.size() ? m_parent->m_children[next].get() : nullptr;
}

TwclXMLNode* TwclXMLNode::NextSibling() noexcept {
    return const_cast<TwclXMLNode*>(std::as_const(*this).NextSibling());
}

TwclXMLTree::TwclXMLTree(std::string name, std::string value)
    : TwclXMLNode(std::move(name), std::move(value)) {}

void TwclXMLTree::LoadFromStream(std::istream& stream) {
    // Read one byte more than allowed, so an oversized stream is recognised
    // without holding more of it.
    std::string document;
    std::array<char, 64 * 1024> chunk{};
    while (document.size() <= kWclXMLMaxDocumentSize) {
        stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(stream.gcount());
        document.append(chunk.data(), std::min(got, kWclXMLMaxDocumentSize + 1 - document.size()));
        if (!stream)
            break;
    }
    if (stream.bad()) {
        Reset();
        throw wclEUnreadableXML("XML document: the stream cannot be read.");
    }
    LoadFromBuffer(document);
}

void TwclXMLTree::LoadFromBuffer(std::span<const std::uint8_t> document) {
    LoadFromBuffer(
        std::string_view(reinterpret_cast<const char*>(document.data()), document.size()));
}

void TwclXMLTree::LoadFromBuffer(std::string_view document) {
    Reset();
    try {
        if (document.size() > kWclXMLMaxDocumentSize)
            throw wclEUnreadableXML("XML document: larger than 16 MiB.");
        Tokenise(JoinLines(document));
        if (m_tokenEnds.empty())
            throw wclEUnreadableXML("XML document: no content.");
        Build();
    } catch (...) {
        // A half-built tree is of no use to anyone; leave the tree empty.
        Reset();
        throw;
    }
}

std::string_view TwclXMLTree::Tokens(std::size_t index) const {
    if (index >= m_tokenEnds.size())
        throw wclEIndexOutOfRange();
    const std::size_t begin = index == 0 ? 0 : m_tokenEnds[index - 1];
    return std::string_view(m_tokenText).substr(begin, m_tokenEnds[index] - begin);
}

void TwclXMLTree::Reset() noexcept {
    ClearChildren();
    ClearAttributes();
    SetName("root");
    // The root's text belongs to the document, so a new load starts without
    // the previous one's.
    SetValue({});
    SetIsCData(false);
    std::string().swap(m_tokenText);
    std::vector<std::size_t>().swap(m_tokenEnds);
    m_openTagCount = 0;
}

void TwclXMLTree::AddToken(std::string_view prefix, std::string_view text) {
    if (m_tokenEnds.size() >= kWclXMLMaxTokens)
        throw wclEUnreadableXML("XML document: too many tokens.");
    m_tokenText += prefix;
    if (prefix == kCData) {
        // CDATA keeps its blanks; line breaks and tabs are written as visible
        // escapes so that every token stays on one line.
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                m_tokenText += "\\n ";
                ++i;
            } else if (text[i] == '\t') {
                m_tokenText += "\\t ";
            } else {
                m_tokenText += text[i];
            }
        }
    } else {
        // Trimming first gives the same result as after the replacements (CR,
        // LF and tab are blanks themselves) and skips the work for blank runs.
        const std::string_view trimmed = TrimXmlBlanks(text);
        for (std::size_t i = 0; i < trimmed.size(); ++i) {
            if (trimmed[i] == '\r' && i + 1 < trimmed.size() && trimmed[i + 1] == '\n') {
                m_tokenText += ' ';
                ++i;
            } else if (trimmed[i] == '\t') {
                m_tokenText += ' ';
            } else {
                m_tokenText += trimmed[i];
            }
        }
    }
    m_tokenEnds.push_back(m_tokenText.size());
}

void TwclXMLTree::Tokenise(std::string_view text) {
    const auto addText = [this](std::string_view part) {
        if (!TrimXmlBlanks(part).empty())
            AddToken(kText, part);
    };
    constexpr std::size_t npos = std::string_view::npos;
    // Once a search for ">" has failed, no later "<" can find one either;
    // remembering that keeps a run of "<" without ">" linear.
    bool noMoreGreater = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t less = text.find('<', pos);
        if (less == npos) {
            addText(text.substr(pos));
            break;
        }
        addText(text.substr(pos, less - pos));

        const std::string_view head = text.substr(less, kCDataStart.size());
        if (EqualsIgnoreCase(head, kCDataStart)) {
            const std::size_t end = text.find(kCDataEnd, less + 1);
            if (end == npos) {
                // Rescanning from an earlier position could loop; a section
                // that never ends makes the document unreadable instead.
                throw wclEUnreadableXML("XML document: CDATA section without end.");
            }
            const std::size_t start = less + kCDataStart.size();
            AddToken(kCData, text.substr(start, end - start));
            pos = end + kCDataEnd.size();
            continue;
        }

        const std::size_t greater = noMoreGreater ? npos : text.find('>', less + 1);
        if (greater == npos) {
            // A "<" that no ">" follows is skipped; what comes after it is
            // read as text.
            noMoreGreater = true;
            pos = less + 1;
            continue;
        }
        const std::string_view content = text.substr(less + 1, greater - less - 1);
        if (!content.empty() && content.front() == '/')
            AddToken(kClosing, content.substr(1));
        else if (!content.empty() && content.back() == '/')
            AddToken(kEmpty, content);
        else
            AddToken(kOpening, content);
        pos = greater + 1;
    }
}

void TwclXMLTree::Build() {
    std::size_t nodeCount = 0;
    std::size_t attributeCount = 0;
    // A node from the content of an opening or empty tag: the name up to the
    // first space, then attributes written as name="value".
    const auto addNode = [&](TwclXMLNode& parent, std::string_view content) -> TwclXMLNode& {
        if (++nodeCount > kWclXMLMaxNodes)
            throw wclEUnreadableXML("XML document: too many elements.");
        constexpr std::size_t npos = std::string_view::npos;
        const std::size_t space = content.find(' ');
        TwclXMLNode& node = parent.AddChild(std::string(content.substr(0, space)));
        if (space == npos)
            return node;
        std::size_t pos = space;
        while (true) {
            const std::size_t equals = content.find('=', pos);
            if (equals == npos)
                break;
            const std::size_t open = content.find('"', equals + 1);
            if (open == npos)
                break;
            const std::size_t close = content.find('"', open + 1);
            if (close == npos)
                break;
            if (++attributeCount > kWclXMLMaxAttributes)
                throw wclEUnreadableXML("XML document: too many attributes.");
            node.AddAttribute(std::string(TrimXmlBlanks(content.substr(pos, equals - pos))),
                              std::string(content.substr(open + 1, close - open - 1)));
            pos = close + 1;
        }
        return node;
    };

    TwclXMLNode* current = this;
    for (std::size_t i = 0; i < m_tokenEnds.size(); ++i) {
        if (current == nullptr)
            throw wclEUnreadableXML("XML document: content after the last element closed.");
        const std::string_view token = Tokens(i);
        const std::string_view kind = token.substr(0, kPrefixLength);
        const std::string_view content = token.substr(kPrefixLength);
        if (kind == kOpening) {
            current = &addNode(*current, content);
            ++m_openTagCount;
        } else if (kind == kClosing) {
            // Closing tags are not matched against their names: any one
            // closes the current element.
            current = current->Parent();
        } else if (kind == kEmpty) {
            addNode(*current, content);
        } else {
            // A later text of the same element replaces the earlier one.
            current->SetValue(std::string(content));
            current->SetIsCData(kind == kCData);
        }
    }
}

const TwclFileSystemObject& TwclFileSystemObjects::Items(std::size_t index) const {
    if (index >= m_items.size())
        throw wclEIndexOutOfRange();
    return *m_items[index];
}

TwclFileSystemObject& TwclFileSystemObjects::Items(std::size_t index) {
    if (index >= m_items.size())
        throw wclEIndexOutOfRange();
    return *m_items[index];
}

TwclFileSystemObject& TwclFileSystemObjects::Add(std::unique_ptr<TwclFileSystemObject> item) {
    if (!item)
        throw wclEInvalidArgument();
    m_items.push_back(std::move(item));
    return *m_items.back();
}

TwclFileSystemObjects ReadFolderListing(std::span<const std::uint8_t> store) {
    return ReadFolderListing(
        std::string_view(reinterpret_cast<const char*>(store.data()), store.size()));
}

TwclFileSystemObjects ReadFolderListing(std::string_view store) {
    TwclFileSystemObjects list;
    if (store.empty())
        return list;
    TwclXMLTree tree;
    tree.LoadFromBuffer(store);
    const TwclXMLNode* listing = tree.FindNode("folder-listing");
    if (listing == nullptr)
        return list;
    for (const TwclXMLNode* child = listing->FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        // Entries without a name, such as the parent-folder element, are not
        // files of this folder.
        const TwclXMLAttribute* name = child->FindAttribute("name");
        if (name == nullptr)
            continue;
        auto entry = std::make_unique<TwclFileSystemObject>();
        // Upper-casing decoded text can turn only ASCII letters into the
        // letters of "FOLDER", "R", "W" and "D", so ASCII comparisons of the
        // raw bytes give the same answers.
        if (!EqualsIgnoreCase(child->Name(), "FOLDER"))
            entry->SetIsFolder(false);
        entry->SetName(DecodeUtf8(name->Value()));
        if (const TwclXMLAttribute* perm = child->FindAttribute("user-perm")) {
            TwclFilePermissions permissions;
            for (const char c : perm->Value()) {
                const char upper = UpperAscii(c);
                if (upper == 'R')
                    permissions.Include(TwclFilePermission::fpRead);
                else if (upper == 'W')
                    permissions.Include(TwclFilePermission::fpWrite);
                else if (upper == 'D')
                    permissions.Include(TwclFilePermission::fpDelete);
            }
            entry->SetPermissions(permissions);
        }
        if (!entry->IsFolder()) {
            if (const TwclXMLAttribute* size = child->FindAttribute("size"))
                entry->SetSize(ParseSize(size->Value()));
        }
        list.Add(std::move(entry));
    }
    return list;
}

}  // namespace kavri
