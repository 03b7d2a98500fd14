// The steps gemmora-cli's file and folder cleanups share: choices, outputs, journal, progress.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "cli/CleanupCommand.h"
#include "cli/CleanupText.h"
#include "cli/CliWindow.h"
#include "text/Text.h"

namespace cli {

std::string currentFolder();
// Keep rules as the command line gives them, folders made absolute.
bool parseRules(const std::vector<std::string>& texts, std::vector<cleanup::KeepRule>& rules,
                std::string& error);
// Says the message on standard error; returns `status`.
int fail(const std::string& message, int status);
// Writes a result text as every result is written; 0 or the exit status.
int emit(const CleanupOutput& output, const std::string& text, std::size_t leftOut);
// The action and the keep rules the command line chose; 0, or the exit
// status of a choice refused.
int readChoices(const CleanupOptions& options, CleanupContext& context,
                std::vector<cleanup::KeepRule>& rules);
// Refuses an output or a journal that the run would write over, or among,
// the files it acts on.
bool checkOutputs(const CleanupOptions& options, const CleanupOutput& output,
                  const cleanup::Plan& plan, const cleanup::Action& action,
                  std::vector<std::string> folders, std::string& error);
// Opens the journal --journal names, or one of the run's own; false after
// saying why not.
bool openJournal(const CleanupOptions& options, cleanup::Journal& journal, std::string& path);
// Puts back what runs that were killed left away from its name below
// `folders`, and removes what they left beside, saying each.
void putBackKilledRuns(const std::vector<std::string>& folders);
// What every run that acts does first: its outputs checked against the
// files of its plan, what a killed run left behind removed, its journal
// opened. -1 when the run may go on, otherwise the exit status.
int startRun(const CleanupOptions& options, const CleanupOutput& output,
             const cleanup::Plan& files, CleanupContext& context,
             const std::vector<std::string>& folders, cleanup::Journal& journal);

// The progress line of a run on a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : m_shown(shown) {}
    ~ProgressLine() { finish(); }

    void show(const cleanup::Progress& progress)
    {
        if (!m_shown) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(200)) {
            return;
        }
        m_last = now;
        winsize size = {};
        std::size_t width = 80;
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
            width = size.ws_col;
        }
        std::string line = "Cleaning up " + std::to_string(progress.filesDone + 1) + " of " +
                           std::to_string(progress.filesToDo) + ": ";
        std::string name = text::displayName(progress.path);
        const std::size_t room = width > line.size() + 2 ? width - line.size() - 2 : 0;
        if (name.size() > room) {
            name = name.substr(name.size() - room);
            // Start at a whole character.
            while (!name.empty() && (static_cast<unsigned char>(name[0]) & 0xC0) == 0x80) {
                name.erase(0, 1);
            }
        }
        std::fprintf(stderr, "\r%s%s\x1b[K", line.c_str(), name.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    void finish()
    {
        if (m_drawn) {
            std::fprintf(stderr, "\r\x1b[K");
            std::fflush(stderr);
            m_drawn = false;
        }
    }

private:
    bool m_shown;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last;
};

// Runs a file or folder runner with the progress line and Ctrl+C as Stop;
// its report.
template <typename Runner>
auto runShowingProgress(Runner& runner, const CleanupOutput& output)
{
    ProgressLine line(!output.quiet && ::isatty(STDERR_FILENO) != 0);
    runner.onProgress = [&](const cleanup::Progress& progress) { line.show(progress); };
    runner.stopRequested = [] { return g_stopRequested != 0; };
    auto report = runner.run();
    line.finish();
    return report;
}

}  // namespace cli
