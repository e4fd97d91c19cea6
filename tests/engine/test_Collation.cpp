// ICU text services: the MONEYKEY collation, case mapping, key form and the
// UTF-8/UTF-16 conversions.
#include "engine/Collation.h"

#include "EngineTestUtil.h"

using namespace engine;

TEST(EngineCollation, SecondaryStrengthIgnoresCaseButNotAccents) {
    Collator cs("cs");
    EXPECT_EQ(cs.Compare("abc", "ABC"), 0);
    EXPECT_LT(cs.Compare("cap", "čáp"), 0);
    EXPECT_LT(cs.Compare("hrad", "chata"), 0);  // ch after h in Czech
    EXPECT_LT(cs.Compare("zebra", "žába"), 0);
    EXPECT_NE(cs.Compare("e", "é"), 0);
    Collator root("");
    EXPECT_LT(root.Compare("chata", "hrad"), 0);  // no Czech rules at the root
    EXPECT_NE(cs.Version(), root.Version());
    EXPECT_EQ(root.Version().rfind("icu-", 0), 0u);
    EXPECT_TRUE(cs.Known());
    EXPECT_TRUE(Collator("cs_CZ").Known());
    EXPECT_TRUE(Collator("de").Known());
    EXPECT_FALSE(Collator("xx").Known());
}

TEST(EngineCollation, CaseMappingAndKeys) {
    EXPECT_EQ(UnicodeUpper(u"straße čšž"), u"STRASSE ČŠŽ");
    EXPECT_EQ(UnicodeLower(u"ÁČĎ"), u"áčď");
    EXPECT_EQ(FoldCase("PŘÍJEMCE"), FoldCase("příjemce"));
    EXPECT_EQ(MakeKeyText(u"ab", 4), u"AB  ");
    EXPECT_EQ(MakeKeyText(u"a𝄞b", 2), u"A𝄞");  // counts characters, not UTF-16 units
    EXPECT_EQ(MakeKeyText(u"abc", -1), u"ABC");
}

TEST(EngineCollation, Utf8Utf16RoundTripKeepsEveryCharacter) {
    const std::string s = "aé€𝄞ř";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
    EXPECT_EQ(Utf8ToUtf16(s), u"aé€𝄞ř");
    EXPECT_EQ(Utf8Size(u"𝄞"), 4u);
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");  // an invalid byte becomes U+FFFD
    std::u16string out = u"an earlier, longer text";
    Utf8ToUtf16Into("\xC5\x99\xF0\x9D\x84\x9E", out);
    EXPECT_EQ(out, u"ř𝄞");
    Utf8ToUtf16Into("", out);
    EXPECT_EQ(out, u"");
}
