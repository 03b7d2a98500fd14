// The version reader as a window component that fills linked labels and a list.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QTreeWidget>

#include "versioninfo/VersionInfo.h"

namespace app {

// The version reader as a component of a window: it writes the version,
// copyright, product and description into linked labels and fills a linked
// two-column list with the items chosen in ShowResource.
class TVersionInfoResource : public QObject, public versioninfo::TVersionInfoResource {
    Q_OBJECT
public:
    explicit TVersionInfoResource(QObject* owner = nullptr);

    QLabel* VersionLabel() const { return m_versionLabel; }
    QLabel* CopyrightLabel() const { return m_copyrightLabel; }
    QLabel* ProductLabel() const { return m_productLabel; }
    QLabel* DescriptionLabel() const { return m_descriptionLabel; }
    QTreeWidget* VersionListView() const { return m_listView; }

    // Linking a label takes its item out of the list, so the list does not
    // repeat what the label shows. A link to a control that is destroyed
    // becomes none by itself.
    void setVersionLabel(QLabel* label);
    void setCopyrightLabel(QLabel* label);
    void setProductLabel(QLabel* label);
    void setDescriptionLabel(QLabel* label);
    void setVersionListView(QTreeWidget* list);

    void RefreshControls() override;
    void FillListView() override;

private:
    void linkLabel(QPointer<QLabel>& link, QLabel* label, versioninfo::TPreDef item);

    QPointer<QLabel> m_versionLabel;
    QPointer<QLabel> m_copyrightLabel;
    QPointer<QLabel> m_productLabel;
    QPointer<QLabel> m_descriptionLabel;
    QPointer<QTreeWidget> m_listView;
};

}  // namespace app
