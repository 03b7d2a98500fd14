// The window's cleanup of whole folders: the plan, the question, the run on a helper thread, the report, undo.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "cleanup/FolderPlan.h"

class QWidget;

namespace app {

// Trashes or moves the folders the user marked, through the folder cleanup
// engine: each file is compared with its copy outside right before, the
// folder is taken away whole and checked again, and a folder holding
// anything the plan does not account for stays as it is. The window asks
// once, shows the progress with Cancel, and reports every folder left
// alone with why.
// A folder a cleanup took away, and the folder of its group that stayed
// ("" for a contained folder).
struct GoneFolder {
    std::string path;
    std::string keptFolder;
};

class FolderCleanup : public QObject {
    Q_OBJECT
public:
    explicit FolderCleanup(QWidget* window);

    // The searched folders, each ending with '/', and where journals go.
    std::vector<std::string> roots;
    std::string journalFolder;

    // Acts on the `marked` folders of `result`, found by `finder`: asks (and
    // for a move, where to), runs, reports. The folders that went.
    std::vector<GoneFolder> act(const folders::FolderFinder& finder,
                                const folders::FolderResult& result,
                                const std::vector<std::string>& marked, cleanup::ActionKind kind);
    bool canUndo() const { return !m_lastJournal.empty() && !m_busy; }
    // Puts back what the last folder cleanup of this session took away.
    void undoLast();
    bool busy() const { return m_busy; }

private:
    std::vector<GoneFolder> planAndRun(const folders::FolderFinder& finder,
                                       const folders::FolderResult& result,
                                       const std::vector<std::string>& marked,
                                       cleanup::ActionKind kind);
    bool confirm(const cleanup::FolderPlan& plan, const cleanup::Action& action);
    cleanup::FolderReport run(const cleanup::FolderPlan& plan, const cleanup::Action& action,
                              cleanup::Journal& journal);
    void report(const cleanup::FolderPlan& plan, const cleanup::FolderReport& report,
                const cleanup::Action& action);
    void message(const QString& text, bool warning = false, const QString& details = {});

    QWidget* m_window;
    std::string m_lastJournal;
    std::atomic<bool> m_stop{false};
    bool m_busy = false;
};

}  // namespace app
