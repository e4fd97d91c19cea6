#include "browser/Screenshots.h"

#include "browser/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace browser {

namespace {

QPixmap Picture(TTamblorBrowserForm& Form, QWidget* Popup) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (QScreen* Screen = Form.screen()) return Screen->grabWindow(0);
    }
    QPixmap Shot = Form.grab();
    if (Popup != nullptr && Popup->isVisible()) {
        QPainter P(&Shot);
        P.drawPixmap(Form.mapFromGlobal(Popup->pos()), Popup->grab());
    }
    return Shot;
}

void Save(const QPixmap& Shot, const QString& Dir, const char* Name) {
    const QString Path = QDir(Dir).filePath(QString::fromLatin1(Name));
    if (!Shot.save(Path)) qWarning("could not write %s", qPrintable(Path));
}

}  // namespace

void ScheduleScreenshots(TTamblorBrowserForm& Form, const QString& Dir) {
    QDir().mkpath(Dir);
    TTamblorBrowserForm* F = &Form;
    // Without a window manager (a bare virtual display) nobody maximises the
    // window: give it the screen.
    if (QScreen* Screen = F->screen()) F->setGeometry(Screen->availableGeometry());
    // Ordered through a column title (the index list's second index, or its
    // only one), so that the title's mark and the status line show it.
    if (F->Table->Active() && F->IndexComboBox->count() > 1) {
        const std::string Index = F->IndexComboBox->itemText(std::min(2, F->IndexComboBox->count() - 1)).toStdString();
        F->Guard([F, &Index] { F->DBGridTitleClick(F->Table->FindField(Index.substr(0, Index.find(';')))); });
    }
    QTimer::singleShot(800, F, [F, Dir] {
        Save(Picture(*F, nullptr), Dir, "window.png");
        // The memo pane on a memo column, a few records down.
        if (F->Table->Active()) {
            for (int I = 0; I < F->DBGrid->ColumnCount(); ++I)
                if (F->DBGrid->ColumnField(I)->DataType() == ftMemo) {
                    F->DBGrid->SetSelectedIndex(I);
                    break;
                }
            F->Guard([F] { F->Table->MoveBy(3); });
        }
        F->Memoonoff1->trigger();
        QTimer::singleShot(500, F, [F, Dir] {
            Save(Picture(*F, nullptr), Dir, "memo.png");
            F->Memoonoff1->trigger();
            // Where the fields menu leaves the status line and the first
            // columns' titles free.
            F->PopupMenu1->popup(F->mapToGlobal(QPoint(F->width() * 2 / 5, F->height() / 12)));
            if (F->FieldsSubMenu->menuAction()->isEnabled()) F->PopupMenu1->setActiveAction(F->FieldsSubMenu->menuAction());
            QTimer::singleShot(700, F, [F, Dir] {
                Save(Picture(*F, F->PopupMenu1), Dir, "menu.png");
                F->PopupMenu1->hide();
                QApplication::quit();
            });
        });
    });
}

}  // namespace browser
