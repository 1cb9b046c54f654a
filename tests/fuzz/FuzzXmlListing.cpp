// Folder listings as a peer sends them in answer to a listing request: the
// XML reader and the reading of the entries.
#include "FuzzCheck.h"

#include "engine/wclXML.h"
#include "platform/Text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace kavri;

namespace {

bool HasTokenKind(std::string_view token) {
    for (const std::string_view kind : {"TX:", "OT:", "CT:", "ET:", "CD:"}) {
        if (token.substr(0, 3) == kind)
            return true;
    }
    return false;
}

// Walks the whole tree without recursion, as deep as it may be, checking
// that every child knows its parent.
std::size_t CountNodes(const TwclXMLNode& root) {
    std::size_t count = 0;
    const TwclXMLNode* node = root.FirstChild();
    while (node != nullptr) {
        ++count;
        fuzz::Check(count <= kWclXMLMaxNodes, "a tree holds at most kWclXMLMaxNodes elements");
        if (const TwclXMLNode* child = node->FirstChild()) {
            fuzz::Check(child->Parent() == node, "a child points at its parent");
            node = child;
            continue;
        }
        while (node != &root && node->NextSibling() == nullptr)
            node = node->Parent();
        node = node == &root ? nullptr : node->NextSibling();
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), data ? size : 0);

    TwclXMLTree tree;
    try {
        tree.LoadFromBuffer(document);
        fuzz::Check(tree.TokenCount() <= kWclXMLMaxTokens, "at most kWclXMLMaxTokens tokens");
        for (std::size_t i = 0; i < tree.TokenCount(); ++i)
            fuzz::Check(HasTokenKind(tree.Tokens(i)), "every token says its kind");
        CountNodes(tree);
    } catch (const wclEUnreadableXML&) {
        fuzz::Check(tree.ChildCount() == 0 && tree.TokenCount() == 0,
                    "a failed load leaves the tree empty");
    }

    try {
        const TwclFileSystemObjects entries = ReadFolderListing(document);
        for (std::size_t i = 0; i < entries.Count(); ++i)
            fuzz::Check(IsValidUtf8(entries.Items(i).Name()), "entry names are UTF-8");
    } catch (const wclEUnreadableXML&) {
        // An unreadable listing, reported as such.
    }
    return 0;
}
