// A program's options once, turned into --help text, a manual page and a bash completion.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/CommandHelp.h"

#include <cctype>

namespace help {

namespace {

constexpr std::size_t kWidth = 79;
constexpr std::size_t kTextColumn = 28;

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::string word;
    for (const char c : text) {
        if (c == ' ' || c == '\n') {
            if (!word.empty()) {
                out.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        out.push_back(word);
    }
    return out;
}

// Greedy filling: `first` holds what already stands on the first line, and
// every further line begins with `indent` blanks.
std::string wrap(const std::string& first, const std::string& text, std::size_t indent)
{
    std::string out = first;
    std::size_t column = first.size();
    bool lineHasWord = false;
    for (const std::string& word : words(text)) {
        if (lineHasWord && column + 1 + word.size() > kWidth) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            lineHasWord = false;
        }
        if (lineHasWord) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineHasWord = true;
    }
    return out + '\n';
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        out += (i == 0 ? "" : separator) + parts[i];
    }
    return out;
}

std::string optionHead(const OptionHelp& option)
{
    std::string head = joined(option.names, ", ");
    if (!option.value.empty()) {
        head += ' ' + option.value;
    }
    return head;
}

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

std::string escaped(const std::string& text, bool minus)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-' && minus) {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

// A value's name: the words the user types in bold, the names standing for
// what the user chooses (FILE, DIR) in italics.
std::string roffValue(const std::string& value)
{
    std::string out;
    std::size_t i = 0;
    auto plain = [](char c) { return c == '|' || c == '[' || c == ']' || c == '.'; };
    while (i < value.size()) {
        if (plain(value[i])) {
            out += value[i];
            ++i;
            continue;
        }
        const bool upper = isUpper(value[i]);
        std::size_t end = i;
        while (end < value.size() && !plain(value[end]) && isUpper(value[end]) == upper) {
            ++end;
        }
        out += (upper ? "\\fI" : "\\fB") + escaped(value.substr(i, end - i), true) + "\\fR";
        i = end;
    }
    return out;
}

std::vector<std::string> placeholders(const CommandHelp& help)
{
    std::vector<std::string> names;
    auto collect = [&](const std::string& text) {
        std::size_t i = 0;
        while (i < text.size()) {
            if (!isUpper(text[i])) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < text.size() && isUpper(text[end])) {
                ++end;
            }
            if (end - i >= 3) {
                names.push_back(text.substr(i, end - i));
            }
            i = end;
        }
    };
    collect(help.arguments);
    for (const OptionHelp& option : help.options) {
        collect(option.value);
    }
    return names;
}

std::string paragraphs(const std::vector<std::string>& texts, const std::vector<std::string>& names)
{
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        out += (i == 0 ? "" : ".PP\n") + roffText(texts[i], names) + '\n';
    }
    return out;
}

// Replaces every marker of the template, an @ around a name in capitals;
// any other @ (as in "${COMPREPLY[@]}") stays. A part ends without a line
// break, so a marker stands on a line of its own; an empty part takes its
// line with it. An unknown marker, or a part with text and no marker, is an
// error, so a template and its program cannot quietly part ways.
std::string fill(const std::string& text,
                 const std::vector<std::pair<std::string, std::string>>& parts, std::string& error)
{
    std::string out;
    std::vector<bool> used(parts.size(), false);
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i + 1;
        while (text[i] == '@' && end < text.size() && (isUpper(text[end]) || text[end] == '_')) {
            ++end;
        }
        if (text[i] != '@' || end == i + 1 || end >= text.size() || text[end] != '@') {
            out += text[i];
            ++i;
            continue;
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        bool found = false;
        for (std::size_t p = 0; p < parts.size(); ++p) {
            if (parts[p].first == name) {
                std::string part = parts[p].second;
                while (!part.empty() && part.back() == '\n') {
                    part.pop_back();
                }
                out += part;
                used[p] = true;
                found = true;
                const bool aloneOnLine = (out.empty() || out.back() == '\n') &&
                                         end + 1 < text.size() && text[end + 1] == '\n';
                if (part.empty() && aloneOnLine) {
                    ++end;
                }
            }
        }
        if (!found) {
            error = "the template has an unknown marker @" + name + "@";
            return "";
        }
        i = end + 1;
    }
    for (std::size_t p = 0; p < parts.size(); ++p) {
        if (!used[p] && !parts[p].second.empty()) {
            error = "the template lacks @" + parts[p].first + "@";
            return "";
        }
    }
    return out;
}

}  // namespace

