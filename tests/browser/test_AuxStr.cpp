// Tests of AuxStr: blanks only (never tabs), widths in bytes, and the edges
// of Spaces and PadLeft.
#include "browser/AuxStr.h"

#include <QtTest/QtTest>

class TestAuxStr : public QObject {
    Q_OBJECT
private slots:
    void trimsBlanksOnly();
    void spacesAndPadLeft();
};

void TestAuxStr::trimsBlanksOnly() {
    QCOMPARE(LTrim("  a b  "), std::string("a b  "));
    QCOMPARE(RTrim("  a b  "), std::string("  a b"));
    QCOMPARE(LRTrim("  a b  "), std::string("a b"));
    QCOMPARE(LRTrim("\tx "), std::string("\tx"));
    QCOMPARE(LTrim("\n x"), std::string("\n x"));
    QCOMPARE(LRTrim("    "), std::string());
    QCOMPARE(LRTrim(""), std::string());
    QCOMPARE(RTrim("x\t"), std::string("x\t"));
}

void TestAuxStr::spacesAndPadLeft() {
    QCOMPARE(Spaces(3), std::string("   "));
    QCOMPARE(Spaces(0), std::string());
    QCOMPARE(Spaces(-2), std::string());
    QCOMPARE(PadLeft("abc", 5), std::string("  abc"));
    QCOMPARE(PadLeft("abcdef", 3), std::string("def"));
    QCOMPARE(PadLeft("abc", 3), std::string("abc"));
    QCOMPARE(PadLeft("abc", 0), std::string());
    QCOMPARE(PadLeft("abc", -1), std::string());
    QCOMPARE(PadLeft("", 2), std::string("  "));
    // Widths count bytes: an ending compares equal to a pattern of the same
    // byte length.
    const std::string Word = "\xC5\xA1" "pa\xC4\x8D" "ek";  // "špaček", 8 bytes
    QCOMPARE(PadLeft(Word, 5), std::string("a\xC4\x8D" "ek"));
    QCOMPARE(PadLeft(Word, 9), " " + Word);
    QCOMPARE(PadLeft("x", 3), std::string("  x"));
}

QTEST_GUILESS_MAIN(TestAuxStr)
#include "test_AuxStr.moc"
