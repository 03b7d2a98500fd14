// Gemmora: the desktop duplicate file finder.
#include <QApplication>
#include <QIcon>

#include "app/MainForm.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Gemmora");
    QApplication::setApplicationDisplayName("Gemmora");
    QApplication::setDesktopFileName("gemmora");
    QApplication::setWindowIcon(QIcon::fromTheme("gemmora", QIcon(":/icons/gemmora-64.png")));
    app::TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
