// The dialog that shows one file's properties, read afresh at every show.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/FileProp.h"

#include <QFileIconProvider>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMimeDatabase>
#include <QVBoxLayout>

#include "platform/FileProperties.h"
#include "platform/FolderListing.h"
#include "text/Text.h"
#include "versioninfo/VersionResource.h"
#include "views/FileList.h"
#include "views/FocusStyle.h"

namespace review {

namespace {

const char* const kLabelItems[] = {"LegalCopyright", "FileDescription", "FileVersion"};
const char* const kListItems[] = {"Comments",         "CompanyName", "InternalName",
                                  "OriginalFilename", "ProductName", "ProductVersion"};

QString text(const std::string& bytes)
{
    // Names and version texts alike: a file's own text may hold control characters.
    return QString::fromStdString(text::displayName(bytes));
}

QFrame* bevel()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* value()
{
    auto* label = new QLabel;
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

TfrmFileProperties::TfrmFileProperties(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    resize(369, 437);

    PageControl1 = new QTabWidget(this);
    tabGeneral = new QWidget;
    tabVersion = new QWidget;
    PageControl1->addTab(tabGeneral, tr("&General"));
    PageControl1->addTab(tabVersion, tr("V&ersion"));
    buildGeneralPage();
    buildVersionPage();
    buildErrorAndButtons();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(pnlError, 1);
    layout->addLayout(buttonRow);

    connectControls();
}

// The general page: the header, then type to size, then name and times,
// then the attributes, with a bevelled line between each part.
void TfrmFileProperties::buildGeneralPage()
{
    auto* general = new QGridLayout(tabGeneral);
    general->setColumnStretch(1, 1);
    Image1 = new QLabel;
    Image1->setFixedSize(32, 32);
    lblName = value();
    general->addWidget(Image1, 0, 0);
    general->addWidget(lblName, 0, 1, 1, 2);
    general->addWidget(bevel(), 1, 0, 1, 3);
    int row = 2;
    auto addRow = [&](const QString& caption, QLabel* field, QLabel** captionOut = nullptr) {
        auto* label = new QLabel(caption);
        general->addWidget(label, row, 0);
        general->addWidget(field, row, 1, 1, 2);
        if (captionOut != nullptr) {
            *captionOut = label;
        }
        ++row;
    };
    lblType = value();
    lblLocation = value();
    lblLocation->setWordWrap(true);
    lblSize = value();
    lblCompressedSize = value();
    addRow(tr("Type:"), lblType);
    addRow(tr("Location:"), lblLocation);
    addRow(tr("Size:"), lblSize);
    addRow(tr("Compressed Size: "), lblCompressedSize, &lblCompressedSizeCaption);
    general->addWidget(bevel(), row++, 0, 1, 3);
    lblDOSName = value();
    lblCreated = value();
    lblModified = value();
    lblAccessed = value();
    addRow(tr("MS-DOS name:"), lblDOSName);
    addRow(tr("Created:"), lblCreated);
    addRow(tr("Modified:"), lblModified);
    addRow(tr("Accessed:"), lblAccessed);
    general->addWidget(bevel(), row++, 0, 1, 3);
    chkReadOnly = new QCheckBox(tr("Read-only"));
    chkArchive = new QCheckBox(tr("Archive"));
    chkHidden = new QCheckBox(tr("Hidden"));
    chkSystem = new QCheckBox(tr("System"));
    chkCompressed = new QCheckBox(tr("Compressed"));
    general->addWidget(new QLabel(tr("Attributes:")), row, 0, Qt::AlignTop);
    general->addWidget(chkReadOnly, row, 1);
    general->addWidget(chkHidden, row, 2);
    general->addWidget(chkArchive, row + 1, 1);
    general->addWidget(chkSystem, row + 1, 2);
    general->addWidget(chkCompressed, row + 2, 1);
    general->setRowStretch(row + 3, 1);
}

// The version page: the three main items, then every other item in a list
// with its value beside it.
void TfrmFileProperties::buildVersionPage()
{
    auto* version = new QGridLayout(tabVersion);
    version->setColumnStretch(1, 1);
    lblFileVersion = value();
    lblFileDescription = value();
    lblFileDescription->setWordWrap(true);
    lblLegalCopyright = value();
    lblLegalCopyright->setWordWrap(true);
    version->addWidget(new QLabel(tr("File version:")), 0, 0);
    version->addWidget(lblFileVersion, 0, 1);
    version->addWidget(new QLabel(tr("Description:")), 1, 0);
    version->addWidget(lblFileDescription, 1, 1);
    version->addWidget(new QLabel(tr("Copyright:")), 2, 0);
    version->addWidget(lblLegalCopyright, 2, 1);
    auto* other = new QGroupBox(tr(" Other version information "));
    auto* otherLayout = new QGridLayout(other);
    lbxNames = new QListWidget;
    memValues = new QPlainTextEdit;
    memValues->setReadOnly(true);
    // The keys can select and copy a value too, and the cursor shows where
    // the focus is.
    memValues->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* namesCaption = new QLabel(tr("&Item name:"));
    auto* valueCaption = new QLabel(tr("V&alue:"));
    namesCaption->setBuddy(lbxNames);
    // A list takes no name from its label.
    lbxNames->setAccessibleName(tr("Item name"));
    valueCaption->setBuddy(memValues);
    otherLayout->addWidget(namesCaption, 0, 0);
    otherLayout->addWidget(valueCaption, 0, 1);
    otherLayout->addWidget(lbxNames, 1, 0);
    otherLayout->addWidget(memValues, 1, 1);
    otherLayout->setColumnStretch(0, 2);
    otherLayout->setColumnStretch(1, 3);
    version->addWidget(other, 3, 0, 1, 2);
    version->setRowStretch(3, 1);
}

// The panel that stands in for the pages when the file cannot be read, and
// the row with OK.
void TfrmFileProperties::buildErrorAndButtons()
{
    pnlError = new QLabel;
    pnlError->setAlignment(Qt::AlignCenter);
    pnlError->setWordWrap(true);
    pnlError->setFrameShape(QFrame::Panel);
    pnlError->setFrameShadow(QFrame::Sunken);
    pnlError->setMinimumHeight(80);
    pnlError->hide();

    btnOK = new QPushButton(tr("&OK"));
    btnOK->setDefault(true);
    views::showKeyboardFocus(btnOK);
    connect(btnOK, &QPushButton::clicked, this, [this] { done(1); });
    buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(btnOK);
}

// The check boxes only show, and the list of items picks the value shown.
void TfrmFileProperties::connectControls()
{
    for (QCheckBox* box : {chkReadOnly, chkArchive, chkHidden, chkSystem, chkCompressed}) {
        connect(box, &QCheckBox::clicked, this, [this] { restoreAttributes(); });
        box->setAccessibleDescription(tr("Shows whether the file has this attribute; the "
                                         "attributes cannot be changed here"));
    }
    connect(lbxNames, &QListWidget::currentRowChanged, this, [this](int index) {
        memValues->clear();
        if (index >= 0 && static_cast<std::size_t>(index) < ItemValues.size()) {
            // A memo: a version text may span lines.
            memValues->setPlainText(QString::fromStdString(
                text::displayUtf8(ItemValues[static_cast<std::size_t>(index)])));
        }
    });
}

void TfrmFileProperties::restoreAttributes()
{
    chkReadOnly->setChecked(RecordedAttributes.readOnly);
    chkHidden->setChecked(RecordedAttributes.hidden);
    chkSystem->setChecked(RecordedAttributes.system);
    chkArchive->setChecked(RecordedAttributes.archive);
    chkCompressed->setChecked(RecordedAttributes.compressed);
}

void TfrmFileProperties::showEvent(QShowEvent* event)
{
    fill();
    QDialog::showEvent(event);
}

void TfrmFileProperties::hideEvent(QHideEvent* event)
{
    ItemValues.clear();
    QDialog::hideEvent(event);
}

void TfrmFileProperties::reset()
{
    ItemValues.clear();
    PageControl1->setTabVisible(1, false);
    PageControl1->setCurrentIndex(0);
    lbxNames->clear();
    memValues->clear();
    lblFileVersion->clear();
    lblFileDescription->clear();
    lblLegalCopyright->clear();
    Image1->clear();
    for (QLabel* label : {lblName, lblType, lblLocation, lblSize, lblCompressedSize, lblDOSName,
                          lblCreated, lblModified, lblAccessed}) {
        label->clear();
    }
    lblLocation->setToolTip(QString());
    RecordedAttributes = Attributes();
    restoreAttributes();
}

void TfrmFileProperties::fill()
{
    reset();
    platform::FileProperties facts;
    if (!platform::gatherFileProperties(FileName, facts)) {
        PageControl1->hide();
        setWindowTitle(tr("Error - can't find this file"));
        pnlError->setText(text(FileName));
        pnlError->show();
        return;
    }
    PageControl1->show();
    pnlError->hide();
    const text::Locale& locale = views::TFileListView::processLocale();

    if (!facts.versionBlock.empty()) {
        PageControl1->setTabVisible(1, true);
        std::vector<std::uint8_t> table;
        if (versioninfo::queryTranslationTable(facts.versionBlock, table)) {
            const std::string code = versioninfo::TranslationCode(table);
            auto query = [&](const char* key) {
                std::string result;
                if (!code.empty()) {
                    versioninfo::queryString(facts.versionBlock,
                                             "\\StringFileInfo\\" + code + "\\" + key, result);
                }
                return result;
            };
            QLabel* labels[] = {lblLegalCopyright, lblFileDescription, lblFileVersion};
            for (std::size_t i = 0; i < 3; ++i) {
                labels[i]->setText(text(query(kLabelItems[i])));
            }
            for (const char* key : kListItems) {
                std::string item = query(key);
                if (!item.empty()) {
                    lbxNames->addItem(QString::fromLatin1(key));
                    ItemValues.push_back(std::move(item));
                }
            }
        }
    }

    const QString shownName = text(FileName);
    const QFileInfo info(shownName);
    Image1->setPixmap(QFileIconProvider().icon(info).pixmap(32, 32));
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(shownName, QMimeDatabase::MatchExtension);
    lblType->setText(!type.isDefault() && !type.comment().isEmpty()
                         ? type.comment()
                         : QString::fromStdString(platform::TypeText(FileName)));
    const QString location = text(std::string(platform::folderOf(FileName)));
    lblLocation->setText(location);
    lblLocation->setToolTip(location);
    lblName->setText(text(facts.longName));
    lblDOSName->setText(text(facts.shortName.empty() ? facts.longName : facts.shortName));
    setWindowTitle(text(facts.longName) + tr(" properties"));
    lblSize->setText(QString::fromStdString(platform::SizeText(facts.size, locale)));
    lblModified->setText(
        QString::fromStdString(platform::FileTimeText(facts.lastWriteTime, locale)));
    lblCreated->setText(QString::fromStdString(platform::FileTimeText(facts.creationTime, locale)));
    lblAccessed->setText(
        QString::fromStdString(platform::FileDateText(facts.lastAccessTime, locale)));

    RecordedAttributes.readOnly = (facts.attributes & platform::kAttrReadOnly) != 0;
    RecordedAttributes.hidden = (facts.attributes & platform::kAttrHidden) != 0;
    RecordedAttributes.system = (facts.attributes & platform::kAttrSystem) != 0;
    RecordedAttributes.archive = (facts.attributes & platform::kAttrArchive) != 0;
    RecordedAttributes.compressed = (facts.attributes & platform::kAttrCompressed) != 0;
    restoreAttributes();
    chkCompressed->setVisible(RecordedAttributes.compressed);
    lblCompressedSize->hide();
    lblCompressedSizeCaption->hide();
    if (RecordedAttributes.compressed && facts.hasCompressedSize) {
        lblCompressedSize->setText(
            QString::fromStdString(platform::CompressedSizeText(facts.compressedSize, locale)));
        lblCompressedSize->show();
        lblCompressedSizeCaption->show();
    }
}

}  // namespace review
