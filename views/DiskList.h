// The drive chooser: one row per drive, ticked or selected.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QTreeWidget>

#include "platform/Mounts.h"
#include "search/SearchWindow.h"

namespace views {

// The drive chooser: one row per drive, captioned with its label or mount
// path and its letter, such as "/home (D:)". The choice is a row's tick when
// Checkboxes is on, else its selection.
class TDiskListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TDiskListView(QWidget* owner = nullptr);

    bool SelectLocalDrives = true;
    bool Checkboxes() const { return m_checkboxes; }
    void setCheckboxes(bool on);

    // Rebuilds the rows from the machine's drives; the fixed drives are
    // chosen when SelectLocalDrives is on.
    void RefreshDrives();
    void RefreshDrives(const std::vector<platform::Drive>& drives);

    // The letters of the chosen rows in row order; a row whose drive has no
    // letter gives a blank.
    std::string SelectedDrives() const;
    void setSelectedDrives(const std::string& letters);
    // The chosen drives with their path prefixes, for a search run.
    std::vector<search::SearchDrive> selectedSearchDrives() const;

    // The character before the first ":)" when the caption also holds " (",
    // in upper case; else a blank.
    static char DriveLetterOf(const QString& caption);
    // The letter of a row's drive, kept with the row when it was listed; a
    // blank for a drive without one.
    static char letterOf(const QTreeWidgetItem* row);

    // The choice as 26 bytes, one per letter. "" on success, else the error
    // text; a file shorter than 26 bytes gives "Read beyond end of file" and
    // leaves the choice as it was.
    QString SaveToFile(const QString& fileName) const;
    QString LoadFromFile(const QString& fileName);

    bool isChosen(const QTreeWidgetItem* row) const;
    void setChosen(QTreeWidgetItem* row, bool chosen);

signals:
    // Every change of the choice.
    void changed();

private:
    QPixmap pictureFor(platform::DriveType type) const;

    bool m_checkboxes = false;
    bool m_refreshing = false;
};

}  // namespace views
