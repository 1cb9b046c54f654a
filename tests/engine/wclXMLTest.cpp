#include "engine/wclXML.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace kavri {
namespace {

using namespace std::string_literals;

std::vector<std::string> TokensOf(const TwclXMLTree& tree) {
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < tree.TokenCount(); ++i)
        tokens.emplace_back(tree.Tokens(i));
    return tokens;
}

// The code the OBEX client would report: 0 when the document loads.
wclResult LoadResult(TwclXMLTree& tree, const std::string& document) {
    try {
        tree.LoadFromBuffer(document);
        return kWclSuccess;
    } catch (const wclException& e) {
        return e.ErrorCode();
    }
}

std::string Repeat(std::string_view part, std::size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

// ---------------------------------------------------------------------------
// Tokens

struct TokenCase {
    const char* title;
    std::string document;
    std::vector<std::string> tokens;
};

const TokenCase kTokenCases[] = {
    {"element with text", "<a>text</a>", {"OT:a", "TX:text", "CT:a"}},
    {"empty tag keeps its slash", "<a/>", {"ET:a/"}},
    {"empty tag with attributes", "<file name=\"x\" />", {"ET:file name=\"x\" /"}},
    {"closing tag trimmed after the slash is taken", "</ a >", {"CT:a"}},
    {"slash after a blank is no closing tag", "< /a>", {"OT:/a"}},
    {"slash before a blank is no empty tag", "<a/ >", {"OT:a/"}},
    {"empty brackets", "<>", {"OT:"}},
    {"slash alone closes", "</>", {"CT:"}},
    {"text around tags trimmed", "  hi <a/>\r\n bye \t", {"TX:hi", "ET:a/", "TX:bye"}},
    {"CR LF and tab inside a tag become spaces", "<a\r\n\tb=\"1\">", {"OT:a  b=\"1\""}},
    {"lone LF and lone CR are line breaks", "<a>x\ny\rz</a>", {"OT:a", "TX:x y z", "CT:a"}},
    {"CDATA keeps blanks, escapes breaks and tabs",
     "<a><![CDATA[ x\r\n\ty ]]></a>",
     {"OT:a", "CD: x\\n \\t y ", "CT:a"}},
    {"CDATA marker in any case", "<![cdata[<b>]]>", {"CD:<b>"}},
    {"CDATA break from a lone LF", "<![CDATA[a\nb]]>", {"CD:a\\n b"}},
    {"empty CDATA", "<![CDATA[]]>", {"CD:"}},
    {"declaration, DOCTYPE and comment are opening tags",
     "<?xml version=\"1.0\"?><!DOCTYPE folder-listing SYSTEM \"x.dtd\"><!-- note -->",
     {"OT:?xml version=\"1.0\"?", "OT:!DOCTYPE folder-listing SYSTEM \"x.dtd\"", "OT:!-- note --"}},
    {"tag without > is skipped, rest is text", "<a b", {"TX:a b"}},
    {"runs of < without >", "x<y<z", {"TX:x", "TX:y", "TX:z"}},
    {"< inside a tag", "x<y<z>w", {"TX:x", "OT:y<z", "TX:w"}},
    {"stray >", "a>b", {"TX:a>b"}},
    {"NUL bytes are blanks at the ends, kept inside",
     "\0<a>\0x\0y\0</a>\0"s,
     {"OT:a", "TX:x\0y"s, "CT:a"}},
    {"entities are not decoded", "<a>&lt;&amp;</a>", {"OT:a", "TX:&lt;&amp;", "CT:a"}},
};

TEST(wclXMLTreeTest, TokenisesByAngleBrackets) {
    // Each document is split into the listed tokens, byte for byte.
    for (const TokenCase& c : kTokenCases) {
        SCOPED_TRACE(c.title);
        TwclXMLTree tree;
        ASSERT_EQ(LoadResult(tree, c.document), kWclSuccess);
        EXPECT_EQ(TokensOf(tree), c.tokens);
    }
}

// ---------------------------------------------------------------------------
// Node from tag content

struct AttributeCase {
    const char* title;
    std::string document;
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

const AttributeCase kAttributeCases[] = {
    {"no attributes", "<file>", "file", {}},
    {"empty tag without attributes keeps the slash", "<file/>", "file/", {}},
    {"attributes of an empty tag",
     "<file name=\"a.jpg\" size=\"1\"/>",
     "file",
     {{"name", "a.jpg"}, {"size", "1"}}},
    {"blanks around = and inside the value", "<f b = \"2 3\">", "f", {{"b", "2 3"}}},
    {"single quotes do not delimit: the next double-quoted value is taken",
     "<f a=\"1\" c='4' d=\"5\">",
     "f",
     {{"a", "1"}, {"c", "5"}}},
    {"only single quotes: nothing is read", "<f a='1'>", "f", {}},
    {"value without closing quote", "<f a=\"open>", "f", {}},
    {"missing =", "<f a>", "f", {}},
    {"empty attribute name", "<f =\"x\">", "f", {{"", "x"}}},
    {"empty value", "<f a=\"\">", "f", {{"a", ""}}},
    {"no blank between attributes", "<f a=\"1\"b=\"2\">", "f", {{"a", "1"}, {"b", "2"}}},
    {"entities kept", "<f a=\"&amp;&quot;\">", "f", {{"a", "&amp;&quot;"}}},
    {"first space splits the name", "<f  a=\"1\">", "f", {{"a", "1"}}},
    {"duplicate names both kept", "<f a=\"1\" a=\"2\">", "f", {{"a", "1"}, {"a", "2"}}},
};

TEST(wclXMLTreeTest, ReadsNameAndDoubleQuotedAttributes) {
    // The single element of each document has the listed name and attributes in order.
    for (const AttributeCase& c : kAttributeCases) {
        SCOPED_TRACE(c.title);
        TwclXMLTree tree;
        ASSERT_EQ(LoadResult(tree, c.document), kWclSuccess);
        ASSERT_EQ(tree.ChildCount(), 1u);
        const TwclXMLNode& node = tree.Children(0);
        EXPECT_EQ(node.Name(), c.name);
        EXPECT_EQ(node.Value(), "");
        ASSERT_EQ(node.AttributeCount(), c.attributes.size());
        for (std::size_t i = 0; i < c.attributes.size(); ++i) {
            EXPECT_EQ(node.Attributes(i).Name(), c.attributes[i].first);
            EXPECT_EQ(node.Attributes(i).Value(), c.attributes[i].second);
        }
    }
}

TEST(wclXMLNodeTest, FindAttributeIsExactAndFirstWins) {
    // Duplicated and differently cased attribute names.
    // The first exact match is returned; another case is a different name.
    TwclXMLTree tree;
    tree.LoadFromBuffer("<f a=\"1\" A=\"2\" a=\"3\"/>");
    const TwclXMLNode& node = tree.Children(0);
    ASSERT_NE(node.FindAttribute("a"), nullptr);
    EXPECT_EQ(node.FindAttribute("a")->Value(), "1");
    ASSERT_NE(node.FindAttribute("A"), nullptr);
    EXPECT_EQ(node.FindAttribute("A")->Value(), "2");
    EXPECT_EQ(node.FindAttribute("b"), nullptr);
    EXPECT_EQ(node.FindAttribute(""), nullptr);
}

// ---------------------------------------------------------------------------
// Building

TEST(wclXMLTreeTest, BuildsWithoutMatchingClosingTags) {
    // Unmatched and misnamed closing tags, unclosed elements, text replaced later.
    // Any closing tag closes the current element; later text wins; root is named "root".
    TwclXMLTree tree("other");
    tree.LoadFromBuffer("top<a>one<b/>two</x><c><d>deep</c>");
    EXPECT_EQ(tree.Name(), "root");
    EXPECT_EQ(tree.Value(), "top");
    EXPECT_EQ(tree.OpenTagCount(), 3u);
    ASSERT_EQ(tree.ChildCount(), 2u);
    const TwclXMLNode& a = tree.Children(0);
    EXPECT_EQ(a.Name(), "a");
    EXPECT_EQ(a.Value(), "two");
    ASSERT_EQ(a.ChildCount(), 1u);
    EXPECT_EQ(a.Children(0).Name(), "b/");
    const TwclXMLNode& c = tree.Children(1);
    ASSERT_EQ(c.ChildCount(), 1u);
    EXPECT_EQ(c.Children(0).Name(), "d");
    EXPECT_EQ(c.Children(0).Value(), "deep");
    EXPECT_EQ(c.Children(0).Parent(), &c);
    EXPECT_EQ(c.Parent(), &tree);
    EXPECT_EQ(tree.Parent(), nullptr);
}

TEST(wclXMLTreeTest, CDataAndTextReplaceEachOther) {
    // Text after CDATA, CDATA after text.
    // The last one wins and IsCData says which it was.
    TwclXMLTree tree;
    tree.LoadFromBuffer("<a><![CDATA[x]]>y</a><b>y<![CDATA[ x ]]></b>");
    EXPECT_EQ(tree.Children(0).Value(), "y");
    EXPECT_FALSE(tree.Children(0).IsCData());
    EXPECT_EQ(tree.Children(1).Value(), " x ");
    EXPECT_TRUE(tree.Children(1).IsCData());
}

struct ResultCase {
    const char* title;
    std::string document;
    wclResult result;
};

const ResultCase kResultCases[] = {
    {"text only", "hello", kWclSuccess},
    {"closing tag beyond the root as last token", "<a></a></b>", kWclSuccess},
    {"closing tag alone", "</x>", kWclSuccess},
    {"token after closing beyond the root", "<a></a></b><c/>", kWclErrInvalidData},
    {"text after closing beyond the root", "</b>x", kWclErrInvalidData},
    {"two closings beyond the root", "</a></b>", kWclErrInvalidData},
    {"empty document", "", kWclErrInvalidData},
    {"blanks only", " \r\n\t ", kWclErrInvalidData},
    {"NUL bytes only", std::string(1000, '\0'), kWclErrInvalidData},
    {"< only", "<<<", kWclErrInvalidData},
    {"CDATA without end", "<a><![CDATA[never ends</a>", kWclErrInvalidData},
    {"CDATA end marker before the section", "]]><![CDATA[x", kWclErrInvalidData},
    {"CDATA marker cut short", "<![CDATA", kWclSuccess},
};

TEST(wclXMLTreeTest, ReadableAndUnreadableDocuments) {
    // Each document loads, or raises wclEUnreadableXML with code 0x8000F034.
    for (const ResultCase& c : kResultCases) {
        SCOPED_TRACE(c.title);
        TwclXMLTree tree;
        EXPECT_EQ(LoadResult(tree, c.document), c.result);
    }
}

TEST(wclXMLTreeTest, ReloadReplacesAndFailureEmpties) {
    // A second load, then a failed third load.
    // The second shows only its own document; the failed one leaves an empty tree.
    TwclXMLTree tree;
    tree.LoadFromBuffer("root text<a x=\"1\"><b/></a>");
    tree.LoadFromBuffer("<c/>");
    ASSERT_EQ(tree.ChildCount(), 1u);
    EXPECT_EQ(tree.Children(0).Name(), "c/");
    EXPECT_EQ(tree.Value(), "");
    EXPECT_EQ(TokensOf(tree), std::vector<std::string>{"ET:c/"});
    EXPECT_EQ(tree.OpenTagCount(), 0u);

    EXPECT_EQ(LoadResult(tree, "<a><b><![CDATA[x"), kWclErrInvalidData);
    EXPECT_EQ(tree.ChildCount(), 0u);
    EXPECT_EQ(tree.TokenCount(), 0u);
    EXPECT_EQ(tree.Name(), "root");
}

TEST(wclXMLTreeTest, LoadsFromStreamPosition) {
    // A stream positioned after a prefix, and one longer than the limit.
    // The first is read from its position; the second is unreadable.
    std::istringstream stream("skipped<a>t</a>");
    stream.seekg(7);
    TwclXMLTree tree;
    tree.LoadFromStream(stream);
    EXPECT_EQ(TokensOf(tree), (std::vector<std::string>{"OT:a", "TX:t", "CT:a"}));

    std::istringstream big("<a/>" + std::string(kWclXMLMaxDocumentSize, ' '));
    try {
        tree.LoadFromStream(big);
        ADD_FAILURE() << "an oversized stream loaded";
    } catch (const wclEUnreadableXML& e) {
        EXPECT_EQ(e.ErrorCode(), kWclErrInvalidData);
    }
}

// ---------------------------------------------------------------------------
// Navigation

TEST(wclXMLNodeTest, FindNodeIsPreOrderAndStaysInsideTheSubtree) {
    // root{a{b{x1}, x2}, x3, y{c}}; searches from the root, from a, from b and from a leaf.
    // The first x in pre-order is x1; a search never returns its start or leaves its subtree.
    TwclXMLTree tree;
    tree.LoadFromBuffer("<a><b><x>1</x></b><x>2</x></a><x>3</x><y><c/></y>");
    const TwclXMLNode& a = tree.Children(0);
    const TwclXMLNode& b = a.Children(0);

    ASSERT_NE(tree.FindNode("x"), nullptr);
    EXPECT_EQ(tree.FindNode("x")->Value(), "1");
    EXPECT_EQ(a.FindNode("x")->Value(), "1");
    EXPECT_EQ(b.FindNode("x")->Value(), "1");
    EXPECT_EQ(tree.FindNode("c/"), &tree.Children(2).Children(0));
    EXPECT_EQ(tree.FindNode("y"), &tree.Children(2));

    EXPECT_EQ(a.FindNode("a"), nullptr);
    EXPECT_EQ(a.FindNode("y"), nullptr);
    EXPECT_EQ(b.FindNode("b"), nullptr);
    EXPECT_EQ(tree.FindNode("root"), nullptr);
    EXPECT_EQ(tree.FindNode("X"), nullptr);
    EXPECT_EQ(b.Children(0).FindNode("x"), nullptr);
}

TEST(wclXMLNodeTest, FirstChildAndNextSiblingAtTheEnds) {
    // Walking the children of the root and of a leaf.
    // Siblings follow list order; the last child, the root and a leaf give none.
    TwclXMLTree tree;
    EXPECT_EQ(tree.FirstChild(), nullptr);
    tree.LoadFromBuffer("<a/><b/><c/>");
    std::vector<std::string> names;
    for (const TwclXMLNode* node = tree.FirstChild(); node != nullptr; node = node->NextSibling())
        names.push_back(node->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"a/", "b/", "c/"}));
    EXPECT_EQ(tree.NextSibling(), nullptr);
    EXPECT_EQ(tree.Children(0).FirstChild(), nullptr);
    EXPECT_EQ(tree.Children(2).NextSibling(), nullptr);

    // Nodes added by the program are navigated the same way.
    TwclXMLNode& added = tree.Children(1).AddChild("n", "v");
    EXPECT_EQ(tree.Children(1).FirstChild(), &added);
    EXPECT_EQ(added.NextSibling(), nullptr);
    EXPECT_EQ(added.Parent(), &tree.Children(1));
}

