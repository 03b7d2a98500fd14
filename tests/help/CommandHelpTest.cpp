// Tests of the --help text, manual page and completion made from an option list.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/CommandHelp.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using help::CommandHelp;
using help::ValueCompletion;

namespace {

CommandHelp sample()
{
    return {
        .program = "tool",
        .arguments = "[OPTIONS] FOLDER...",
        .summary = {"Looks through each FOLDER."},
        .options =
            {
                {.names = {"-q"}, .text = "quiet"},
                {.names = {"--master"},
                 .value = "DIR",
                 .text = "walk DIR first; in the FOLDERs only files whose size (or name) occurs "
                         "in DIR are candidates, which is a long sentence to wrap",
                 .completion = ValueCompletion::Folder},
                {.names = {"--action"},
                 .value = "trash|delete|move:DIR",
                 .text = "what to do with the copies",
                 .completion = ValueCompletion::Words,
                 .words = "trash delete move:"},
                {.names = {"--mask"}, .value = "TEXT", .text = "masks"},
            },
        .exitStatuses = {{0, "done"}, {2, "bad usage"}},
        .closing = {"Nothing changes."},
    };
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

}  // namespace

TEST(CommandHelpTest, UsageTextLinesUpTheOptionsAndWrapsWithinTheTerminal)
{
    const std::vector<std::string> out = lines(help::usageText(sample()));
    ASSERT_GE(out.size(), 10u);
    EXPECT_EQ(out[0], "usage: tool [OPTIONS] FOLDER...");
    EXPECT_EQ(out[2], "Looks through each FOLDER.");
    EXPECT_EQ(out[4], "  -q                        quiet");
    EXPECT_EQ(out[5].rfind("  --master DIR              walk DIR first;", 0), 0u);
    EXPECT_EQ(out[6].find_first_not_of(' '), 28u);
    // A head too wide for its column puts the text on the next line.
    const auto action = std::find(out.begin(), out.end(), "  --action trash|delete|move:DIR");
    ASSERT_NE(action, out.end());
    EXPECT_EQ(*(action + 1), std::string(28, ' ') + "what to do with the copies");
    for (const std::string& line : out) {
        EXPECT_LE(line.size(), 79u) << line;
    }
    EXPECT_EQ(out[out.size() - 3], "Exit status: 0 done; 2 bad usage.");
    EXPECT_EQ(out[out.size() - 2], "");
    EXPECT_EQ(out.back(), "Nothing changes.");
}

TEST(CommandHelpTest, ManualPageFillsItsTemplateAndRefusesAStrayMarker)
{
    std::string error;
    const std::string page =
        help::manualPage(sample(),
                         ".TH X 1 \"@DATE@\" \"@VERSION@\"\n.B @PROGRAM@\n@ARGUMENTS@\n@SUMMARY@\n"
                         "@CLOSING@\n.SH OPTIONS\n@OPTIONS@\n.SH EXIT STATUS\n@EXIT_STATUS@\n",
                         "1.2.3.4", "2026-01-31", error);
    EXPECT_EQ(error, "");
    EXPECT_NE(page.find(".TH X 1 \"2026-01-31\" \"1.2.3.4\"\n"), std::string::npos);
    EXPECT_NE(page.find("[\\fIOPTIONS\\fR] \\fIFOLDER\\fR..."), std::string::npos);
    EXPECT_NE(page.find(".TP\n\\fB\\-\\-master\\fR \\fIDIR\\fR\nwalk \\fIDIR\\fR first"),
              std::string::npos);
    EXPECT_NE(page.find("\\fBtrash\\fR|\\fBdelete\\fR|\\fBmove:\\fR\\fIDIR\\fR"),
              std::string::npos);
    EXPECT_NE(page.find(".TP\n.B 2\nbad usage\n"), std::string::npos);
    EXPECT_EQ(page.find("\n\n"), std::string::npos) << "no empty line between the parts";

    help::manualPage(sample(), "@PROGRAM@ @OPTIONS@ @EXIT_STATUS@ @SUMARY@", "1", "d", error);
    EXPECT_EQ(error, "the template has an unknown marker @SUMARY@");
    help::manualPage(sample(), "@PROGRAM@ @SUMMARY@", "1", "d", error);
    EXPECT_NE(error.find("lacks @"), std::string::npos);
}

TEST(CommandHelpTest, RoffTextMarksOptionsAndKeepsOrdinaryHyphens)
{
    EXPECT_EQ(help::roffText("with --format paths, not zero-length"),
              "with \\fB\\-\\-format\\fR paths, not zero-length");
    EXPECT_EQ(help::roffText("-0 or (-q)"), "\\fB\\-0\\fR or (\\fB\\-q\\fR)");
    EXPECT_EQ(help::roffText("a \\ b"), "a \\e b");
    EXPECT_EQ(help::roffText(".hidden folders"), "\\&.hidden folders");
    EXPECT_EQ(help::roffText("'quoted'"), "\\&'quoted'");
    EXPECT_EQ(help::roffText("each FOLDER, not SYSBCKUP", {"FOLDER"}),
              "each \\fIFOLDER\\fR, not SYSBCKUP");
}

TEST(CommandHelpTest, CompletionScriptOffersEachValueItsKind)
{
    std::string error;
    const std::string script = help::completionScript(
        sample(), "opts='@OPTIONS@'\ncase $prev in\n@VALUE_CASES@\nesac ${COMPREPLY[@]}\n", error);
    EXPECT_EQ(error, "");
    EXPECT_NE(script.find("opts='-q --master --action --mask'"), std::string::npos);
    EXPECT_NE(script.find("    --master) _filedir -d; return ;;\n"), std::string::npos);
    EXPECT_NE(script.find("    --action) _gemmora_cli_words 'trash delete move:'; return ;;\n"),
              std::string::npos);
    EXPECT_NE(script.find("    --mask) return ;;\n"), std::string::npos);
    EXPECT_EQ(script.find("-q)"), std::string::npos);
    EXPECT_NE(script.find("esac ${COMPREPLY[@]}"), std::string::npos);
}
