// Tests of the dialogs' filter conversion and of the window's dialog
// settings as the window starts with them.
#include "browser/Dialogs.h"

#include <QtTest/QtTest>

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void filtersBecomeQtNameFilters();
    void settingsStartAsDesigned();
};

void TestDialogs::filtersBecomeQtNameFilters() {
    QCOMPARE(browser::NameFilters("Money2000 Table (*.DAT)|*.DAT|All files (*.*)|*.*"),
             (QStringList{"Money2000 Table (*.DAT)", "All files (*)"}));
    QCOMPARE(browser::NameFilters("Text files (*.txt)|*.txt|CSV text files (*.csv)|*.csv|All (*.*)|*.*"),
             (QStringList{"Text files (*.txt)", "CSV text files (*.csv)", "All (*)"}));
    QCOMPARE(browser::NameFilters("Tables|*.dat;*.DAT"), (QStringList{"Tables (*.dat *.DAT)"}));
    QCOMPARE(browser::NameFilters(""), QStringList{});
    QCOMPARE(browser::NameFilters("odd entry"), QStringList{});
}

void TestDialogs::settingsStartAsDesigned() {
    const browser::TOpenDialog Open;
    QCOMPARE(Open.Title, std::string("Open table"));
    QCOMPARE(Open.DefaultExt, std::string("DAT"));
    QCOMPARE(Open.Filter, std::string("Money2000 Table (*.DAT)|*.DAT|All files (*.*)|*.*"));
    QVERIFY(Open.ShowReadOnly && Open.FileMustExist && Open.PathMustExist && !Open.ReadOnlyChecked);
    const browser::TSaveDialog Save;
    QCOMPARE(Save.DefaultExt, std::string("txt"));
    QCOMPARE(Save.Filter, std::string("Text files (*.txt)|*.txt|CSV text files (*.csv)|*.csv|All (*.*)|*.*"));
    QCOMPARE(Save.FilterIndex, 1);
    QVERIFY(Save.OverwritePrompt && Save.HideReadOnly && Save.Resizable);
    const browser::TFindDialog Find;
    QVERIFY(Find.Down && Find.HideWholeWord && !Find.MatchCase);
}

QTEST_GUILESS_MAIN(TestDialogs)
#include "test_Dialogs.moc"