// ---------------------------------------------------------------------------
// Folder listings

const char kTypicalListing[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\">\r\n"
    "<folder-listing version=\"1.0\">\r\n"
    "  <parent-folder/>\r\n"
    "  <folder name=\"Pictures\" created=\"20240101T120000Z\" user-perm=\"RW\" size=\"4096\"/>\n"
    "  <folder name=\"Sounds\" user-perm=\"R\" size=\"abc\"/>\n"
    "  <file name=\"a.jpg\" size=\"1234\" user-perm=\"rw\" modified=\"20240102T080000Z\"/>\n"
    "  <file name=\"Zo\xC3\xAB &amp; co.txt\" size=\"0\" user-perm=\"RWD\"/>\n"
    "  <file name=\"big.mp4\" size=\"5000000000\" user-perm=\"xDz\"/>\n"
    "  <FOLDER name=\"Upper\"/>\n"
    "  <file name=\"\" size=\"7\"/>\n"
    "  <file name='quoted.jpg'/>\n"
    "  <file size=\"3\" name='single.jpg'/>\n"
    "  <folder name=\"Nested\"><file name=\"inner.txt\" size=\"1\"/></folder>\n"
    "  <file name=\"bad\xFF.txt\"/>\n"
    "  <x-link name=\"link\" size=\"-1\" user-perm=\"\"/>\n"
    "</folder-listing>\r\n";

struct Entry {
    std::string name;
    bool isFolder;
    std::uint8_t permissions;
    std::uint32_t size;
};

bool operator==(const Entry& a, const Entry& b) {
    return a.name == b.name && a.isFolder == b.isFolder && a.permissions == b.permissions &&
           a.size == b.size;
}

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << '"' << e.name << "\" folder=" << e.isFolder
               << " perm=" << static_cast<int>(e.permissions) << " size=" << e.size;
}

