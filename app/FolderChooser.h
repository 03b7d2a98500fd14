// The folder chooser beside the window's "In:" field.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <QObject>

class QAction;
class QLineEdit;

namespace app {

// A folder button inside the end of a folder field: it opens a folder
// chooser and adds the chosen folder to what the field holds. The field
// stays a plain text field, typed into as designed.
class FolderChooser : public QObject {
    Q_OBJECT
public:
    explicit FolderChooser(QLineEdit& field);

    QAction* actChoose;

    // Adds `folder` after the field's folders, quoted where it needs quotes.
    void addFolder(const std::string& folder);

private:
    void choose();

    QLineEdit& m_field;
};

}  // namespace app
