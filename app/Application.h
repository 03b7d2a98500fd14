// The desktop program's application object: a failed allocation in an event ends in a message.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

namespace app {

// The desktop program's application object. An allocation that fails in an
// event handler ends in a message instead of an abort: what was asked is
// not done, and the program goes on with what it has.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace app