std::string usageText(const CommandHelp& help)
{
    std::string out = "usage: " + help.program + ' ' + help.arguments + "\n";
    for (const std::string& paragraph : help.summary) {
        out += '\n' + wrap("", paragraph, 0);
    }
    out += '\n';
    for (const OptionHelp& option : help.options) {
        std::string head = "  " + optionHead(option);
        if (option.text.empty()) {
            out += head + '\n';
            continue;
        }
        if (head.size() + 1 > kTextColumn) {
            out += head + '\n';
            head.clear();
        }
        head.resize(kTextColumn, ' ');
        out += wrap(head, option.text, kTextColumn);
    }
    if (!help.exitStatuses.empty()) {
        std::vector<std::string> statuses;
        for (const ExitStatus& status : help.exitStatuses) {
            statuses.push_back(std::to_string(status.code) + ' ' + status.meaning);
        }
        out += '\n' + wrap("Exit status: ", joined(statuses, "; ") + '.', 0);
    }
    for (const std::string& paragraph : help.closing) {
        out += '\n' + wrap("", paragraph, 0);
    }
    return out;
}

std::vector<std::string> optionNames(const CommandHelp& help)
{
    std::vector<std::string> names;
    for (const OptionHelp& option : help.options) {
        names.insert(names.end(), option.names.begin(), option.names.end());
    }
    return names;
}

std::string roffText(const std::string& text, const std::vector<std::string>& names)
{
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const bool wordStart = i == 0 || !isWordChar(text[i - 1]);
        // An option: one or two minus signs and a letter or digit, at the
        // start of a word.
        if (wordStart && text[i] == '-') {
            std::size_t end = i + 1;
            if (end < text.size() && text[end] == '-') {
                ++end;
            }
            if (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])) != 0) {
                while (end < text.size() && isWordChar(text[end])) {
                    ++end;
                }
                out += "\\fB" + escaped(text.substr(i, end - i), true) + "\\fR";
                i = end;
                continue;
            }
        }
        if (wordStart && isUpper(text[i])) {
            std::size_t end = i;
            while (end < text.size() && isUpper(text[end])) {
                ++end;
            }
            const std::string word = text.substr(i, end - i);
            bool placeholder = false;
            for (const std::string& name : names) {
                placeholder = placeholder || name == word;
            }
            if (placeholder) {
                out += "\\fI" + word + "\\fR";
                i = end;
                continue;
            }
        }
        out += escaped(std::string(1, text[i]), false);
        ++i;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

std::string manualPage(const CommandHelp& help, const std::string& pageTemplate,
                       const std::string& version, const std::string& date, std::string& error)
{
    const std::vector<std::string> names = placeholders(help);
    std::string options;
    for (const OptionHelp& option : help.options) {
        std::string head;
        for (std::size_t i = 0; i < option.names.size(); ++i) {
            head += (i == 0 ? "" : ", ") + ("\\fB" + escaped(option.names[i], true) + "\\fR");
        }
        if (!option.value.empty()) {
            head += ' ' + roffValue(option.value);
        }
        options += ".TP\n" + head + '\n';
        if (!option.text.empty()) {
            options += roffText(option.text, names) + '\n';
        }
    }
    std::string statuses;
    for (const ExitStatus& status : help.exitStatuses) {
        statuses += ".TP\n.B " + std::to_string(status.code) + '\n' +
                    roffText(status.meaning, names) + '\n';
    }
    std::string arguments;
    for (const std::string& word : words(help.arguments)) {
        arguments += (arguments.empty() ? "" : " ") + roffValue(word);
    }
    return fill(pageTemplate,
                {{"PROGRAM", escaped(help.program, true)},
                 {"ARGUMENTS", arguments},
                 {"SUMMARY", paragraphs(help.summary, names)},
                 {"OPTIONS", options},
                 {"EXIT_STATUS", statuses},
                 {"CLOSING", paragraphs(help.closing, names)},
                 {"VERSION", version},
                 {"DATE", date}},
                error);
}

std::string completionScript(const CommandHelp& help, const std::string& scriptTemplate,
                             std::string& error)
{
    std::string cases;
    for (const OptionHelp& option : help.options) {
        if (option.value.empty()) {
            continue;
        }
        std::string action;
        switch (option.completion) {
        case ValueCompletion::None:
            action = "return";
            break;
        case ValueCompletion::Folder:
            action = "_filedir -d; return";
            break;
        case ValueCompletion::File:
            action = "_filedir; return";
            break;
        case ValueCompletion::Words:
            action = "_gemmora_cli_words '" + option.words + "'; return";
            break;
        }
        cases += "    " + joined(option.names, " | ") + ") " + action + " ;;\n";
    }
    return fill(scriptTemplate,
                {{"OPTIONS", joined(optionNames(help), " ")}, {"VALUE_CASES", cases}}, error);
}

}  // namespace help
