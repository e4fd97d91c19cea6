// Tests of the dialogs' filter conversion and of the window's dialog
// settings as the window starts with them.
#include "browser/Dialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QtTest>

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void filtersBecomeQtNameFilters();
    void settingsStartAsDesigned();
    void findDialogIsModelessAndReportsEachPress();
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

void TestDialogs::findDialogIsModelessAndReportsEachPress() {
    QWidget Window;
    Window.show();
    browser::TQtDialogs Dialogs;
    browser::TFindDialog Find;
    Find.FindText = "smith";
    std::vector<std::string> Presses;
    Find.OnFind = [&] {
        Presses.push_back(Find.FindText + (Find.MatchCase ? "|case" : "|nocase") + (Find.Down ? "|down" : "|up"));
    };
    Dialogs.ShowFind(Find, &Window);  // returns at once: the dialog is modeless
    auto* Box = Window.findChild<QDialog*>();
    QVERIFY(Box != nullptr);
    QVERIFY(Box->isVisible());
    QVERIFY(!Box->isModal());
    auto* Text = Box->findChild<QLineEdit*>();
    QCOMPARE(Text->text(), QString("smith"));
    QPushButton* Next = nullptr;
    for (QPushButton* B : Box->findChildren<QPushButton*>())
        if (B->text() == "&Find Next") Next = B;
    QVERIFY(Next != nullptr);
    QTest::mouseClick(Next, Qt::LeftButton);
    Text->setText("Jones");
    Box->findChild<QCheckBox*>()->setChecked(true);
    for (QRadioButton* R : Box->findChildren<QRadioButton*>())
        if (R->text() == "&Up") R->setChecked(true);
    QTest::mouseClick(Next, Qt::LeftButton);
    QCOMPARE(Presses, (std::vector<std::string>{"smith|nocase|down", "Jones|case|up"}));
    QCOMPARE(Find.FindText, std::string("Jones"));
    // "Fi&nd what:" is the text's buddy label: its '&' marks the mnemonic
    // (not shown), and Alt+N takes the focus to the text.
    auto* Label = Box->findChild<QLabel*>();
    QVERIFY(Label != nullptr);
    QCOMPARE(Label->text(), QString("Fi&nd what:"));
    QCOMPARE(Label->buddy(), static_cast<QWidget*>(Text));
    Box->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Box));
    Next->setFocus();
    QTest::keyClick(Box, Qt::Key_N, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Text));
    // There is no whole-word option; Cancel hides the dialog.
    for (QCheckBox* C : Box->findChildren<QCheckBox*>()) QVERIFY(!C->text().contains("word", Qt::CaseInsensitive));
    Dialogs.CloseFind();
    QVERIFY(!Box->isVisible());
}

QTEST_MAIN(TestDialogs)
#include "test_Dialogs.moc"
