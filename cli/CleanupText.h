// The texts gemmora-cli writes for a cleanup: plans and reports as a list, paths or JSON.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "cleanup/Undo.h"

namespace cli {

// What a plan or a report is about, for its heading.
struct CleanupContext {
    cleanup::Action action;
    std::vector<std::string> rules;  // as described by describeRule
    std::string journal;             // "" for a dry run
};

// The texts gemmora-cli writes for a cleanup, in the list, paths or json
// format. `null` ends each path of the paths format with a zero byte. A
// path holding a line break cannot be a line of the list or paths format:
// it is left out, and `leftOut` receives how many were.
std::string planText(const cleanup::Plan& plan, const CleanupContext& context,
                     const std::string& format, bool null, std::size_t& leftOut);
std::string reportText(const cleanup::Plan& plan, const cleanup::Report& report,
                       const CleanupContext& context, const std::string& format, bool null,
                       std::size_t& leftOut);
std::string undoText(const cleanup::UndoReport& report, const std::string& journal,
                     const std::string& format, bool null, std::size_t& leftOut);

// The word of the list format for what became of a file.
std::string outcomeWord(const cleanup::FileResult& result, cleanup::ActionKind action);
std::string undoWord(cleanup::UndoItem::Status status);

}  // namespace cli