std::vector<Entry> EntriesOf(const TwclFileSystemObjects& list) {
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TwclFileSystemObject& o = list.Items(i);
        entries.push_back({o.Name(), o.IsFolder(), o.Permissions().Bits(), o.Size()});
    }
    return entries;
}

constexpr std::uint8_t R = 1, W = 2, D = 4;

TEST(wclFolderListingTest, TypicalListingConverted) {
    // A listing with declarations, the parent-folder element, folders, files and oddities.
    // Each named direct child gives one entry, byte for byte, in document order.
    const std::vector<Entry> expected = {
        {"Pictures", true, R | W, 0},
        {"Sounds", true, R, 0},
        {"a.jpg", false, R | W, 1234},
        {"Zo\xC3\xAB &amp; co.txt", false, R | W | D, 0},
        {"big.mp4", false, D, 705032704},  // 5000000000 kept to 32 bits
        {"Upper", true, 0, 0},
        {"", false, 0, 7},
        {"Nested", true, 0, 0},
        {"bad\xEF\xBF\xBD.txt", false, 0, 0},
        {"link", false, 0, 0xFFFFFFFFu},
    };
    EXPECT_EQ(EntriesOf(ReadFolderListing(std::string_view(kTypicalListing))), expected);

    const std::string_view text(kTypicalListing);
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(EntriesOf(ReadFolderListing(std::span<const std::uint8_t>(bytes))), expected);
}

