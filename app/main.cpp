// Gemmora: the desktop duplicate file finder.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QIcon>

#include "app/AppHelp.h"
#include "app/Application.h"
#include "app/MainForm.h"
#include "versioninfo/VersionInfo.h"

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help::usageText(app::appHelp()).c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            versioninfo::TVersionInfoResource info;
            info.Loaded();
            std::printf("gemmora %s\n", info.FileVersion.AsText().c_str());
            return 0;
        }
    }
    app::Application application(argc, argv);
    QApplication::setApplicationName("Gemmora");
    QApplication::setApplicationDisplayName("Gemmora");
    QApplication::setDesktopFileName("gemmora");
    QApplication::setWindowIcon(QIcon::fromTheme("gemmora", QIcon(":/icons/gemmora-64.png")));
    app::TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
