// The DOM as the web client reads replies: root, children, names, texts, failures.
#include "platform/xml/xml.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const std::vector<xml::Node>& nodes) {
    std::vector<std::string> names;
    for (const xml::Node& node : nodes)
        names.push_back(node.Name());
    return names;
}

} // namespace

TEST(Document, WalksAReplyByNamesChildrenAndTexts) {
    xml::Document document;
    const xml::LoadResult loaded = document.LoadText(R"(<?xml version="1.0"?>
<!-- game list -->
<liste version="3">
  <partie><nom>Bob &amp; co</nom><ip>127.0.0.1</ip></partie>
  <partie>
    <nom>Zo&#233;</nom>
    <ip><![CDATA[10.0.0.<2>]]></ip>
  </partie>
  <fin/>
</liste>)");
    ASSERT_TRUE(loaded) << loaded.error;
    const xml::Node root = document.DocumentElement();
    EXPECT_EQ(root.Name(), "liste");
    EXPECT_EQ(root.Attribute("version"), "3");
    EXPECT_EQ(root.Attribute("missing"), "");
    const std::vector<xml::Node> games = root.Children();
    EXPECT_EQ(Names(games), (std::vector<std::string>{"partie", "partie", "fin"}));
    EXPECT_EQ(games[0].FirstChildNamed("nom").Text(), "Bob & co");
    EXPECT_EQ(games[1].FirstChildNamed("nom").Text(), "Zo\xC3\xA9");
    EXPECT_EQ(games[1].FirstChildNamed("ip").Text(), "10.0.0.<2>");
    // An element's text joins the texts of all its descendants in order.
    EXPECT_EQ(games[0].Text(), "Bob & co127.0.0.1");
    EXPECT_EQ(root.Text(), "Bob & co127.0.0.1Zo\xC3\xA9"
                           "10.0.0.<2>");
    EXPECT_EQ(games[2].Text(), "");
    // Text nodes are children too, named as the DOM names them.
    const std::vector<xml::Node> inName = games[0].FirstChildNamed("nom").Children();
    ASSERT_EQ(inName.size(), 1u);
    EXPECT_EQ(inName[0].Name(), "#text");
    EXPECT_FALSE(inName[0].IsElement());
    EXPECT_EQ(Names(games[1].FirstChildNamed("ip").Children()),
              std::vector<std::string>{"#cdata-section"});
    // Missing children give null nodes that answer emptily.
    const xml::Node none = root.FirstChildNamed("absent").FirstChildNamed("deeper");
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.Name(), "");
    EXPECT_EQ(none.Text(), "");
    EXPECT_TRUE(none.Children().empty());
}

TEST(Document, ConvertsLatin1AndLoadsBytes) {
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><msg>caf\xE9 cr\xE8me</msg>";
    xml::Document document;
    ASSERT_TRUE(document.LoadBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(latin1.data()), latin1.size())));
    EXPECT_EQ(document.DocumentElement().Text(), "caf\xC3\xA9 cr\xC3\xA8me");
}

TEST(Document, BadTextFailsClearlyAndLeavesAnEmptyDocument) {
    xml::Document document;
    ASSERT_TRUE(document.LoadText("<ok/>"));
    for (const char* bad : {"<a><b></a>", "", "   ", "<!-- only a comment -->", "<a", "text"}) {
        const xml::LoadResult result = document.LoadText(bad);
        EXPECT_FALSE(result) << bad;
        EXPECT_EQ(result.error.rfind("offset ", 0), 0u) << result.error;
        EXPECT_TRUE(document.DocumentElement().IsNull()) << bad;
    }
    // Deep nesting is read and its text gathered without recursion trouble.
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    deep += "x";
    for (int i = 0; i < 100000; ++i)
        deep += "</d>";
    ASSERT_TRUE(document.LoadText(deep));
    EXPECT_EQ(document.DocumentElement().Text(), "x");
}
