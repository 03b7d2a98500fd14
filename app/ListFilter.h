// The filter field above the result list and the folder the list may be narrowed to.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <QObject>
#include <QString>

class QLineEdit;
class QMenu;
class QTimer;
class QWidget;

namespace views {
class TFileListView;
}

namespace app {

// Narrows the list to the groups with a file whose path holds the field's
// text, and, from the list's menu, to the groups with a file in one folder.
// The text is applied a moment after the typing stops, or at once on Enter.
class ListFilter : public QObject {
    Q_OBJECT
public:
    ListFilter(views::TFileListView& list, QWidget* window);

    QLineEdit* edtFilter;

    // Applies the field's text now.
    void apply();
    // Keeps only the groups with a file right in `folder`, or with `below`
    // anywhere in its tree; "" lets every folder in.
    void showFolder(const std::string& folder, bool below = false);
    void clear();
    // "Shown: 3 of 700 groups, 6 of 1,500 files"; "" without a filter.
    QString shownText() const;
    // Adds the folder choices for the row the list's menu was opened over.
    void addToMenu(QMenu& menu, int row);
    // Off while a search writes the list.
    void setEnabled(bool enabled);

protected:
    // Enter in the field applies the filter; it does not start a search.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // What is shown changed: the status bar recounts.
    void shownChanged();

private:
    views::TFileListView& m_list;
    QTimer* m_typing;
};

}  // namespace app
