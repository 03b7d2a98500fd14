// The version reader as a window component that fills linked labels and a list.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VersInfo.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace app {

using namespace versioninfo;

TVersionInfoResource::TVersionInfoResource(QObject* owner) : QObject(owner) {}

void TVersionInfoResource::linkLabel(QPointer<QLabel>& link, QLabel* label, TPreDef item)
{
    link = label;
    if (label != nullptr) {
        m_showResource = static_cast<TPreDefs>(m_showResource & ~preDefBit(item));
        RefreshControls();
    }
}

void TVersionInfoResource::setVersionLabel(QLabel* label)
{
    linkLabel(m_versionLabel, label, pdFileVersion);
}

void TVersionInfoResource::setCopyrightLabel(QLabel* label)
{
    linkLabel(m_copyrightLabel, label, pdLegalCopyright);
}

void TVersionInfoResource::setProductLabel(QLabel* label)
{
    linkLabel(m_productLabel, label, pdProductName);
}

void TVersionInfoResource::setDescriptionLabel(QLabel* label)
{
    linkLabel(m_descriptionLabel, label, pdFileDescription);
}

void TVersionInfoResource::setVersionListView(QTreeWidget* list)
{
    m_listView = list;
    if (list != nullptr) {
        RefreshControls();
    }
}

void TVersionInfoResource::RefreshControls()
{
    if (loading()) {
        return;
    }
    if (m_versionLabel) {
        m_versionLabel->setText(QString::fromStdString(FileVersion.AsText()));
    }
    if (m_copyrightLabel) {
        m_copyrightLabel->setText(QString::fromStdString(GetPredefinedValue(pdLegalCopyright)));
    }
    if (m_productLabel) {
        m_productLabel->setText(QString::fromStdString(GetPredefinedValue(pdProductName)));
    }
    if (m_descriptionLabel) {
        m_descriptionLabel->setText(QString::fromStdString(GetPredefinedValue(pdFileDescription)));
    }
    if (m_listView) {
        FillListView();
    }
}

void TVersionInfoResource::FillListView()
{
    if (!m_listView) {
        return;
    }
    QTreeWidget* list = m_listView;
    list->clear();
    list->setColumnCount(2);
    list->setHeaderLabels({QCoreApplication::translate("TVersionInfoResource", "Resource"),
                           QCoreApplication::translate("TVersionInfoResource", "Value")});
    list->setRootIsDecorated(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setSectionsClickable(false);
    list->setSortingEnabled(false);

    const std::pair<TPreDef, std::string> rows[] = {
        {pdProductName, GetPredefinedValue(pdProductName)},
        {pdProductVersion, ProductVersion.AsText()},
        {pdCompanyName, GetPredefinedValue(pdCompanyName)},
        {pdLegalCopyright, GetPredefinedValue(pdLegalCopyright)},
        {pdLegalTrademarks, GetPredefinedValue(pdLegalTrademarks)},
        {pdFileDescription, GetPredefinedValue(pdFileDescription)},
        {pdFileVersion, FileVersion.AsText()},
        {pdInternalName, GetPredefinedValue(pdInternalName)},
        {pdOriginalFilename, GetPredefinedValue(pdOriginalFilename)},
        {pdBuildFlags, GetBuildFlagsText()},
        {pdComments, GetPredefinedValue(pdComments)},
    };
    for (const auto& [item, value] : rows) {
        if ((ShowResource() & preDefBit(item)) == 0 || value.empty()) {
            continue;
        }
        auto* row = new QTreeWidgetItem(list);
        row->setText(0, QCoreApplication::translate("TVersionInfoResource", preDefCaption(item)));
        row->setText(1, QString::fromStdString(value));
    }
    // Each column fits its header.
    for (int column = 0; column < 2; ++column) {
        list->header()->resizeSection(column, list->header()->sectionSizeHint(column));
    }
}

}  // namespace app
