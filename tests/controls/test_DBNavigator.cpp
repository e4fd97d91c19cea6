// Tests of TDBNavigator: buttons enabled by the dataset's state, the action
// of each button, the delete confirmation, errors in the error box, hidden
// buttons and the width that shrinks to the visible buttons; glyphs that
// follow the palette.
#include "tests/controls/ControlsTestSupport.h"

#include <QToolButton>
#include <QtTest/QtTest>

using controls::TDBNavigator;
using controls::test::TInteractionRecorder;
using fw::test::TMemDataSet;
using namespace controls;

namespace {

struct TNavFixture {
    explicit TNavFixture(int Rows) {
        fw::test::AddNumberRows(Data, Rows);
        Source.SetDataSet(&Data);
        Nav.SetDataSource(&Source);
        Nav.resize(240, 22);
    }
    // "1" for each enabled button, "0" for each disabled one, in order.
    std::string Enabled() const {
        std::string S;
        for (int I = 0; I < 10; ++I) S += Nav.Button(static_cast<TNavigateBtn>(I))->isEnabled() ? '1' : '0';
        return S;
    }
    void Click(TNavigateBtn B) { QTest::mouseClick(Nav.Button(B), Qt::LeftButton); }

    TInteractionRecorder Box;
    TMemDataSet Data;
    TDataSource Source{nullptr};
    TDBNavigator Nav;
};

}  // namespace

class TestDBNavigator : public QObject {
    Q_OBJECT
private slots:
    void buttonsFollowTheState();
    void buttonsRunTheirActions();
    void deleteAsksFirst();
    void errorsGoToTheErrorBox();
    void hiddenButtonsShrinkTheBar();
    void glyphsFollowThePalette();
};

void TestDBNavigator::buttonsFollowTheState() {
    TNavFixture F(3);
    //                    F P N L I D E P C R
    QCOMPARE(F.Enabled(), std::string("0000000000"));
    F.Data.Open();
    QCOMPARE(F.Enabled(), std::string("0011111001"));
    F.Data.Next();
    QCOMPARE(F.Enabled(), std::string("1111111001"));
    F.Data.Last();
    QCOMPARE(F.Enabled(), std::string("1100111001"));
    F.Data.Edit();
    QCOMPARE(F.Enabled(), std::string("1100110110"));
    F.Data.Cancel();
    F.Data.Close();
    QCOMPARE(F.Enabled(), std::string("0000000000"));

    // Read-only: edit, post and cancel go; insert and delete stay (they fail
    // when used, errorsGoToTheErrorBox).
    F.Data.ReadOnlyData = true;
    F.Data.Open();
    QCOMPARE(F.Enabled(), std::string("0011110001"));

    // An empty dataset: nothing to move to or delete.
    TNavFixture Empty(0);
    Empty.Data.Open();
    QCOMPARE(Empty.Enabled(), std::string("0000101001"));
}

void TestDBNavigator::buttonsRunTheirActions() {
    TNavFixture F(5);
    F.Data.Open();
    F.Click(nbLast);
    QCOMPARE(F.Data.RecNo(), 5);
    F.Click(nbPrior);
    QCOMPARE(F.Data.RecNo(), 4);
    F.Click(nbFirst);
    QCOMPARE(F.Data.RecNo(), 1);
    F.Click(nbNext);
    QCOMPARE(F.Data.RecNo(), 2);
    F.Click(nbEdit);
    QCOMPARE(F.Data.State(), dsEdit);
    F.Data.FieldByName("NAME")->SetAsString("changed");
    F.Click(nbCancel);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowText(1, 1), std::string("N2"));
    F.Click(nbEdit);
    F.Data.FieldByName("NAME")->SetAsString("posted");
    F.Click(nbPost);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowText(1, 1), std::string("posted"));
    F.Click(nbInsert);
    QCOMPARE(F.Data.State(), dsInsert);
    F.Click(nbCancel);
    F.Data.ClearLog();
    F.Click(nbRefresh);
    QVERIFY(F.Data.Joined().find("InternalRefresh") != std::string::npos);

    std::vector<TNavigateBtn> Before, After;
    F.Nav.BeforeAction = [&](TNavigateBtn B) { Before.push_back(B); };
    F.Nav.OnClick = [&](TNavigateBtn B) { After.push_back(B); };
    F.Click(nbNext);
    QCOMPARE(Before, std::vector<TNavigateBtn>{nbNext});
    QCOMPARE(After, std::vector<TNavigateBtn>{nbNext});
    // BeforeAction may abort silently.
    F.Nav.BeforeAction = [](TNavigateBtn) { throw EAbort(); };
    const int At = F.Data.RecNo();
    F.Click(nbNext);
    QCOMPARE(F.Data.RecNo(), At);
    QVERIFY(F.Box.Errors.empty());
}

