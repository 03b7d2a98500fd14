// The main window's status bar: the designed four panels and the panels added beside them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include <QLabel>
#include <QWidget>

namespace app {

// The status bar: four panels, the progress bar laid over the first while a
// long step runs.
class TStatusBar : public QWidget {
public:
    explicit TStatusBar(QWidget* parent);
    QLabel* panel(int index) const { return m_panels[index]; }
    // "Groups:" and the number of groups listed, right of panel 2; in a
    // crowded bar it shows its brief form (the number alone).
    QLabel* groupsPanel() const { return m_groups; }
    void setGroupsText(const QString& text, const QString& brief);
    int panelWidth(int index) const;
    // Sets a panel's text; panels 0 to 2 widen past their designed width
    // rather than clip a long total.
    void setPanelText(int index, const QString& text);
    // A widget at the right end, after panel 3 and the added panels, while
    // it is shown.
    void setTrailing(QWidget* widget);
    // A panel after the designed four, at the right end: as wide as its text,
    // and hidden while it has none. Panel 3 gives it the room, so the
    // designed panels keep their places and meaning. Call layoutPanels()
    // after changing its text.
    QLabel* addPanel();
    void layoutPanels() { resizeEvent(nullptr); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int addedWidth() const;
    // The least an added panel takes in a crowded bar: its brief form, or
    // room for "...".
    static int leastWidth(const QLabel* label);
    int groupsWidth(bool brief = false) const;
    // Panels 0 to 2 and the groups panel.
    int designedWidth() const;
    // The least panel 3 keeps beside added panels.
    int panel3Least() const;

    QLabel* m_panels[4];
    QLabel* m_groups;
    QWidget* m_trailing = nullptr;
    std::vector<QLabel*> m_added;
};

}  // namespace app
