// The desktop program's application object: a failed allocation in an event ends in a message.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include <new>

#include <QMessageBox>

namespace app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
        // Qt's own code cannot pass an exception on; it ends here.
        QMessageBox::critical(QApplication::activeWindow(), tr("Gemmora"),
                              tr("There is not enough memory for what was asked, so it was not "
                                 "done.\n\nClose other programs, or search fewer folders at "
                                 "once."));
        return false;
    }
}

}  // namespace app
