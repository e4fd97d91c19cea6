// Tests of CmdLine: switches by prefix and letter case, plain parameters,
// SwitchIndex after hits and misses, soNext, the value options, and the
// start-up values read from a command line.
#include "browser/CmdLine.h"
#include "browser/MainForm.h"

#include <QtTest/QtTest>

namespace {

void Params(std::vector<std::string> Args) {
    Args.insert(Args.begin(), "/usr/bin/tamblorview");
    browser::SetParams(std::move(Args));
}

// StartReadOnly and StartTableName for a command line.
std::pair<bool, std::string> Start(std::vector<std::string> Args) {
    Params(std::move(Args));
    StartTableName = "stale";
    StartReadOnly = false;
    browser::ReadStartParameters();
    return {StartReadOnly, StartTableName};
}

}  // namespace

class TestCmdLine : public QObject {
    Q_OBJECT
private slots:
    void startUpValues();
    void switchesMatchOnAPrefixIgnoringCase();
    void switchIndexAfterHitsAndMisses();
    void valueOptions();
    void parameterList();
};

void TestCmdLine::startUpValues() {
    using R = std::pair<bool, std::string>;
    // An absolute path is a plain parameter; the name keeps its case.
    QCOMPARE(Start({"-ro", "/data/Books.dat"}), R(true, "/data/Books.dat"));
    QCOMPARE(Start({"/data/Books.dat", "-RO"}), R(true, "/data/Books.dat"));
    QCOMPARE(Start({"x.dat", "-ROX"}), R(true, "x.dat"));
    // Without a switch character RO is the first plain parameter.
    QCOMPARE(Start({"RO", "x.dat"}), R(false, "RO"));
    QCOMPARE(Start({"-RO"}), R(true, ""));
    QCOMPARE(Start({"a.dat", "b.dat"}), R(false, "a.dat"));
    QCOMPARE(Start({}), R(false, ""));
    // A lone '-' matches no named switch and is no plain parameter; '/' is
    // not a switch character here.
    QCOMPARE(Start({"-", "t.dat"}), R(false, "t.dat"));
    QCOMPARE(Start({"/RO"}), R(false, "/RO"));
    // A quoted name with blanks arrives as one parameter.
    QCOMPARE(Start({"/my data/Bank Book.dat", "-Ro"}), R(true, "/my data/Bank Book.dat"));
}

void TestCmdLine::switchesMatchOnAPrefixIgnoringCase() {
    Params({"-roX", "plain"});
    QVERIFY(FindSwitch("RO", {}));
    QVERIFY(FindSwitch("ro", {}));
    QVERIFY(FindSwitch("rox", {}));
    QVERIFY(!FindSwitch("ROXY", {}));
    QVERIFY(!FindSwitch("RO", {soCaseSensitive}));
    QVERIFY(FindSwitch("ro", {soCaseSensitive}));
    QVERIFY(FindSwitch("roX", {soCaseSensitive}));
    // Only 'a'..'z' change case: a non-ASCII letter must match exactly.
    Params({"-\xC3\xA9t\xC3\xA9"});
    QVERIFY(FindSwitch("\xC3\xA9T", {}));
    QVERIFY(!FindSwitch("\xC3\x89T", {}));
}

void TestCmdLine::switchIndexAfterHitsAndMisses() {
    Params({"a", "-x1", "b", "-X2"});
    SwitchIndex = 0;
    QVERIFY(FindSwitch("X", {}));
    QCOMPARE(SwitchIndex, 2);
    QVERIFY(FindSwitch("X", {soNext}));
    QCOMPARE(SwitchIndex, 4);
    QVERIFY(!FindSwitch("X", {soNext}));
    QCOMPARE(SwitchIndex, 5);
    QVERIFY(!FindSwitch("X", {soNext}));  // already past the end: stays false
    QCOMPARE(SwitchIndex, 6);
    // Without soNext every search starts again at parameter 1.
    QVERIFY(FindSwitch("", {}));
    QCOMPARE(SwitchIndex, 1);
    QVERIFY(FindSwitch("", {soNext}));
    QCOMPARE(SwitchIndex, 3);
    QVERIFY(!FindSwitch("Y", {}));
    QCOMPARE(SwitchIndex, 5);
}

void TestCmdLine::valueOptions() {
    Params({"-XAbC"});
    std::string V = "unchanged";
    QVERIFY(GetSwitchValue("X", {soLowerValue}, V));
    QCOMPARE(V, std::string("abc"));
    QVERIFY(GetSwitchValue("X", {soLowerValue, soKeepCase}, V));
    QCOMPARE(V, std::string("AbC"));
    QVERIFY(GetSwitchValue("X", {soUpperValue, soLowerValue}, V));
    QCOMPARE(V, std::string("ABC"));
    QVERIFY(GetSwitchValue("X", {}, V));
    QCOMPARE(V, std::string("AbC"));
    V = "unchanged";
    QVERIFY(!GetSwitchValue("Y", {soUpperValue}, V));
    QCOMPARE(V, std::string("unchanged"));
    // A plain parameter comes whole; a switch with nothing after its name
    // gives the empty value.
    Params({"-X", "Bank.dat"});
    QVERIFY(GetSwitchValue("", {soUpperValue}, V));
    QCOMPARE(V, std::string("BANK.DAT"));
    QVERIFY(GetSwitchValue("x", {}, V));
    QCOMPARE(V, std::string());
}

void TestCmdLine::parameterList() {
    Params({"one", "two"});
    QCOMPARE(browser::ParamCount(), 2);
    QCOMPARE(browser::ParamStr(0), std::string("/usr/bin/tamblorview"));
    QCOMPARE(browser::ParamStr(2), std::string("two"));
    QCOMPARE(browser::ParamStr(3), std::string());
    QCOMPARE(browser::ParamStr(-1), std::string());
    browser::SetParams(std::vector<std::string>{});
    QCOMPARE(browser::ParamCount(), 0);
    QVERIFY(!FindSwitch("", {}));
    QCOMPARE(SwitchIndex, 1);
}

QTEST_GUILESS_MAIN(TestCmdLine)
#include "test_CmdLine.moc"
