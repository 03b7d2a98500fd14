// The main window's status bar: the designed four panels and the panels added beside them.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusBar.h"

#include <algorithm>

#include <QPainter>

namespace app {

namespace {

constexpr int kPanelWidths[3] = {150, 110, 75};

// A status bar panel that, given less room than its text needs, shows its
// brief form (the "brief" property) where that fits, and else ends the text
// with "..."; the whole text stays its text and its tooltip.
class ElidingPanel : public QLabel {
public:
    explicit ElidingPanel(QWidget* parent) : QLabel(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect room = contentsRect().adjusted(indent(), 0, 0, 0);
        QString shown = text();
        const QString brief = property("brief").toString();
        if (fontMetrics().horizontalAdvance(shown) > room.width() && !brief.isEmpty()) {
            shown = brief;
        }
        shown = fontMetrics().elidedText(shown, Qt::ElideRight, room.width());
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
};

}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    for (QLabel*& label : m_panels) {
        label = new QLabel(this);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setIndent(2);
    }
    m_panels[1]->setText(tr("Bytes:"));
    m_panels[2]->setText(tr("Files:"));
    m_groups = new ElidingPanel(this);
    m_groups->setFrameShape(QFrame::Panel);
    m_groups->setFrameShadow(QFrame::Sunken);
    m_groups->setIndent(2);
    m_groups->setText(tr("Groups:"));
    m_panels[1]->setToolTip(
        tr("Bytes: the space the listed copies take beyond one file of each group, "
           "which removing them would give back"));
    m_panels[2]->setToolTip(tr("Files: the listed copies beyond one file of each group"));
    m_groups->setToolTip(tr("Groups: the groups of identical files listed"));
    m_panels[1]->setAccessibleName(tr("Bytes"));
    m_panels[2]->setAccessibleName(tr("Files"));
    m_groups->setAccessibleName(tr("Groups"));
}

int TStatusBar::panelWidth(int index) const
{
    // The designed widths, wider where a text needs more: the phase's words
    // are read whole, and a long total is not clipped.
    if (index < 3) {
        return std::max(kPanelWidths[index], m_panels[index]->sizeHint().width() + 6);
    }
    return std::max(50, width() - designedWidth() - addedWidth());
}

int TStatusBar::groupsWidth(bool brief) const
{
    if (brief) {
        // The number alone; the tooltip says what it counts.
        return m_groups->fontMetrics().horizontalAdvance(m_groups->property("brief").toString()) +
               m_groups->indent() + 2 * m_groups->frameWidth() + 4;
    }
    return m_groups->sizeHint().width() + 6;
}

int TStatusBar::designedWidth() const
{
    return panelWidth(0) + panelWidth(1) + panelWidth(2) + groupsWidth();
}

void TStatusBar::setGroupsText(const QString& text, const QString& brief)
{
    const int before = groupsWidth();
    m_groups->setText(text);
    m_groups->setProperty("brief", brief);
    if (groupsWidth() != before) {
        resizeEvent(nullptr);
    }
}

int TStatusBar::panel3Least() const
{
    // "Scan complete" and the like stay readable; a long folder name may be
    // cut, as it is without added panels.
    return std::min(m_panels[3]->sizeHint().width() + 6, 130);
}

QLabel* TStatusBar::addPanel()
{
    auto* label = new ElidingPanel(this);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setIndent(2);
    label->hide();
    m_added.push_back(label);
    return label;
}

int TStatusBar::leastWidth(const QLabel* label)
{
    const QString brief = label->property("brief").toString();
    return brief.isEmpty() ? 40
                           : label->fontMetrics().horizontalAdvance(brief) + label->indent() +
                                 2 * label->frameWidth() + 6;
}

int TStatusBar::addedWidth() const
{
    int total = 0;
    for (const QLabel* label : m_added) {
        total += label->text().isEmpty() ? 0 : label->sizeHint().width() + 6;
    }
    return total;
}

void TStatusBar::setPanelText(int index, const QString& text)
{
    const int before = panelWidth(index);
    m_panels[index]->setText(text);
    if (index < 3 && panelWidth(index) != before) {
        resizeEvent(nullptr);
    }
}

void TStatusBar::setTrailing(QWidget* widget)
{
    m_trailing = widget;
    resizeEvent(nullptr);
}

void TStatusBar::resizeEvent(QResizeEvent*)
{
    const int trailing =
        m_trailing != nullptr && !m_trailing->isHidden() ? m_trailing->sizeHint().width() + 2 : 0;
    // Where the added panels do not fit beside panel 3's words, they give
    // way to their brief forms, and past those to "..." (the tooltip holds
    // the whole text).
    // In a bar crowded past the added panels' brief forms, the count of
    // groups gives way to its number too.
    int leastAdded = 0;
    for (const QLabel* label : m_added) {
        leastAdded += label->text().isEmpty() ? 0 : leastWidth(label);
    }
    const int room = width() - designedWidth() + groupsWidth() - panel3Least() - trailing -
                     leastAdded;
    // Past that it steps aside for the designed panels' words.
    const int groups = room >= groupsWidth()        ? groupsWidth()
                       : room >= groupsWidth(true) ? groupsWidth(true)
                                                   : 0;
    const int designed = designedWidth() - groupsWidth() + groups;
    int spare = width() - designed - panel3Least() - trailing;
    const bool crowded = addedWidth() > spare;
    std::vector<int> widths;
    int added = 0;
    for (QLabel* label : m_added) {
        int width = label->text().isEmpty() ? 0 : label->sizeHint().width() + 6;
        if (crowded && width > 0) {
            width = std::max(std::min(width, spare), leastWidth(label));
            spare -= width;
        }
        widths.push_back(width);
        added += width;
    }
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        const int panel = i < 3 ? panelWidth(i) : width() - designed - trailing - added;
        m_panels[i]->setGeometry(left, 0, std::max(10, panel - 2), height());
        left += std::max(10, panel);
        if (i == 2) {
            // The count of groups, beside the designed totals.
            m_groups->setVisible(groups > 0);
            m_groups->setGeometry(left, 0, std::max(0, groups - 2), height());
            left += groups;
        }
    }
    if (trailing > 0) {
        m_trailing->setGeometry(width() - trailing, 0, trailing, height());
    }
    for (std::size_t i = 0; i < m_added.size(); ++i) {
        QLabel* label = m_added[i];
        const bool shown = widths[i] > 0;
        if (shown) {
            label->setGeometry(left, 0, widths[i] - 2, height());
            label->setToolTip(widths[i] < label->sizeHint().width() + 6 ? label->text()
                                                                        : QString());
            left += widths[i];
        }
        label->setVisible(shown);
    }
}

}  // namespace app