struct ListingCase {
    const char* title;
    std::string document;
    wclResult result;
    std::vector<Entry> entries;
};

const ListingCase kListingCases[] = {
    {"empty store", "", kWclSuccess, {}},
    {"blank store", " \r\n", kWclErrInvalidData, {}},
    {"no folder-listing element", "<listing><file name=\"a\"/></listing>", kWclSuccess, {}},
    {"folder-listing named differently cased",
     "<Folder-Listing><file name=\"a\"/></Folder-Listing>",
     kWclSuccess,
     {}},
    {"first folder-listing in pre-order wins",
     "<x><folder-listing><file name=\"first\"/></folder-listing></x>"
     "<folder-listing><file name=\"second\"/></folder-listing>",
     kWclSuccess,
     {{"first", false, 0, 0}}},
    {"size with sign",
     "<folder-listing><file name=\"a\" size=\"+5\"/><file name=\"b\" size=\"-2\"/>"
     "</folder-listing>",
     kWclSuccess,
     {{"a", false, 0, 5}, {"b", false, 0, 0xFFFFFFFEu}}},
    {"largest 64-bit size",
     "<folder-listing><file name=\"a\" size=\"18446744073709551615\"/></folder-listing>",
     kWclSuccess,
     {{"a", false, 0, 0xFFFFFFFFu}}},
    {"size beyond 64 bits",
     "<folder-listing><file name=\"a\" size=\"18446744073709551616\"/></folder-listing>",
     kWclErrInvalidData,
     {}},
    {"size not a number",
     "<folder-listing><file name=\"a\" size=\"12k\"/></folder-listing>",
     kWclErrInvalidData,
     {}},
    {"size empty",
     "<folder-listing><file name=\"a\" size=\"\"/></folder-listing>",
     kWclErrInvalidData,
     {}},
    {"size sign only",
     "<folder-listing><file name=\"a\" size=\"-\"/></folder-listing>",
     kWclErrInvalidData,
     {}},
    {"size with blank",
     "<folder-listing><file name=\"a\" size=\" 1\"/></folder-listing>",
     kWclErrInvalidData,
     {}},
    {"name without closing quote",
     "<folder-listing><file name=\"a.jpg/></folder-listing>",
     kWclSuccess,
     {}},
    {"closing quote taken from the next attribute",
     "<folder-listing><file name=\"a.jpg size=\"1\"/></folder-listing>",
     kWclSuccess,
     {{"a.jpg size=", false, 0, 0}}},
    {"tag without >", "<folder-listing><file name=\"a\"", kWclSuccess, {}},
    {"NUL inside a name kept",
     "<folder-listing><file name=\"a\0b\"/></folder-listing>"s,
     kWclSuccess,
     {{"a\0b"s, false, 0, 0}}},
    {"unterminated CDATA",
     "<folder-listing><file name=\"a\"/><![CDATA[</folder-listing>",
     kWclErrInvalidData,
     {}},
};

