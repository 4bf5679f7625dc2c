// ConfigurationController.dll: parsing, XPath queries, the operation positions the driver
// relies on, the xenc form, and files that must be refused without harm.
#include "ConfigLibraryFixture.h"
#include "XencCodec.h"

#include <libxml/tree.h>

#include <vector>

namespace {

const char kDatabase[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kora>\n"
    "  <game exact_name=\"game\">\n"
    "    <general><sleep_on_startup>5</sleep_on_startup></general>\n"
    "    <intel_nv><general><use_zari_dx9>1</use_zari_dx9></general></intel_nv>\n"
    "  </game>\n"
    "  <default>\n"
    "    <general><sleep_on_startup>0</sleep_on_startup><single_mode/></general>\n"
    "    <text><vessa_icon_corner>caf\xc3\xa9 \xf0\x9f\x8e\xae</vessa_icon_corner></text>\n"
    "  </default>\n"
    "</kora>\n";

// The function at `slot` of an object's table, called as the driver calls it: by position.
template <typename F, typename Object> F slot(Object* object, int index) {
    F function;
    const void* const* table = reinterpret_cast<const void* const*>(object->pOps);
    memcpy(&function, &table[index], sizeof function);
    return function;
}

using GetNodeAt1 = ConfigNode* (*)(ConfigManager*, const WCHAR*);
using ReleaseAt6 = void (*)(ConfigManager*, ConfigNode*);
using DestroyAt0 = void (*)(ConfigManager*, unsigned);
using GetTextAt4 = const WCHAR* (*)(ConfigNode*);
using GetXmlNodeAt8 = struct _xmlNode* (*)(ConfigNode*);

TEST_F(ConfigLibraryTest, DriverPositionsReachQueryTextElementReleaseAndDestroy) {
    ConfigManager* manager = m_create(0, text::w(writeFile("positions.xml", kDatabase)));
    ASSERT_NE(manager, nullptr);

    std::u16string query = u"kora/*[@exact_name='game']/intel_nv/*/use_zari_dx9";
    ConfigNode* node = slot<GetNodeAt1>(manager, 1)(manager, text::w(query));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(text::narrow(slot<GetTextAt4>(node, 4)(node)), "1");
    xmlNode* element = slot<GetXmlNodeAt8>(node, 8)(node);
    ASSERT_NE(element, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(element->name), "use_zari_dx9");
    ASSERT_NE(element->children, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(element->children->content), "1");

    slot<ReleaseAt6>(manager, 6)(manager, node);
    slot<DestroyAt0>(manager, 0)(manager, kConfigDestroyFree); // AddressSanitizer sees leaks
}

TEST_F(ConfigLibraryTest, QueriesSelectTheFirstElementInDocumentOrder) {
    ConfigManager* manager = openText("order.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(textOf(manager, "kora/*/*/sleep_on_startup"), "5");
    EXPECT_EQ(textOf(manager, "kora/default/*/sleep_on_startup"), "0");
    EXPECT_EQ(textOf(manager, "/kora/default/general/sleep_on_startup"), "0");
    EXPECT_EQ(manager->pOps->getNodeCount(manager, text::w(u"kora/*/*/sleep_on_startup")), 2);
}

TEST_F(ConfigLibraryTest, QueriesThatSelectNoElementGiveNone) {
    ConfigManager* manager = openText("none.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(textOf(manager, "kora/*[@exact_name='other']/*/sleep_on_startup"), "<none>");
    EXPECT_EQ(textOf(manager, "kora/*/@exact_name"), "<none>");   // an attribute
    EXPECT_EQ(textOf(manager, "string(kora/default)"), "<none>"); // not a node set
    EXPECT_EQ(textOf(manager, "kora/default/*/"), "<none>");      // does not compile
    EXPECT_EQ(textOf(manager, "kora/*[@exact_name='it's']/x"), "<none>");
    EXPECT_EQ(manager->pOps->getNodeCount(manager, text::w(u"kora/[")), -1);
    EXPECT_EQ(manager->pOps->getNode(manager, nullptr), nullptr);
}

TEST_F(ConfigLibraryTest, EveryQueryStartsAtTheDocumentWhateverTheQueryBefore) {
    ConfigManager* manager = openText("fresh.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // Deep, positional and broken queries, each followed by ones that only find their
        // element from the document node with no position of their own.
        EXPECT_EQ(textOf(manager, "kora/default/general/sleep_on_startup"), "0");
        EXPECT_EQ(textOf(manager, "../single_mode"), "<none>");
        EXPECT_EQ(textOf(manager, "general/sleep_on_startup"), "<none>");
        EXPECT_EQ(textOf(manager, "kora/*[last()]/*[position()=2]/vessa_icon_corner"),
                  "caf\xc3\xa9 \xf0\x9f\x8e\xae");
        EXPECT_EQ(textOf(manager, "kora/*[position()=last()]/general/sleep_on_startup"), "0");
        EXPECT_EQ(textOf(manager, "kora/["), "<none>");
        EXPECT_EQ(textOf(manager, "kora/*[1]/general/sleep_on_startup"), "5");
        EXPECT_EQ(manager->pOps->getNodeCount(manager, text::w(u"self::node()/kora")), 1);
    }
}

TEST_F(ConfigLibraryTest, TextIsUnicodeExactAndEmptyForElementsWithout) {
    ConfigManager* manager = openText("text.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    ConfigNode* node =
        manager->pOps->getNode(manager, text::w(u"kora/default/*/vessa_icon_corner"));
    ASSERT_NE(node, nullptr);
    std::u16string expected = u"caf\u00e9 \U0001F3AE";
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(node->pOps->getText(node))),
              expected);
    manager->pOps->releaseNode(manager, node);

    node = manager->pOps->getNode(manager, text::w(u"kora/default/*/single_mode"));
    ASSERT_NE(node, nullptr);
    const WCHAR* empty = node->pOps->getText(node);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(node->pOps->getXmlNode(node)->children, nullptr);
    manager->pOps->releaseNode(manager, node);
}

TEST_F(ConfigLibraryTest, NodeOperationsDescribeTheElementAndItsNeighbours) {
    ConfigManager* manager = openText("neighbours.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(text::narrow(manager->pOps->getRootName(manager)), "kora");
    EXPECT_EQ(text::narrow(manager->pOps->getFilePath(manager)), "cfglib_neighbours.xml");

    ConfigNode* game = manager->pOps->getNodeAt(manager, text::w(u"kora/*"), 0);
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(text::narrow(game->pOps->getName(game)), "game");
    EXPECT_EQ(text::narrow(game->pOps->getAttribute(game, text::w(u"exact_name"))), "game");
    EXPECT_EQ(game->pOps->getAttribute(game, text::w(u"missing")), nullptr);
    EXPECT_EQ(game->pOps->getChildCount(game), 2);
    EXPECT_EQ(game->pOps->getLine(game), 3);
    EXPECT_EQ(game->pOps->getManager(game), manager);

    ConfigNode* child = game->pOps->getChild(game, 1);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(text::narrow(child->pOps->getName(child)), "intel_nv");
    EXPECT_EQ(game->pOps->getChild(game, 2), nullptr);
    ConfigNode* parent = child->pOps->getParent(child);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(text::narrow(parent->pOps->getName(parent)), "game");
    EXPECT_EQ(manager->pOps->getNodeAt(manager, text::w(u"kora/*"), 2), nullptr);
    // Nodes still held are freed with the manager (TearDown).
}

TEST_F(ConfigLibraryTest, ReleaseIgnoresForeignNodesAndEmptiedManagersFindNothing) {
    ConfigManager* first = openText("first.xml", kDatabase);
    ConfigManager* second = openText("second.xml", kDatabase);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ConfigNode* node = first->pOps->getNode(first, text::w(u"kora"));
    ASSERT_NE(node, nullptr);
    second->pOps->releaseNode(second, node); // not its node: ignored
    EXPECT_EQ(text::narrow(node->pOps->getName(node)), "kora");
    first->pOps->releaseNode(first, nullptr);

    first->pOps->destroy(first, 0); // contents only: the manager stays usable, empty
    EXPECT_EQ(textOf(first, "kora"), "<none>");
    EXPECT_EQ(first->pOps->getNodeCount(first, text::w(u"kora")), -1);
}

TEST_F(ConfigLibraryTest, XencFilesAreDecodedAndPlainXmlIsAcceptedUnderEitherName) {
    std::vector<uint8_t> encoded =
        xenc::encode(reinterpret_cast<const uint8_t*>(kDatabase), sizeof kDatabase - 1);
    ConfigManager* manager = openText("vessa.xenc", std::string(encoded.begin(), encoded.end()));
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(textOf(manager, "kora/*[@exact_name='game']/*/sleep_on_startup"), "5");

    ConfigManager* plain = openText("plain.xenc", kDatabase);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(textOf(plain, "kora/*[@exact_name='game']/*/sleep_on_startup"), "5");

    // The magic followed by plain text decodes into garbage: refused.
    EXPECT_EQ(openText("garbage.xenc", std::string(xenc::kMagic) + kDatabase), nullptr);
}

TEST(XencCodec, TransformIsItsOwnInverseAndChangesTheText) {
    std::string plain = "<kora><default/></kora>";
    std::vector<uint8_t> encoded =
        xenc::encode(reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
    ASSERT_EQ(encoded.size(), plain.size() + xenc::kMagicSize);
    EXPECT_EQ(std::string(encoded.begin() + xenc::kMagicSize, encoded.end()).find("kora"),
              std::string::npos);
    EXPECT_EQ(encoded[xenc::kMagicSize], uint8_t('<' ^ 0x5A));
    EXPECT_EQ(encoded[xenc::kMagicSize + 1], uint8_t('k' ^ 0x61));
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(xenc::decode(encoded.data(), encoded.size(), decoded));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), plain);
    EXPECT_FALSE(xenc::decode(decoded.data(), decoded.size(), decoded));
}

// Files the library must refuse (none, no crash, no leak), by what is wrong with them.
struct BadFile {
    const char* what;
    std::string contents;
};

void PrintTo(const BadFile& file, std::ostream* os) {
    *os << file.what;
}

std::string nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i)
        s += "<a>";
    for (int i = 0; i < depth; ++i)
        s += "</a>";
    return s;
}

class RefusedFile : public ConfigLibraryTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(RefusedFile, GivesNoManager) {
    EXPECT_EQ(openText(std::string("bad_") + GetParam().what + ".xml", GetParam().contents),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigLibrary, RefusedFile,
    ::testing::Values(
        BadFile{"empty", ""}, BadFile{"notXml", "gpu_count=2\n"},
        BadFile{"truncated", std::string(kDatabase).substr(0, 120)},
        BadFile{"twoRoots", "<kora/><kora/>"}, BadFile{"deeplyNested", nested(5000)},
        BadFile{"invalidUtf8", "<kora><default><g><x>\xff\xfe</x></g></default></kora>"},
        BadFile{"entityExpansion", "<!DOCTYPE kora [<!ENTITY a \"aaaaaaaaaa\">"
                                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                                   "<kora><default><g><x>&b;&b;</x></g></default></kora>"},
        BadFile{"oversized", "<kora>" + std::string(kConfigMaxFileBytes, 'x') + "</kora>"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.what); });

// A document of exactly `size` bytes: many small elements (one text node that large would
// meet the parser's own text limit) and the value 7 at the end.
std::string documentOfSize(size_t size) {
    const std::string head = "<kora>";
    const std::string tail = "<default><g><orr_margin>7</orr_margin></g></default></kora>";
    const std::string filler = "<p>" + std::string(57, 'x') + "</p>\n"; // 65 bytes
    std::string xml = head;
    while (xml.size() + filler.size() + tail.size() <= size)
        xml += filler;
    xml += std::string(size - xml.size() - tail.size(), ' ');
    xml += tail;
    return xml;
}

TEST_F(ConfigLibraryTest, FileOfExactlyTheSizeLimitIsReadAndOneByteMoreIsNot) {
    ConfigManager* manager = openText("limit.xml", documentOfSize(kConfigMaxFileBytes));
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(textOf(manager, "kora/default/*/orr_margin"), "7");
    EXPECT_EQ(openText("limit1.xml", documentOfSize(kConfigMaxFileBytes + 1)), nullptr);
}

TEST_F(ConfigLibraryTest, MissingFilesAndReservedArgumentsGiveNoManager) {
    EXPECT_EQ(m_create(0, text::w(u"cfglib_does_not_exist.xml")), nullptr);
    EXPECT_EQ(m_create(0, nullptr), nullptr);
    EXPECT_EQ(m_create(0, text::w(u"")), nullptr);
    EXPECT_EQ(m_create(1, text::w(writeFile("reserved.xml", kDatabase))), nullptr);
    m_cleanup(nullptr);
}

TEST_F(ConfigLibraryTest, LargeTextsAndDifferentRootsAreReadAsTheyAre) {
    std::string big(1024 * 1024, '7');
    ConfigManager* manager = openText("big.xml", "<kora><default><g><orr_margin>" + big +
                                                     "</orr_margin></g></default></kora>");
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(textOf(manager, "kora/default/*/orr_margin"), big);

    ConfigManager* other = openText("root.xml", "<userSettings><x>1</x></userSettings>");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(textOf(other, "kora/default/*/x"), "<none>");
    EXPECT_EQ(textOf(other, "/userSettings/*[1]"), "1");
}

} // namespace
