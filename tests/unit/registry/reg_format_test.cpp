// The .reg text: what the reader keeps, what it reports, and that formatting reads back.
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

using registry::ParseRegText;
using registry::RegValue;
using registry::RootKey;

TEST(RegText, ReadsAnExportWithEveryKindOfValue) {
    const std::string text = "\xEF\xBB\xBF"
                             "Windows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "; exported by hand\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
                             "\"Login\"=\"a \\\"quoted\\\" C:\\\\path\"\r\n"
                             "\"Killer\"=dword:0000000c\r\n"
                             "\"Neg\"=dword:FFFFFFFF\r\n"
                             "@=\"default\"\r\n"
                             "\"Blob\"=hex:01,02,\\\r\n"
                             "  03,04\r\n"
                             "\"Empty\"=\"\"\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER]\r\n";
    const registry::RegDocument document = ParseRegText(text);
    EXPECT_TRUE(document.problems.empty()) << document.problems.front();
    ASSERT_EQ(document.keys.size(), 2u);
    const registry::RegKey& game = document.keys[0];
    EXPECT_EQ(game.root, RootKey::LocalMachine);
    EXPECT_EQ(game.path, "Software\\Vesk-Soft\\Tarnhold");
    ASSERT_EQ(game.values.size(), 6u);
    EXPECT_EQ(game.values[0].text, "a \"quoted\" C:\\path");
    EXPECT_EQ(game.values[1].kind, RegValue::Kind::Number);
    EXPECT_EQ(game.values[1].number, 12u);
    EXPECT_EQ(game.values[2].number, 0xffffffffu);
    EXPECT_EQ(game.values[3].name, "");
    EXPECT_EQ(game.values[3].text, "default");
    EXPECT_EQ(game.values[4].kind, RegValue::Kind::Other);
    EXPECT_EQ(game.values[4].text, "hex:01,02,03,04");
    EXPECT_EQ(game.values[5].text, "");
    EXPECT_EQ(document.keys[1].root, RootKey::CurrentUser);
    EXPECT_EQ(document.keys[1].path, "");

    // Formatting and reading again gives the same keys and values.
    const registry::RegDocument again = ParseRegText(registry::FormatRegText(document));
    EXPECT_TRUE(again.problems.empty());
    EXPECT_EQ(again.keys, document.keys);
}

TEST(RegText, FormatsTheExportLayout) {
    registry::RegDocument document;
    document.keys.push_back({RootKey::LocalMachine,
                             "Software\\Vesk-Soft",
                             {{"Name", RegValue::Kind::Text, "back\\slash \"q\"", 0},
                              {"Id", RegValue::Kind::Number, "", 12}}});
    EXPECT_EQ(registry::FormatRegText(document), "Windows Registry Editor Version 5.00\n"
                                                 "\n"
                                                 "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft]\n"
                                                 "\"Name\"=\"back\\\\slash \\\"q\\\"\"\n"
                                                 "\"Id\"=dword:0000000c\n"
                                                 "\n");
}

TEST(RegText, KeepsWhatParsesAndNamesEachBrokenLine) {
    const std::string text = "Windows Registry Editor Version 5.00\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
                             "\"Good\"=\"1\"\n"
                             "\"Cut\"=\"no end\n"                  // 4: unterminated
                             "\"Big\"=dword:123456789\n"           // 5: nine digits
                             "garbage\n"                           // 6
                             "[HKEY_NOWHERE\\X]\n"                 // 7: unknown root
                             "\"Lost\"=\"x\"\n"                    // 8: no valid section
                             "[HKEY_LOCAL_MACHINE\\Software\\a]\n" // same key, other case
                             "\"good\"=\"2\"\n"
                             "\"Other\"=dword:7\n"
                             "[HKEY_LOCAL_MACHINE\\Bad\\\\Path]\n"; // 12: empty component
    const registry::RegDocument document = ParseRegText(text);
    ASSERT_EQ(document.keys.size(), 1u);
    const registry::RegKey& key = document.keys[0];
    EXPECT_EQ(key.path, "Software\\A");
    ASSERT_EQ(key.values.size(), 2u);
    EXPECT_EQ(key.values[0].name, "Good"); // first spelling kept, last data wins
    EXPECT_EQ(key.values[0].text, "2");
    EXPECT_EQ(key.values[1].number, 7u);
    ASSERT_EQ(document.problems.size(), 6u);
    EXPECT_EQ(document.problems[0].rfind("line 4:", 0), 0u) << document.problems[0];
    EXPECT_EQ(document.problems[1].rfind("line 5:", 0), 0u);
    EXPECT_EQ(document.problems[2].rfind("line 6:", 0), 0u);
    EXPECT_EQ(document.problems[3].rfind("line 7:", 0), 0u);
    EXPECT_EQ(document.problems[4].rfind("line 8:", 0), 0u);
    EXPECT_EQ(document.problems[5].rfind("line 12:", 0), 0u);

    EXPECT_FALSE(ParseRegText("[HKEY_LOCAL_MACHINE\\A]\n").problems.empty()); // no header
    EXPECT_FALSE(ParseRegText("\xFF\xFEW\0i\0").problems.empty());            // UTF-16
    EXPECT_TRUE(ParseRegText("").keys.empty());
}
