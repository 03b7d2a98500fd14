// Saving, opening and exporting the result list on demand, and the recent lists.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QObject>

class QMenu;
class QWidget;

namespace views {
class TFileListView;
}

namespace app {

// What the File menu does with lists. Each choice asks for a file and then
// calls the function of the same name, which tests call directly. A list
// saved or opened goes to the top of the recent lists, kept in the settings.
class ListFiles : public QObject {
    Q_OBJECT
public:
    ListFiles(views::TFileListView& list, QWidget* parent);

    // Reads a saved list into the list, as the designed reload does.
    std::function<void(const std::string& path)> reload;
    // Whether the list may change now (no search or cleanup running).
    std::function<bool()> idle;

    enum class Format { List, Csv, Json };
    // Writes the list; false, after telling the user why, when it cannot.
    bool saveAs(const std::string& path, Format format);
    // Empties the list and reads the saved list at `path` into it.
    void open(const std::string& path);

    void chooseSaveAs();
    void chooseOpen();
    void chooseExport(Format format);
    // Fills the menu with the recent lists, newest first.
    void fillRecent(QMenu* menu);
    std::vector<std::string> recent() const;

private:
    void remember(const std::string& path);
    QString askFile(bool saving, const QString& caption, const QString& filter,
                    const QString& name);

    views::TFileListView& m_list;
    QWidget* m_parent;
};

}  // namespace app
