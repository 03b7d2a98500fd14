// gemmora-cli's options, from which --help, its manual page and its bash completion are made.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliHelp.h"

namespace cli {

namespace {

// What is searched and what makes two files duplicates.
std::vector<help::OptionHelp> searchOptions()
{
    using help::ValueCompletion;
    return {
        {.names = {"--mask"},
         .value = "TEXT",
         .text = "file masks as comma text (default \"*.*\")"},
        {.names = {"--skip"},
         .value = "TEXT",
         .text = "folders to skip as comma text, such as \"cache,old\""},
        {.names = {"--same-time", "--any-time"},
         .text = "require the same date and time (default: same)"},
        {.names = {"--same-name", "--any-name"}, .text = "require the same name (default: any)"},
        {.names = {"--names-only"},
         .text = "files with the same name are duplicates, whatever their size, "
                 "contents or time"},
        {.names = {"--include-empty"}, .text = "also take zero-length files"},
        {.names = {"--include-desktop-folders"},
         .text = "also search folders that hold a desktop.ini"},
        {.names = {"--include-sysbckup"}, .text = "also search SYSBCKUP folders"},
        {.names = {"--include-trash"},
         .text = "also search trash folders (the home trash, .Trash-UID and .Trash/UID "
                 "at the top of each mount); a file in the trash is never the one kept "
                 "while a copy outside it exists"},
        {.names = {"--hidden-folders"},
         .text = "also enter hidden folders (hidden files are always searched)"},
        {.names = {"--master"},
         .value = "DIR",
         .text = "walk DIR first; in the FOLDERs only files whose size (or name) occurs "
                 "in DIR are candidates",
         .completion = ValueCompletion::Folder},
        {.names = {"--known"},
         .value = "FILE",
         .text = "leave out the files listed in FILE, one path a line",
         .completion = ValueCompletion::File},
    };
}

// What is written, where, and what else is said while searching.
std::vector<help::OptionHelp> outputOptions()
{
    using help::ValueCompletion;
    return {
        {.names = {"--format"},
         .value = "list|paths|json",
         .text = "list: the lines of the desktop program's result list file (default); "
                 "paths: each group's paths, one a line, groups separated by an empty "
                 "line (a path holding a line break is left out); json: for a cleanup "
                 "and an undo (see below)",
         .completion = ValueCompletion::Words,
         .words = "list paths json"},
        {.names = {"-0", "--null"},
         .text = "with --format paths: end each path with a zero byte and each group "
                 "with one more, so that any name can be read back"},
        {.names = {"-o"},
         .value = "FILE",
         .text = "write to FILE instead of standard output; a FILE that exists is "
                 "replaced once the results are complete, keeping its mode and owner "
                 "(a link is followed, a FIFO or a device is written in place). A cleanup "
                 "that acts refuses a FILE that is a file of its plan (by any name) or "
                 "lies in a searched folder or the move's folder",
         .completion = ValueCompletion::File},
        {.names = {"--no-cache"},
         .text = "neither use nor update the cache of earlier searches for this search. "
                 "The cache ($XDG_CACHE_HOME/gemmora, else ~/.cache/gemmora) keeps, for "
                 "each file read, digests of its head and of the chunks read after it and "
                 "the files it was confirmed identical to, so that a later search reads only what changed; a "
                 "duplicate is still always confirmed byte for byte. Files on FAT, "
                 "exFAT, NTFS, network and FUSE file systems are never cached; entries "
                 "of files not seen for 60 days expire"},
        {.names = {"--clear-cache"},
         .text = "remove the cache of earlier searches first; without a FOLDER, do "
                 "only that"},
        {.names = {"--scan-only"},
         .text = "walk and catalogue only: print how many candidate files were found, "
                 "compare nothing"},
        {.names = {"--folders"},
         .text = "write folders that are copies instead of the file groups (the search "
                 "is the same): groups of identical folders, with the same names and "
                 "layout or the same files in another layout; folders whose every file "
                 "has a copy outside them, with where the copies are; and folders that "
                 "would be but for a few files, those named. A file not compared (left "
                 "out by the masks, the size rules or a folder not searched), or a "
                 "second name of a file (a hard link), keeps its folder from being a "
                 "copy; empty files and empty folders are counted, never a reason. "
                 "--format paths writes each group of identical folders as a block, "
                 "then each contained folder as a block of one path. Links and special "
                 "files in a folder are named with it. With --action trash, delete or "
                 "move:DIR the cleanup takes whole folders: the keep rules choose the "
                 "folder of each identical group that stays, and each contained folder "
                 "goes; right before, every file is compared again with its copy, and a "
                 "folder holding anything else then is left as it is"},
        {.names = {"--contained-in"},
         .value = "DIR",
         .text = "with --folders: which folders have a copy of every file inside DIR "
                 "(searched as a FOLDER or below one), whatever their names and layout",
         .completion = ValueCompletion::Folder},
        {.names = {"-q"},
         .text = "no progress and no summary; a cleanup that changed files still names "
                 "its journal on standard error"},
    };
}

// Cleaning up the duplicates found, and undoing a cleanup.
std::vector<help::OptionHelp> cleanupOptions()
{
    using help::ValueCompletion;
    return {
        {.names = {"--action"},
         .value = "ACTION",
         .text = "clean up the duplicates found (or those of a saved list): what to do "
                 "with every file the keep rules do not keep: trash (the desktop's "
                 "trash), delete (for good), hardlink (replace it by a hard link to the "
                 "kept file), reflink (let it share the kept file's storage, where the "
                 "file system can), move:DIR (into DIR, keeping its path below the "
                 "searched folder; onto another file system as a copy that is checked "
                 "before the file goes)",
         .completion = ValueCompletion::Words,
         .words = "trash delete hardlink reflink move:"},
        {.names = {"--link-any-owner"},
         .text = "with --action hardlink: also link a file whose owner, group, "
                 "permissions or extended attributes differ from the kept file's (the "
                 "path then takes the kept file's); without it such a file is left "
                 "untouched and the report says what differs"},
        {.names = {"--keep"},
         .value = "RULE",
         .text = "which file of each group to keep; repeatable, each rule choosing "
                 "among the files the ones before it left tied, and then the first by "
                 "path order: oldest, newest, shortest, longest (path), shallowest, "
                 "deepest (folder depth), first (in the list's order), in:DIRS, "
                 "not-in:DIRS, name:MASKS (DIRS and MASKS as comma text). A group that "
                 "a rule would leave with no file keeps the first by path order, and "
                 "the plan says so",
         .completion = ValueCompletion::Words,
         .words = "oldest newest shortest longest shallowest deepest first in: not-in: "
                  "name:"},
        {.names = {"--dry-run"}, .text = "print the plan and change nothing (the default)"},
        {.names = {"--yes"}, .text = "act on the plan"},
        {.names = {"--from-list"},
         .value = "FILE",
         .text = "act on a saved result list (as -o writes it) or on a plan (as a dry "
                 "run prints it, edited or not) instead of searching. FOLDERs, when "
                 "given, are the only folders acted in, each taken as named (even a "
                 "link); below them, and without FOLDERs anywhere on a file's path, no "
                 "link is followed. A plan naming a path that is not absolute is "
                 "refused whole",
         .completion = ValueCompletion::File},
        {.names = {"--journal"},
         .value = "FILE",
         .text = "the record of the run: a new file, or a journal of an earlier run to add "
                 "to; any other file, a FIFO or a device is refused, as is a FILE "
                 "among the files of the run (default: a file of the run's own beside "
                 "the list files, cleanup-DATE-TIME.journal, with -N added when a run "
                 "of the same second has that name)",
         .completion = ValueCompletion::File},
        {.names = {"--undo"},
         .value = "JOURNAL",
         .text = "put back what a run moved to the trash or moved: only from a trash's "
                 "files folder with its information file naming the file, or from below "
                 "the run's own move folder (any other journal line is refused, with "
                 "the reason); what a killed run left beside the files (a partial "
                 "copy, a hidden link, a trash information file without its file) is "
                 "removed and said",
         .completion = ValueCompletion::File},
    };
}

// About the program itself.
std::vector<help::OptionHelp> programOptions()
{
    return {
        {.names = {"-h", "--help"}, .text = "print this help and end"},
        {.names = {"--version"}, .text = "print the program's version and end"},
    };
}

// The sections' options one after the other, in the order --help shows them.
std::vector<help::OptionHelp> allOptions()
{
    std::vector<help::OptionHelp> options;
    for (const auto& section :
         {searchOptions(), outputOptions(), cleanupOptions(), programOptions()}) {
        options.insert(options.end(), section.begin(), section.end());
    }
    return options;
}

}  // namespace

// The one place where gemmora-cli's options are described. --help prints
// this list as it stands; the build makes the manual page gemmora-cli(1)
// and the bash completion from it (help/MakeHelpFiles.cpp); the tests check
// that every option here is in the page, is completed, and is known to the
// parser in main.cpp.
//
// To add an option, add one entry to its section above, where --help should
// show it, and handle it in parseArguments (main.cpp). An entry holds
//   .names       its spellings, short before long: {"-0", "--null"}
//   .value       the name of its value as shown ("FILE", "list|paths"),
//                left out when the option takes none
//   .text        one paragraph of help, written as one line: --help wraps it
//   .completion  what Tab offers for the value: Folder, File, None (free
//                text), or Words with .words holding the values, blank-
//                separated; a word ending in ':' takes a folder right
//                after it, as "move:" does for move:DIR
// A changed exit status is changed in the list after the options, and a
// sentence that holds for every option in the closing paragraphs.
const help::CommandHelp& cliHelp()
{
    static const help::CommandHelp kHelp{
        .program = "gemmora-cli",
        .arguments = "[OPTIONS] FOLDER...",
        .summary = {"Searches each FOLDER and its subfolders for duplicate files and writes the "
                    "groups found. Without options two files are duplicates when they have the "
                    "same size, the same contents byte for byte, and the same date and time."},
        .options = allOptions(),
        .exitStatuses =
            {
                {0, "the search or the cleanup finished"},
                {1, "it was stopped (Ctrl-C, SIGTERM, SIGHUP or SIGQUIT)"},
                {2, "bad usage, a refused plan, or output that could not be written"},
                {3, "some files were left untouched by a cleanup (or not put back by an undo)"},
                {4, "the search could not go on: out of memory or out of file descriptors (what "
                    "was found until then is written)"},
            },
        .closing = {"A file that cannot be read, or that changes while it is compared, is left "
                    "out of the groups and named on standard error with the reason.",
                    "A plan is a line per file: keep or mark, the quoted path and the size. A "
                    "report is a line per file: kept, trashed, deleted, linked, reflinked, "
                    "moved, untouched or stopped, the path, the size, and where it went or why "
                    "it was left alone. --format paths writes the marked (or done) paths alone, "
                    "and --format json everything, a path that is not UTF-8 also as "
                    "\"path_hex\".",
                    "Before a file is touched it is compared byte for byte with the kept file "
                    "again; any difference, or a link on its path, leaves it as it is. Without "
                    "--action and --yes nothing in the searched folders is ever changed."},
    };
    return kHelp;
}

}  // namespace cli
