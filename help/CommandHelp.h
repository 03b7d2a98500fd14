// A program's options once, turned into --help text, a manual page and a bash completion.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace help {

// What the shell offers when the user presses Tab at an option's value.
enum class ValueCompletion {
    None,    // free text, such as a mask: nothing to offer
    Folder,  // folder names
    File,    // file and folder names
    Words,   // the blank-separated words of OptionHelp::words
};

// One option as --help, the manual page and the shell completion show it.
struct OptionHelp {
    // Every spelling, short before long: {"-0", "--null"}. Two spellings
    // that are opposites may share an entry: {"--same-time", "--any-time"}.
    std::vector<std::string> names{};
    // The value's name as the user sees it ("FILE", "list|paths"); empty
    // when the option takes no value.
    std::string value{};
    // One paragraph; --help wraps it, the manual page fills it.
    std::string text{};
    ValueCompletion completion = ValueCompletion::None;
    // With ValueCompletion::Words: the values. A word ending in ':' is a
    // prefix followed by a folder, as in "move:" for move:DIR.
    std::string words{};
};

struct ExitStatus {
    int code = 0;
    std::string meaning{};
};

// Everything a program says about how it is called. The program's --help
// and its manual page are both made from this, so they cannot disagree.
struct CommandHelp {
    std::string program{};    // "gemmora-cli"
    std::string arguments{};  // "[OPTIONS] FOLDER..."
    // The paragraphs between the usage line and the options, one a string.
    std::vector<std::string> summary{};
    std::vector<OptionHelp> options{};
    std::vector<ExitStatus> exitStatuses{};
    // Paragraphs after the exit statuses.
    std::vector<std::string> closing{};
};

// The text of --help: usage line, summary, options, exit statuses and
// closing, wrapped to 79 columns.
std::string usageText(const CommandHelp& help);

// Every spelling of every option, in the order of the list.
std::vector<std::string> optionNames(const CommandHelp& help);

// The manual page: the template with each of these markers replaced by the
// roff text of its part: @PROGRAM@, @ARGUMENTS@, @SUMMARY@, @OPTIONS@,
// @EXIT_STATUS@, @CLOSING@, @VERSION@ and @DATE@. `error` names a marker
// that is misspelt or missing; the result is then empty.
std::string manualPage(const CommandHelp& help, const std::string& pageTemplate,
                       const std::string& version, const std::string& date, std::string& error);

// The bash completion script: the template with @OPTIONS@ replaced by the
// option names and @VALUE_CASES@ by one case arm per option that takes a
// value.
std::string completionScript(const CommandHelp& help, const std::string& scriptTemplate,
                             std::string& error);

// A plain sentence as roff text: backslashes escaped, option names in bold
// with real minus signs, the `placeholders` (FOLDER, FILE) in italics, and
// a line that would begin with a control character made safe.
std::string roffText(const std::string& text, const std::vector<std::string>& placeholders = {});

}  // namespace help