void TestDBNavigator::deleteAsksFirst() {
    TNavFixture F(3);
    F.Data.Open();
    F.Box.Answer = false;
    F.Click(nbDelete);
    QCOMPARE(F.Box.Questions, std::vector<std::string>{"Delete record?"});
    QCOMPARE(F.Data.RowCount(), 3);
    F.Box.Answer = true;
    F.Click(nbDelete);
    QCOMPARE(F.Data.RowCount(), 2);
    QCOMPARE(F.Data.RowText(0, 1), std::string("N2"));
    F.Nav.SetConfirmDelete(false);
    F.Click(nbDelete);
    QCOMPARE(F.Box.Questions.size(), std::size_t(2));
    QCOMPARE(F.Data.RowCount(), 1);
}

void TestDBNavigator::errorsGoToTheErrorBox() {
    TNavFixture F(2);
    F.Data.Open();
    F.Data.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalPost") DatabaseError("Record is locked by another user");
    };
    F.Click(nbEdit);
    F.Data.FieldByName("NAME")->SetAsString("x");
    F.Click(nbPost);
    QCOMPARE(F.Box.Errors, std::vector<std::string>{"Record is locked by another user"});
    QCOMPARE(F.Data.State(), dsEdit);
    // The bar still reflects the state and still works.
    QCOMPARE(F.Enabled().substr(6), std::string("0110"));
    F.Click(nbCancel);
    QCOMPARE(F.Data.State(), dsBrowse);

    // A read-only dataset: insert and delete fail with the framework's
    // error, delete without asking, and nothing changes.
    TNavFixture R(2);
    R.Data.ReadOnlyData = true;
    R.Data.Open();
    R.Click(nbInsert);
    R.Click(nbDelete);
    QCOMPARE(R.Box.Errors, std::vector<std::string>(2, "Cannot modify a read-only dataset"));
    QVERIFY(R.Box.Questions.empty());
    QCOMPARE(R.Data.State(), dsBrowse);
    QCOMPARE(R.Data.RowCount(), 2);
    QCOMPARE(R.Enabled(), std::string("0011110001"));
}

void TestDBNavigator::hiddenButtonsShrinkTheBar() {
    TNavFixture F(1);
    const int Min = F.Nav.MinimumWidth();
    QVERIFY(Min > 0);
    F.Nav.SetVisibleButtons(AllNavigateButtons - TButtonSet{nbEdit, nbPost, nbCancel});
    QVERIFY(F.Nav.Button(nbEdit)->isHidden());
    QVERIFY(F.Nav.Button(nbPost)->isHidden());
    QVERIFY(F.Nav.Button(nbCancel)->isHidden());
    QVERIFY(!F.Nav.Button(nbInsert)->isHidden());
    QCOMPARE(F.Nav.MinimumWidth(), Min * 7 / 10);
    F.Nav.SetWidth(10);
    QCOMPARE(F.Nav.width(), Min * 7 / 10);
    // The visible buttons share the width, left to right, without gaps.
    int X = 0;
    for (int I = 0; I < 10; ++I) {
        QToolButton* B = F.Nav.Button(static_cast<TNavigateBtn>(I));
        if (B->isHidden()) continue;
        QCOMPARE(B->x(), X);
        X += B->width();
    }
    QCOMPARE(X, F.Nav.width());
    F.Nav.SetVisibleButtons(AllNavigateButtons);
    QVERIFY(F.Nav.width() >= Min);
    F.Nav.SetWidth(300);
    QCOMPARE(F.Nav.width(), 300);
    QCOMPARE(F.Nav.Button(nbRefresh)->geometry().right(), 299);
}

void TestDBNavigator::glyphsFollowThePalette() {
    // The lightness of the darkest and of the lightest opaque pixel of the
    // "next" glyph.
    TNavFixture F(1);
    auto Ink = [&] {
        const QImage Glyph = F.Nav.Button(nbNext)->icon().pixmap(16).toImage();
        int Darkest = 255, Lightest = 0;
        for (int Y = 0; Y < Glyph.height(); ++Y)
            for (int X = 0; X < Glyph.width(); ++X) {
                const QColor C = Glyph.pixelColor(X, Y);
                if (C.alpha() < 250) continue;
                Darkest = std::min(Darkest, C.lightness());
                Lightest = std::max(Lightest, C.lightness());
            }
        return std::make_pair(Darkest, Lightest);
    };
    QPalette Dark = F.Nav.palette();
    Dark.setColor(QPalette::Button, QColor(50, 50, 50));
    Dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    F.Nav.setPalette(Dark);
    QVERIFY(Ink().first > 200);
    QPalette Light = Dark;
    Light.setColor(QPalette::Button, QColor(235, 235, 235));
    Light.setColor(QPalette::ButtonText, QColor(0, 0, 0));
    F.Nav.setPalette(Light);
    QVERIFY(Ink().second < 30);
}

QTEST_MAIN(TestDBNavigator)
#include "test_DBNavigator.moc"