TEST(wclFolderListingTest, EdgeCases) {
    // Each store converts to the listed entries, or raises with code 0x8000F034.
    for (const ListingCase& c : kListingCases) {
        SCOPED_TRACE(c.title);
        try {
            const TwclFileSystemObjects list = ReadFolderListing(c.document);
            EXPECT_EQ(c.result, kWclSuccess);
            EXPECT_EQ(EntriesOf(list), c.entries);
        } catch (const wclEUnreadableXML& e) {
            EXPECT_EQ(e.ErrorCode(), c.result) << e.what();
        }
    }
}

TEST(wclFolderListingTest, ListRefusesNoneAndChecksIndexes) {
    // Adding no object, reading past the end.
    // wclEInvalidArgument and wclEIndexOutOfRange; the list is unchanged.
    TwclFileSystemObjects list;
    EXPECT_THROW(list.Add(nullptr), wclEInvalidArgument);
    EXPECT_EQ(list.Count(), 0u);
    list.Add(std::make_unique<TwclFileSystemObject>());
    EXPECT_THROW(list.Items(1), wclEIndexOutOfRange);
    EXPECT_TRUE(list.Items(0).IsFolder());
}

// ---------------------------------------------------------------------------
// Hostile documents

TEST(wclXMLHostileTest, MillionNestedElementsAtTheLimit) {
    // 999 999 nested opening tags with folder-listing innermost, plus one file: the element
    // limit exactly. Loads, is searched and destroyed without recursion; one more is too many.
    const std::string opens = Repeat("<a>", kWclXMLMaxNodes - 2);
    const std::string document = opens + "<folder-listing><file name=\"deep\" size=\"9\"/>";
    {
        TwclXMLTree tree;
        ASSERT_EQ(LoadResult(tree, document), kWclSuccess);
        EXPECT_EQ(tree.OpenTagCount(), kWclXMLMaxNodes - 1);
        const TwclXMLNode* listing = tree.FindNode("folder-listing");
        ASSERT_NE(listing, nullptr);
        std::size_t depth = 0;
        for (const TwclXMLNode* n = listing; n->Parent() != nullptr; n = n->Parent())
            ++depth;
        EXPECT_EQ(depth, kWclXMLMaxNodes - 1);
        EXPECT_EQ(tree.FindNode("missing"), nullptr);
        tree.ClearChildren();
        EXPECT_EQ(tree.ChildCount(), 0u);
    }
    EXPECT_EQ(EntriesOf(ReadFolderListing(document)), (std::vector<Entry>{{"deep", false, 0, 9}}));
    // Destroying a deep tree through the destructor, not ClearChildren.
    {
        TwclXMLTree tree;
        tree.LoadFromBuffer(document);
    }

    TwclXMLTree tree;
    EXPECT_EQ(LoadResult(tree, "<a>" + document), kWclErrInvalidData);
}

