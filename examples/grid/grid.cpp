// grid TABLE.dat [--quit]: shows a table in a grid under a navigator; edits
// are posted to the table. --quit closes the window as soon as it is shown.
#include <controls/DBControls.h>
#include <engine/Engine.h>
#include <moneytable/Tamblor.h>

#include <QApplication>
#include <QTimer>
#include <QVBoxLayout>

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: grid TABLE.dat [--quit]\n";
        return 2;
    }
    engine::RegisterEngineServer();
    // Declared before the window, so the controls go before what they show.
    TMoneyTable Table(nullptr);
    TDataSource Source(nullptr);
    Source.SetDataSet(&Table);
    QWidget Window;
    auto* Navigator = new controls::TDBNavigator(&Window);
    auto* Grid = new controls::TDBGrid(&Window);
    Navigator->SetDataSource(&Source);
    Grid->SetDataSource(&Source);
    auto* Layout = new QVBoxLayout(&Window);
    Layout->addWidget(Navigator);
    Layout->addWidget(Grid);
    try {
        Table.SetFileName(argv[1]);
        Table.Open();
    } catch (const std::exception& E) {
        std::cerr << "grid: " << E.what() << '\n';
        return 1;
    }
    Window.setWindowTitle(QString::fromUtf8(argv[1]));
    Window.resize(800, 500);
    Window.show();
    if (argc > 2 && std::string_view(argv[2]) == "--quit") QTimer::singleShot(0, &Window, &QWidget::close);
    const int Code = App.exec();
    // Post what the user left in the grid; a failure shows in a message box.
    return controls::Guarded([&] { Table.CheckBrowseMode(); }) ? Code : 1;
}
