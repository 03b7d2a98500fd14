// Fuzz target: plans, result lists and journals read back by a cleanup.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for what a cleanup reads back: a plan or a result list given
// to act on, and a journal given to undo. Any bytes parse without fault; a
// plan written out reads back as the same plan; every journal field written
// reads back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cleanup/Journal.h"
#include "cleanup/Plan.h"
#include "cleanup/PlanText.h"
#include "text/StringList.h"

namespace {

std::string planText(const cleanup::Plan& plan)
{
    std::size_t leftOut = 0;
    return text::linesText(cleanup::formatPlanLines(plan, leftOut));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    cleanup::ListContents contents;
    std::string error;
    if (cleanup::parseListText(text, contents, error) && contents.isPlan) {
        cleanup::checkPlan(contents.plan, error);
        const std::string once = planText(contents.plan);
        cleanup::ListContents again;
        if (!cleanup::parseListText(once, again, error) ||
            (!again.plan.groups.empty() && !again.isPlan) || planText(again.plan) != once) {
            std::abort();
        }
    }

    std::vector<std::vector<std::string>> lines;
    cleanup::parseJournal(text, lines, error);
    for (const std::vector<std::string>& fields : lines) {
        for (const std::string& field : fields) {
            std::string back;
            if (!cleanup::unescapeField(cleanup::escapeField(field), back) || back != field) {
                std::abort();
            }
        }
    }
    std::string field;
    if (text.find('\0') == std::string::npos &&
        (!cleanup::unescapeField(cleanup::escapeField(text), field) || field != text)) {
        std::abort();
    }
    return 0;
}