TEST(wclXMLHostileTest, LimitsMakeDocumentsUnreadable) {
    // Documents that exceed the size, element, attribute or token limit by one.
    // Each is unreadable; the same document at the limit loads.
    struct Case {
        const char* title;
        std::string atLimit;
        std::string overLimit;
    };
    const std::string padding(kWclXMLMaxDocumentSize - 4, ' ');
    const Case cases[] = {
        {"size", "<a/>" + padding, "<a/>" + padding + " "},
        {"elements", Repeat("<a/>", kWclXMLMaxNodes), Repeat("<a/>", kWclXMLMaxNodes + 1)},
        {"attributes", "<a" + Repeat(" =\"\"", kWclXMLMaxAttributes) + ">",
         "<a" + Repeat(" =\"\"", kWclXMLMaxAttributes + 1) + ">"},
        {"tokens", Repeat("x<", kWclXMLMaxTokens), Repeat("x<", kWclXMLMaxTokens + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        TwclXMLTree tree;
        EXPECT_EQ(LoadResult(tree, c.atLimit), kWclSuccess);
        EXPECT_EQ(LoadResult(tree, c.overLimit), kWclErrInvalidData);
    }
}

TEST(wclXMLHostileTest, TenMegabytesOfLessThan) {
    // 10 MB of "<", alone and followed by text or by one ">".
    // Alone there is no token (unreadable); the text becomes the root's value; with the ">"
    // everything before it is one opening tag. A rescan per "<" would not finish.
    const std::string lessThan(10'000'000, '<');
    TwclXMLTree tree;
    EXPECT_EQ(LoadResult(tree, lessThan), kWclErrInvalidData);

    ASSERT_EQ(LoadResult(tree, lessThan + "tail"), kWclSuccess);
    EXPECT_EQ(TokensOf(tree), std::vector<std::string>{"TX:tail"});
    EXPECT_EQ(tree.Value(), "tail");

    ASSERT_EQ(LoadResult(tree, lessThan + ">"), kWclSuccess);
    ASSERT_EQ(tree.ChildCount(), 1u);
    EXPECT_EQ(tree.Children(0).Name(), std::string(lessThan.size() - 1, '<'));
}

TEST(wclXMLHostileTest, LongUnterminatedCDataEndsAtOnce) {
    // A CDATA section opened near the start of 10 MB that never ends, many times over.
    // Unreadable, without rescanning from earlier positions.
    const std::string document = "<a>" + Repeat("<![CDATA[", 1'000'000) + "]]";
    TwclXMLTree tree;
    EXPECT_EQ(LoadResult(tree, document), kWclErrInvalidData);
    EXPECT_THROW(ReadFolderListing(document), wclEUnreadableXML);
}

}  // namespace
}  // namespace kavri
