// The dialog that shows one file's properties, read afresh at every show.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace review {

// Shows the properties of one file, read afresh at every show: name, type,
// folder, sizes, times, attributes and version items. It changes nothing on
// disk and keeps nothing between two shows.
class TfrmFileProperties : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFileProperties(QWidget* parent = nullptr);

    // The exact bytes of the file's path; set before each show.
    std::string FileName;

    struct Attributes {
        bool readOnly = false;
        bool hidden = false;
        bool system = false;
        bool archive = false;
        bool compressed = false;
    };
    // The flags found at show time; the check boxes always show these.
    Attributes RecordedAttributes;
    // Values of the items in lbxNames, row for row.
    std::vector<std::string> ItemValues;

    QTabWidget* PageControl1;
    QWidget* tabGeneral;
    QWidget* tabVersion;
    QLabel* Image1;
    QLabel* lblName;
    QLabel* lblType;
    QLabel* lblLocation;
    QLabel* lblSize;
    QLabel* lblCompressedSizeCaption;
    QLabel* lblCompressedSize;
    QLabel* lblDOSName;
    QLabel* lblCreated;
    QLabel* lblModified;
    QLabel* lblAccessed;
    QCheckBox* chkReadOnly;
    QCheckBox* chkArchive;
    QCheckBox* chkHidden;
    QCheckBox* chkSystem;
    QCheckBox* chkCompressed;
    QLabel* lblFileVersion;
    QLabel* lblFileDescription;
    QLabel* lblLegalCopyright;
    QListWidget* lbxNames;
    QPlainTextEdit* memValues;
    QPushButton* btnOK;
    QLabel* pnlError;
    // The row of buttons at the bottom, OK at its right.
    QHBoxLayout* buttonRow;

    // Reads the file and fills every control; runs at every show.
    void fill();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // The close box and Escape end the dialog with 2.
    void reject() override { done(2); }

private:
    // The parts of the dialog, built in this order by the constructor.
    void buildGeneralPage();
    void buildVersionPage();
    void buildErrorAndButtons();
    void connectControls();
    void reset();
    void restoreAttributes();
};

}  // namespace review
