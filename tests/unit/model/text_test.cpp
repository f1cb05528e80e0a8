// Text rules of the model files and the weapon table.
#include "model/mdl.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

using namespace model;

TEST(Text, ReplaceAllScansTheOriginalLengthOnceAndRescansInsertedText) {
    // Same-length replacements behave like an ordinary replace (bone names).
    EXPECT_EQ(ReplaceAll("Bip01 L Arm", " ", "_"), "Bip01_L_Arm");
    // The scan continues one character after the match in the changed text, so a replacement
    // that holds the pattern at its second character is met again.
    EXPECT_EQ(ReplaceAll("xx", "x", "yx"), "yyxx");
    // Deleting shifts the text left under the scan: a pattern right after a removed one is
    // skipped, and nothing past the original length is scanned.
    EXPECT_EQ(ReplaceAll("aab", "a", ""), "ab");
    EXPECT_EQ(ReplaceAll("\"terror\"", "\"", ""), "terror");
    EXPECT_EQ(ReplaceAll("\"\"x\"", "\"", ""), "\"x");
    EXPECT_EQ(ReplaceAll("abc", "", "z"), "abc");

    EXPECT_EQ(ReplaceFirst("1.5.2", '.', ","), "1,5.2");
    EXPECT_EQ(ReplaceFirst("15", '.', ","), "15");
}

TEST(Text, NamesFieldsAndTrimming) {
    EXPECT_EQ(NormaliseName("Bip01 L-Arm 2"), "Bip01_LDArm_2");
    EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
    EXPECT_EQ(TrimSpaces("    "), "");
    EXPECT_EQ(QuotedName("3 \"  Bip01 Head \" 1 2"), "Bip01 Head");
    EXPECT_FALSE(QuotedName("no \"quote"));

    // Data lines: any run of spaces and tabs separates fields; blanks at the ends do not count.
    std::vector<std::string_view> f;
    SplitFields(" \t1  2.5\tx \t y ", f);
    EXPECT_EQ(f, (std::vector<std::string_view>{"1", "2.5", "x", "y"}));
    SplitFields(" \t ", f);
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(TrimBlanks("\t -1 \t"), "-1");
}

TEST(Text, NumbersHonourTheDecimalSeparatorWithoutTouchingTheCLocale) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    // A file's "." reads the same under a "," user locale; so does the locale's own ",".
    EXPECT_DOUBLE_EQ(*ParseNumber("1.5", ","), 1.5);
    EXPECT_DOUBLE_EQ(*ParseNumber("-1,25", ","), -1.25);
    EXPECT_DOUBLE_EQ(*ParseNumber("-.5", "."), -0.5);
    EXPECT_DOUBLE_EQ(*ParseNumber("+2.", "."), 2.0);
    EXPECT_DOUBLE_EQ(*ParseNumber("1.5e2", "."), 150.0);
    EXPECT_FLOAT_EQ(*ParseNumberSingle("3.25", ","), 3.25f);
    // Only the first "." becomes the separator: a second one is not part of the number.
    EXPECT_FALSE(ParseNumber("1.5.2", ","));
    // Under a "." locale, a "," is no decimal mark.
    EXPECT_FALSE(ParseNumber("1,5", "."));
    for (const char* bad : {"", " 1", "1 ", "abc", "1\t", ".", "-", "1e", "inf", "nan", "0x10"}) {
        EXPECT_FALSE(ParseNumber(bad, ".")) << bad;
    }
    EXPECT_FALSE(ParseNumberSingle("1e39", ".")); // out of the 32-bit float range
    EXPECT_EQ(*ParseInteger("-1"), -1);
    EXPECT_EQ(*ParseInteger("+7"), 7);
    EXPECT_FALSE(ParseInteger("2147483648"));
    EXPECT_FALSE(ParseInteger("1.0"));
    EXPECT_FALSE(ParseInteger("+-1"));
    EXPECT_EQ(before, std::setlocale(LC_NUMERIC, nullptr));
}

TEST(Text, ToLongGivesZeroForAnythingThatIsNotANumber) {
    EXPECT_EQ(ToLong("", "."), 0);
    EXPECT_EQ(ToLong("abc", "."), 0);
    EXPECT_EQ(ToLong("0", "."), 0);
    EXPECT_EQ(ToLong("24", "."), 24);
    EXPECT_EQ(ToLong(" -24 ", "."), -24);
    EXPECT_EQ(ToLong("2,5", ","), 2); // half to even
    EXPECT_EQ(ToLong("3.5", ","), 4);
    EXPECT_EQ(ToLong("2.7", "."), 3);
    EXPECT_EQ(ToLong("99999999999", "."), 0);
}

TEST(WeaponTable, StatisticsByNameInAnyCaseAndFilesByIndex) {
    int32_t magazine = -5, power = -5, rank = -5;
    bool scope = true;
    EXPECT_TRUE(model::CaracteristiquesArme("AK47", magazine, power, rank, scope));
    EXPECT_EQ(magazine, 30);
    EXPECT_EQ(power, 10);
    EXPECT_EQ(rank, 2);
    EXPECT_FALSE(scope);
    EXPECT_TRUE(model::CaracteristiquesArme("awp", magazine, power, rank, scope));
    EXPECT_EQ(magazine, 1);
    EXPECT_EQ(power, 100);
    EXPECT_EQ(rank, 4);
    EXPECT_TRUE(scope);
    // An unknown name clears the scope and leaves the rest as it was.
    EXPECT_FALSE(model::CaracteristiquesArme("bazooka", magazine, power, rank, scope));
    EXPECT_EQ(magazine, 1);
    EXPECT_EQ(power, 100);
    EXPECT_EQ(rank, 4);
    EXPECT_FALSE(scope);

    EXPECT_EQ(model::FichierArme(0), "onehanded_mac10.QC");
    EXPECT_EQ(model::FichierArme(11), "rifle_awp.QC");
    EXPECT_EQ(model::FichierArme(12), "");
    EXPECT_EQ(model::FichierArme(-1), "");
    // Every QC file is CLASS_NAME.QC of its own row.
    for (const model::WeaponRow& row : model::kWeaponTable) {
        EXPECT_EQ(std::string(row.qcFile),
                  std::string(row.classe) + "_" + std::string(row.name) + ".QC");
    }
}
