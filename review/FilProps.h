// The result list's properties dialog, with View and Delete.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "review/FileOpener.h"
#include "review/FileProp.h"
#include "review/SafeDelete.h"

namespace review {

// The properties dialog of the result list, with "View" and "Delete". It
// ends with 1 for "OK", 2 when closed or when the file still exists after
// "Delete", and 6 when "Delete" left no file at the path.
class TfrmFileProperties1 : public TfrmFileProperties {
    Q_OBJECT
public:
    explicit TfrmFileProperties1(QWidget* parent = nullptr);

    QPushButton* btnView;
    QPushButton* btnDelete;

    // Set by the caller before a show: the file's group, for "Delete" to
    // check whether the file is the last copy of its contents. Unset means
    // the file belongs to no group and is not asked about as one.
    std::function<platform::LastCopyQuery(const std::string& path)> lastCopyQuery;
    // Opens the file for "View" with the program the desktop associates
    // with it.
    FileOpener* opener;

    void btnViewClick();
    void btnDeleteClick();
    // Nothing could open `path`: says so, and greys "View" while the
    // dialog still shows that file.
    void viewFailed(const QByteArray& path, const QString& reason);

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace review
