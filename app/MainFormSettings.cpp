// The main window's settings: the search rules in their controls, and the window's place and columns.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QMessageBox>
#include <QTimer>

#include "app/MainForm.h"

namespace app {

namespace {

// The keys of the window's place and its columns, beside the search settings.
constexpr char kGeometryKey[] = "WindowGeometry";
constexpr char kColumnsKey[] = "ColumnWidths";

// Puts each loaded value into its control as it comes.
class ControlTarget : public settings::SettingsTarget {
public:
    explicit ControlTarget(TfrmMain& form) : m_form(form) {}
    void setText(const std::string& name, const std::string& value) override
    {
        const QString text = QString::fromStdString(value);
        if (name == "FoldersToIgnore") {
            m_form.edtSkipFolder->setText(text);
        } else if (name == "FileMask") {
            m_form.edtFileMask->setText(text);
        } else if (name == "RootFolder") {
            m_form.edtRootDir->setText(text);
        }
    }
    void setFlag(const std::string& name, bool value) override
    {
        if (name == "FloppyIsMaster") {
            m_form.chkFloppyIsMaster->setChecked(value);
        } else if (name == "SkipSysbckupFolder") {
            m_form.chkSkipSysbckup->setChecked(value);
        } else if (name == "CheckFileStamp") {
            m_form.chkCheckFileTimestamp->setChecked(value);
        } else if (name == "CheckFileName") {
            m_form.chkCheckFilename->setChecked(value);
        } else if (name == "CheckFileSize") {
            m_form.chkCheckFilesize->setChecked(value);
        } else if (name == "SkipEmptyFiles") {
            m_form.chkSkipEmptyFiles->setChecked(value);
        } else if (name == "SkipDesktopFolders") {
            m_form.chkSkipDesktopFolders->setChecked(value);
        } else if (name == "SkipTrashFolders") {
            m_form.chkSkipTrashFolders->setChecked(value);
        } else if (name == "UseCache") {
            m_form.chkUseCache->setChecked(value);
        } else if (name == "IncludeHiddenFolders") {
            m_form.chkIncludeHiddenFolders->setChecked(value);
        }
    }

private:
    TfrmMain& m_form;
};

}  // namespace

void TfrmMain::LoadSettings()
{
    m_settingsStore = std::make_unique<QSettingsStore>();
    ControlTarget target(*this);
    const std::string wrongTypes = settings::LoadSettings(*m_settingsStore, target);
    if (!wrongTypes.empty()) {
        // The defaults stand; the user learns why once the window is up.
        QTimer::singleShot(0, this, [this, wrongTypes] {
            QMessageBox::warning(
                this, tr("Gemmora"),
                tr("Invalid data type for '%1'").arg(QString::fromStdString(wrongTypes)));
        });
    }
}

settings::SearchOptions TfrmMain::currentOptions() const
{
    settings::SearchOptions options;
    options.FoldersToIgnore = edtSkipFolder->text().toStdString();
    options.FileMask = edtFileMask->text().toStdString();
    options.RootFolder = edtRootDir->text().toStdString();
    options.FloppyIsMaster = chkFloppyIsMaster->isChecked();
    options.SkipSysbckupFolder = chkSkipSysbckup->isChecked();
    options.CheckFileStamp = chkCheckFileTimestamp->isChecked();
    options.CheckFileName = chkCheckFilename->isChecked();
    options.CheckFileSize = chkCheckFilesize->isChecked();
    options.SkipEmptyFiles = chkSkipEmptyFiles->isChecked();
    options.SkipDesktopFolders = chkSkipDesktopFolders->isChecked();
    options.SkipTrashFolders = chkSkipTrashFolders->isChecked();
    options.IncludeHiddenFolders = chkIncludeHiddenFolders->isChecked();
    options.UseCache = chkUseCache->isChecked();
    return options;
}

bool TfrmMain::SaveSettings()
{
    if (!m_settingsStore) {
        m_settingsStore = std::make_unique<QSettingsStore>();
    }
    std::string error = settings::SaveSettings(*m_settingsStore, currentOptions());
    if (error.empty() && !saveWindowPlace()) {
        error = "Failed to set data for '" + std::string(kGeometryKey) + "'";
    }
    if (!error.empty()) {
        QMessageBox::critical(this, tr("Gemmora"), QString::fromStdString(error));
        return false;
    }
    return true;
}


void TfrmMain::restoreWindowPlace()
{
    std::string text;
    if (m_settingsStore->read(kGeometryKey, text) == settings::SettingsStore::ReadStatus::Text) {
        // Qt keeps it within the screens there are now.
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(text)));
    }
    m_rememberedColumns.clear();
    if (m_settingsStore->read(kColumnsKey, text) == settings::SettingsStore::ReadStatus::Text) {
        for (const QString& item : QString::fromStdString(text).split(',')) {
            bool number = false;
            const int width = item.toInt(&number);
            if (!number || width < 0 || width > 100000) {
                m_rememberedColumns.clear();
                break;
            }
            m_rememberedColumns.push_back(width);
        }
    }
    restoreColumnWidths();
}

void TfrmMain::restoreColumnWidths()
{
    if (m_rememberedColumns.size() != views::FileListModel::kColumnCount) {
        return;
    }
    for (int column = 0; column < views::FileListModel::kColumnCount; ++column) {
        FileListView1->setColumnWidth(column, m_rememberedColumns[static_cast<std::size_t>(column)]);
    }
}

bool TfrmMain::saveWindowPlace()
{
    QStringList widths;
    for (int column = 0; column < views::FileListModel::kColumnCount; ++column) {
        widths << QString::number(FileListView1->columnWidth(column));
    }
    return m_settingsStore->write(kGeometryKey, saveGeometry().toBase64().toStdString()) &&
           m_settingsStore->write(kColumnsKey, widths.join(',').toStdString());
}

}  // namespace app
