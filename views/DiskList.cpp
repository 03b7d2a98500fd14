// The drive chooser: one row per drive, ticked or selected.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/DiskList.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QPainter>
#include <QSaveFile>
#include <QStyle>

#include "text/Text.h"

namespace views {

namespace {

constexpr int kPrefixRole = Qt::UserRole + 1;
constexpr int kTypeRole = Qt::UserRole + 2;
// The caption holds a label the user chose, such as "Photos :)" or
// "x (a:)", so the letter is kept beside it rather than read back out.
constexpr int kLetterRole = Qt::UserRole + 3;

}  // namespace

TDiskListView::TDiskListView(QWidget* owner) : QTreeWidget(owner)
{
    setColumnCount(1);
    setHeaderLabels({tr("Select drives")});
    setAccessibleName(tr("Drives"));
    setAccessibleDescription(tr("The drives to search. The fixed drives are chosen at start; "
                                "Ctrl or Shift chooses more than one."));
    header()->setSectionsClickable(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setRootIsDecorated(false);
    setIconSize(QSize(16, 16));
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_checkboxes && !m_refreshing) {
            emit changed();
        }
    });
    connect(this, &QTreeWidget::itemChanged, this, [this] {
        if (m_checkboxes && !m_refreshing) {
            emit changed();
        }
    });
}

void TDiskListView::setCheckboxes(bool on)
{
    m_checkboxes = on;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = topLevelItem(i);
        if (on) {
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(0, Qt::Unchecked);
        } else {
            row->setData(0, Qt::CheckStateRole, QVariant());
        }
    }
}

QPixmap TDiskListView::pictureFor(platform::DriveType type) const
{
    QStyle::StandardPixmap icon = QStyle::SP_DriveHDIcon;
    switch (type) {
    case platform::DriveType::Removable:
        icon = QStyle::SP_DriveFDIcon;
        break;
    case platform::DriveType::Remote:
        icon = QStyle::SP_DriveNetIcon;
        break;
    case platform::DriveType::CdRom:
        icon = QStyle::SP_DriveCDIcon;
        break;
    case platform::DriveType::Fixed:
        break;
    }
    QPixmap picture(16, 16);
    picture.fill(palette().color(QPalette::Base));
    QPainter painter(&picture);
    style()->standardIcon(icon, nullptr, this).paint(&painter, QRect(0, 0, 16, 16));
    return picture;
}

void TDiskListView::RefreshDrives()
{
    RefreshDrives(platform::systemDrives());
}

void TDiskListView::RefreshDrives(const std::vector<platform::Drive>& drives)
{
    m_refreshing = true;
    setUpdatesEnabled(false);
    clear();
    for (const platform::Drive& drive : drives) {
        auto* row = new QTreeWidgetItem(this);
        row->setText(0, QString::fromStdString(text::displayUtf8(drive.caption())));
        row->setIcon(0, QIcon(pictureFor(drive.type)));
        row->setData(0, kPrefixRole, QByteArray::fromStdString(drive.prefix));
        row->setData(0, kTypeRole, static_cast<int>(drive.type));
        row->setData(0, kLetterRole, QChar(drive.letter));
        if (m_checkboxes) {
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(0, Qt::Unchecked);
        }
        if (drive.type == platform::DriveType::Fixed && SelectLocalDrives) {
            setChosen(row, true);
        }
    }
    setUpdatesEnabled(true);
    m_refreshing = false;
    emit changed();
}

bool TDiskListView::isChosen(const QTreeWidgetItem* row) const
{
    return m_checkboxes ? row->checkState(0) == Qt::Checked : row->isSelected();
}

void TDiskListView::setChosen(QTreeWidgetItem* row, bool chosen)
{
    if (m_checkboxes) {
        row->setCheckState(0, chosen ? Qt::Checked : Qt::Unchecked);
    } else {
        row->setSelected(chosen);
    }
}

char TDiskListView::letterOf(const QTreeWidgetItem* row)
{
    const QChar letter = row->data(0, kLetterRole).toChar();
    return letter.unicode() > 0x20 && letter.unicode() < 0x7F ? static_cast<char>(letter.unicode())
                                                              : ' ';
}

char TDiskListView::DriveLetterOf(const QString& caption)
{
    const int close = caption.indexOf(":)");
    if (!caption.contains(" (") || close < 1) {
        return ' ';
    }
    const QChar letter = caption[close - 1];
    if (letter.unicode() > 0x7F) {
        return ' ';
    }
    return text::upperAscii(static_cast<char>(letter.unicode()));
}

std::string TDiskListView::SelectedDrives() const
{
    std::string letters;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (isChosen(topLevelItem(i))) {
            letters += letterOf(topLevelItem(i));
        }
    }
    return letters;
}

void TDiskListView::setSelectedDrives(const std::string& letters)
{
    const std::string wanted = text::upperCase(letters);
    setUpdatesEnabled(false);
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = topLevelItem(i);
        setChosen(row, wanted.find(letterOf(row)) != std::string::npos);
    }
    setUpdatesEnabled(true);
}

std::vector<search::SearchDrive> TDiskListView::selectedSearchDrives() const
{
    std::vector<search::SearchDrive> drives;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = topLevelItem(i);
        const char letter = letterOf(row);
        // A row without a letter names no place to search.
        if (isChosen(row) && letter != ' ') {
            drives.push_back(
                {letter, row->data(0, kPrefixRole).toByteArray().toStdString(), false});
        }
    }
    return drives;
}

QString TDiskListView::SaveToFile(const QString& fileName) const
{
    char bytes[26] = {};
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const char letter = letterOf(topLevelItem(i));
        if (letter >= 'A' && letter <= 'Z' && isChosen(topLevelItem(i))) {
            bytes[letter - 'A'] = 1;
        }
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes, sizeof bytes) != sizeof bytes ||
        !file.commit()) {
        return file.errorString();
    }
    return QString();
}

QString TDiskListView::LoadFromFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    const QByteArray bytes = file.read(26);
    if (bytes.size() < 26) {
        return QStringLiteral("Read beyond end of file");
    }
    setUpdatesEnabled(false);
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = topLevelItem(i);
        const char letter = letterOf(row);
        if (letter >= 'A' && letter <= 'Z') {
            setChosen(row, bytes[letter - 'A'] != 0);
        }
    }
    setUpdatesEnabled(true);
    return QString();
}

}  // namespace views
