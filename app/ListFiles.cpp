// Saves, opens and exports the result list when the user asks, and keeps the recent lists.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ListFiles.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>

#include "app/ListRows.h"
#include "platform/OutputFile.h"
#include "settings/ListExport.h"
#include "views/FileList.h"

namespace app {

namespace {

constexpr std::size_t kRecentLists = 8;

// The recent lists live in a file of their own, so the designed settings
// file keeps exactly its designed keys. Each path is kept as its bytes.
constexpr char kRecentFile[] = "Kelvarin recent lists";

QString shown(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string onDisk(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The groups of the list as the exports write them, in the order shown.
std::vector<settings::ExportGroup> groupsOf(const views::TFileListView& list)
{
    const views::FileListModel& rows = list.rows();
    std::vector<settings::ExportGroup> groups;
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.kind(row) == views::RowKind::Header) {
            groups.emplace_back();
        } else if (rows.kind(row) == views::RowKind::File && !groups.empty()) {
            settings::ExportFile file;
            file.path.assign(rows.caption(row));
            file.size = rows.sizeOf(row);
            file.hasModified = rows.hasModified(row);
            file.modified = rows.modifiedOf(row, 0);
            groups.back().files.push_back(std::move(file));
        }
    }
    std::erase_if(groups, [](const settings::ExportGroup& group) { return group.files.empty(); });
    return groups;
}

}  // namespace

ListFiles::ListFiles(views::TFileListView& list, QWidget* parent)
    : QObject(parent), m_list(list), m_parent(parent)
{
}

bool ListFiles::saveAs(const std::string& path, Format format)
{
    std::string text;
    switch (format) {
    case Format::List:
        text = settings::savedListText(ListRows(m_list));
        break;
    case Format::Csv:
        text = settings::listCsv(groupsOf(m_list));
        break;
    case Format::Json:
        text = settings::listJson(groupsOf(m_list));
        break;
    }
    platform::OutputFile out;
    if (!out.open(path) || !out.write(text) || !out.commit()) {
        const int error = errno;
        QMessageBox::critical(m_parent, tr("Gemmora"),
                              tr("The list cannot be written to\n%1\n\n%2")
                                  .arg(shown(path), QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    if (format == Format::List) {
        remember(path);
    }
    return true;
}

void ListFiles::open(const std::string& path)
{
    if (idle && !idle()) {
        return;
    }
    m_list.clearRows();
    remember(path);
    if (reload) {
        reload(path);
    }
}

QString ListFiles::askFile(bool saving, const QString& caption, const QString& filter,
                           const QString& name)
{
    // In the home folder rather than wherever the program was started from.
    const QString start = QDir::homePath() + '/' + name;
    return saving ? QFileDialog::getSaveFileName(m_parent, caption, start, filter)
                  : QFileDialog::getOpenFileName(m_parent, caption, QDir::homePath(), filter);
}

void ListFiles::chooseSaveAs()
{
    const QString path =
        askFile(true, tr("Save the list as"), tr("Lists of duplicates (*.lis);;All files (*)"),
                "duplicates.lis");
    if (!path.isEmpty()) {
        saveAs(onDisk(path), Format::List);
    }
}

void ListFiles::chooseOpen()
{
    if (idle && !idle()) {
        return;
    }
    const QString path =
        askFile(false, tr("Open a list"), tr("Lists of duplicates (*.lis);;All files (*)"), "");
    if (!path.isEmpty()) {
        open(onDisk(path));
    }
}

void ListFiles::chooseExport(Format format)
{
    const bool csv = format == Format::Csv;
    const QString path = askFile(true, csv ? tr("Export as CSV") : tr("Export as JSON"),
                                 csv ? tr("CSV files (*.csv);;All files (*)")
                                     : tr("JSON files (*.json);;All files (*)"),
                                 csv ? "duplicates.csv" : "duplicates.json");
    if (!path.isEmpty()) {
        saveAs(onDisk(path), format);
    }
}

std::vector<std::string> ListFiles::recent() const
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quarrendale",
                             kRecentFile);
    std::vector<std::string> lists;
    for (const QVariant& entry : settings.value("lists").toList()) {
        lists.push_back(entry.toByteArray().toStdString());
    }
    return lists;
}

void ListFiles::remember(const std::string& path)
{
    std::vector<std::string> lists = recent();
    std::erase(lists, path);
    lists.insert(lists.begin(), path);
    QVariantList entries;
    for (std::size_t i = 0; i < lists.size() && i < kRecentLists; ++i) {
        entries.append(QByteArray::fromStdString(lists[i]));
    }
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quarrendale", kRecentFile);
    settings.setValue("lists", entries);
}

void ListFiles::fillRecent(QMenu* menu)
{
    menu->clear();
    const std::vector<std::string> lists = recent();
    for (std::size_t i = 0; i < lists.size(); ++i) {
        QAction* action = menu->addAction(QString("&%1 %2").arg(i + 1).arg(shown(lists[i])));
        connect(action, &QAction::triggered, this, [this, path = lists[i]] { open(path); });
    }
    menu->setEnabled(!lists.empty());
}

}  // namespace app
