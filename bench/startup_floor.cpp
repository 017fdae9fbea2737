// The floor that the window's start is measured against: a bare Qt main window holding a plain
// text editor, shown, and nothing else. bench/startup_bench starts it in turn with quaverly.
#include <QApplication>
#include <QMainWindow>
#include <QPlainTextEdit>

#include "app/Application.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ExitOnFirstPaintWhenAsked(app);
    QMainWindow window;
    window.setCentralWidget(new QPlainTextEdit(&window));
    window.resize(960, 604);
    window.show();
    return QApplication::exec();
}
