// The words of the window's cleanup: its questions, its reports and its notes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QString>

#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "cleanup/Undo.h"

class QWidget;

namespace app::texts {

// A path's bytes as a person reads them.
QString display(std::string_view bytes);
// A count in the locale's digits: "12,345".
QString count(std::int64_t value);
// "1 file", "12 files".
QString files(std::int64_t value);
// "1 byte", "12 bytes".
QString bytes(std::int64_t value);
// The bytes, and past a megabyte the size as a person says it.
QString size(std::int64_t value);
// "1 file was" or "12 files were", to begin a sentence.
QString filesWere(std::int64_t value);
// "1 group", "12 groups".
QString groups(std::int64_t value);
QString cleanupTitle();

// A question with Yes and No; `safe` makes No the default and shows a warning.
bool ask(QWidget* parent, const QString& title, const QString& text, bool safe);

// What an action does, in the words of the question before it and the
// report after it.
QString doing(const cleanup::Action& action);
// The question before acting on `marked` files of `total` bytes.
QString question(const cleanup::Action& action, std::int64_t marked, std::int64_t total,
                 std::int64_t groupCount);
// What the files acted on became: "moved to the trash", ...
QString doneWords(const cleanup::Action& action);
// The keep rules a list's menu offers, with their menu texts.
std::vector<std::pair<QString, cleanup::KeepRule::Kind>> keepRuleChoices();
// The file a rule keeps: "the oldest", ...
QString ruleWords(const cleanup::KeepRule& rule);
// What becomes of `whole` groups whose every file is marked: Yes keeps a file of each.
QString wholeGroupsQuestion(std::int64_t whole);
// A few lines of "path: reason", the rest counted.
QString reasonLines(const std::vector<std::pair<std::string, std::string>>& reasons);
// A local time as the journal writes it, as a person reads it.
QString whenText(const std::string& journalTime);

// The report of a run: its summary, the files left untouched or done with a
// remark, and where its journal is.
QString runSummary(const cleanup::Plan& plan, const cleanup::Report& report,
                   const cleanup::Action& action);
QString runDetails(const cleanup::Plan& plan, const cleanup::Report& report);
QString runJournal(const cleanup::Action& action, const std::string& journal);

// The report of an undo: its summary and the files not put back.
QString undoSummary(const cleanup::UndoReport& report);
QString undoDetails(const cleanup::UndoReport& report);

}  // namespace app::texts
