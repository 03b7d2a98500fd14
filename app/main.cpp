// Gemmora: the desktop duplicate file finder.
#include <QIcon>

#include "app/Application.h"
#include "app/MainForm.h"

int main(int argc, char** argv)
{
    app::Application application(argc, argv);
    QApplication::setApplicationName("Gemmora");
    QApplication::setApplicationDisplayName("Gemmora");
    QApplication::setDesktopFileName("gemmora");
    QApplication::setWindowIcon(QIcon::fromTheme("gemmora", QIcon(":/icons/gemmora-64.png")));
    app::TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
