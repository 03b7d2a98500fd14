// gemmora-cli: Gemmora's search from a terminal or a script.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/CleanupCommand.h"
#include "cli/CliWindow.h"
#include "platform/CommaText.h"
#include "platform/FolderListing.h"
#include "platform/StringList.h"
#include "platform/VersionInfo.h"
#include "search/SearchRun.h"
#include "settings/ResultLines.h"

namespace {

const char kUsage[] =
    "usage: gemmora-cli [OPTIONS] FOLDER...\n"
    "\n"
    "Searches each FOLDER and its subfolders for duplicate files and writes the\n"
    "groups found. Without options two files are duplicates when they have the\n"
    "same size, the same contents byte for byte, and the same date and time.\n"
    "\n"
    "  --mask TEXT               file masks as comma text (default \"*.*\")\n"
    "  --skip TEXT               folders to skip as comma text, such as \"cache,old\"\n"
    "  --same-time, --any-time   require the same date and time (default: same)\n"
    "  --same-name, --any-name   require the same name (default: any)\n"
    "  --names-only              files with the same name are duplicates, whatever\n"
    "                            their size, contents or time\n"
    "  --include-empty           also take zero-length files\n"
    "  --include-desktop-folders also search folders that hold a desktop.ini\n"
    "  --include-sysbckup        also search SYSBCKUP folders\n"
    "  --hidden-folders          also enter hidden folders (hidden files are\n"
    "                            always searched)\n"
    "  --master DIR              walk DIR first; in the FOLDERs only files whose\n"
    "                            size (or name) occurs in DIR are candidates\n"
    "  --known FILE              leave out the files listed in FILE, one path a line\n"
    "  --format list|paths|json  list: the lines of the desktop program's result\n"
    "                            list file (default); paths: each group's paths,\n"
    "                            one a line, groups separated by an empty line\n"
    "                            (a path holding a line break is left out);\n"
    "                            json: for a cleanup and an undo (see below)\n"
    "  -0, --null                with --format paths: end each path with a zero\n"
    "                            byte and each group with one more, so that any\n"
    "                            name can be read back\n"
    "  -o FILE                   write to FILE instead of standard output\n"
    "  --scan-only               walk and catalogue only: print how many candidate\n"
    "                            files were found, compare nothing\n"
    "  -q                        no progress and no summary\n"
    "  --help, --version\n"
    "\n"
    "Cleaning up the duplicates found (or those of a saved list):\n"
    "  --action ACTION           what to do with every file the keep rules do not\n"
    "                            keep: trash (the desktop's trash), delete (for\n"
    "                            good), hardlink (replace it by a hard link to the\n"
    "                            kept file), reflink (let it share the kept file's\n"
    "                            storage, where the file system can), move:DIR\n"
    "                            (into DIR, keeping its path below the searched\n"
    "                            folder; onto another file system as a copy that\n"
    "                            is checked before the file goes)\n"
    "  --keep RULE               which file of each group to keep; repeatable, each\n"
    "                            rule choosing among the files the ones before it\n"
    "                            left tied, and then the first by path order:\n"
    "                            oldest, newest, shortest, longest (path),\n"
    "                            shallowest, deepest (folder depth), first (in\n"
    "                            the list's order), in:DIRS, not-in:DIRS,\n"
    "                            name:MASKS (DIRS and MASKS as comma text). A\n"
    "                            group that a rule would leave with no file keeps\n"
    "                            the first by path order, and the plan says so\n"
    "  --dry-run                 print the plan and change nothing (the default)\n"
    "  --yes                     act on the plan\n"
    "  --from-list FILE          act on a saved result list (as -o writes it) or on\n"
    "                            a plan (as a dry run prints it, edited or not)\n"
    "                            instead of searching. FOLDERs, when given, are\n"
    "                            the only folders acted in, each taken as named\n"
    "                            (even a link); below them, and without FOLDERs\n"
    "                            anywhere on a file's path, no link is followed\n"
    "  --journal FILE            the record of the run (default: a dated file\n"
    "                            beside the list files)\n"
    "  --undo JOURNAL            put back what a run moved to the trash or moved\n"
    "\n"
    "A plan is a line per file: keep or mark, the quoted path and the size. A\n"
    "report is a line per file: kept, trashed, deleted, linked, reflinked, moved,\n"
    "untouched or stopped, the path, the size, and where it went or why it was\n"
    "left alone. --format paths writes the marked (or done) paths alone, and\n"
    "--format json everything, a path that is not UTF-8 also as \"path_hex\".\n"
    "Before a file is touched it is compared byte for byte with the kept file\n"
    "again; any difference, or a link on its path, leaves it as it is.\n"
    "\n"
    "Exit status: 0 the search (or the cleanup) finished, 1 it was stopped\n"
    "(Ctrl-C), 2 bad usage or a refused plan, 3 some files were left untouched\n"
    "(or, by an undo, not put back). Without --action and --yes nothing in the\n"
    "searched folders is ever changed.\n";

struct Arguments {
    cli::CleanupOptions cleanup;
    settings::SearchOptions options;
    std::vector<std::string> folders;
    std::string master;
    std::string known;
    std::string format = "list";
    std::string output;
    bool quiet = false;
    bool hiddenFolders = false;
    bool scanOnly = false;
    bool null = false;
};

int usageError(const std::string& message)
{
    std::fprintf(stderr, "gemmora-cli: %s\nTry 'gemmora-cli --help'.\n", message.c_str());
    return 2;
}

std::string ownVersion()
{
    platform::TVersionInfoResource info;
    info.Loaded();
    return info.FileVersion.AsText();
}

// An absolute, resolved folder path; false when it is not a folder.
bool resolveFolder(const std::string& given, std::string& resolved)
{
    char buffer[PATH_MAX];
    if (::realpath(given.c_str(), buffer) == nullptr) {
        return false;
    }
    struct stat st = {};
    if (::stat(buffer, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    resolved = buffer;
    return true;
}

// -1: go on; otherwise the exit status.
int parseArguments(int argc, char** argv, Arguments& args)
{
    settings::SearchOptions& o = args.options;
    o.FloppyIsMaster = false;
    bool namesOnly = false;
    auto value = [&](int& i, const char* option, std::string& out) {
        if (i + 1 >= argc) {
            return false;
        }
        out = argv[++i];
        (void)option;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("gemmora-cli %s\n", ownVersion().c_str());
            return 0;
        }
        std::string problem;
        if (const auto taken = args.cleanup.take(argc, argv, i, problem);
            taken != cli::CleanupOptions::NotMine) {
            if (taken == cli::CleanupOptions::Bad) {
                return usageError(problem);
            }
            continue;
        }
        if (arg == "--mask" || arg == "--skip" || arg == "--master" || arg == "--known" ||
            arg == "--format" || arg == "-o") {
            std::string text;
            if (!value(i, arg.c_str(), text)) {
                return usageError("option " + arg + " needs a value");
            }
            if (arg == "--mask") {
                o.FileMask = text;
            } else if (arg == "--skip") {
                o.FoldersToIgnore = text;
            } else if (arg == "--master") {
                args.master = text;
            } else if (arg == "--known") {
                args.known = text;
            } else if (arg == "--format") {
                args.format = text;
            } else {
                args.output = text;
            }
        } else if (arg == "--same-time") {
            o.CheckFileStamp = true;
        } else if (arg == "--any-time") {
            o.CheckFileStamp = false;
        } else if (arg == "--same-name") {
            o.CheckFileName = true;
        } else if (arg == "--any-name") {
            o.CheckFileName = false;
        } else if (arg == "--names-only") {
            namesOnly = true;
        } else if (arg == "--include-empty") {
            o.SkipEmptyFiles = false;
        } else if (arg == "--include-desktop-folders") {
            o.SkipDesktopFolders = false;
        } else if (arg == "--include-sysbckup") {
            o.SkipSysbckupFolder = false;
        } else if (arg == "--hidden-folders") {
            args.hiddenFolders = true;
        } else if (arg == "-q") {
            args.quiet = true;
        } else if (arg == "-0" || arg == "--null") {
            args.null = true;
        } else if (arg == "--scan-only") {
            args.scanOnly = true;
        } else if (arg == "--") {
            for (++i; i < argc; ++i) {
                args.folders.push_back(argv[i]);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else {
            args.folders.push_back(arg);
        }
    }
    if (namesOnly) {
        o.CheckFileSize = false;
    }
    o.applyInvariant();
    if (args.format != "list" && args.format != "paths" && args.format != "json") {
        return usageError("--format must be list, paths or json, not " + args.format);
    }
    if (const std::string problem =
            args.cleanup.check(args.format, args.null, !args.folders.empty());
        !problem.empty()) {
        return usageError(problem);
    }
    if (args.null && args.format != "paths") {
        return usageError("--null needs --format paths");
    }
    if (args.folders.empty() && !args.cleanup.standalone()) {
        return usageError("no FOLDER to search");
    }
    return -1;
}

// The list file's text; `leftOut` receives how many file rows it could not hold.
std::string renderList(const std::vector<settings::ResultRow>& rows, std::size_t& leftOut)
{
    auto isFileRow = [](const settings::ResultRow& row) { return !row.subItems.empty(); };
    std::vector<std::size_t> kept;
    const std::vector<std::string> lines = settings::formatResultLines(rows, &kept);
    leftOut = static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), isFileRow)) -
              static_cast<std::size_t>(std::count_if(
                  kept.begin(), kept.end(), [&](std::size_t i) { return isFileRow(rows[i]); }));
    return platform::linesText(lines);
}

bool writeOut(const std::string& output, const std::string& text)
{
    if (!output.empty()) {
        return platform::writeFileAtomically(output, text);
    }
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

void onSignal(int signal)
{
    if (cli::g_stopRequested != 0) {
        // A second request ends the program at once.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    cli::g_stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments args;
    const int parsed = parseArguments(argc, argv, args);
    if (parsed >= 0) {
        return parsed;
    }

    std::vector<std::string> roots;
    for (const std::string& folder : args.folders) {
        std::string resolved;
        if (!resolveFolder(folder, resolved)) {
            return usageError("not a folder: " + folder);
        }
        roots.push_back(resolved == "/" ? resolved : resolved + "/");
    }
    args.options.RootFolder = platform::formatCommaText(roots);

    std::vector<search::SearchDrive> drives;
    if (!args.master.empty()) {
        std::string master;
        std::vector<platform::FileEntry> probe;
        if (!resolveFolder(args.master, master) || !platform::readFolder(master + "/", probe)) {
            return usageError("cannot read the master folder " + args.master);
        }
        args.options.FloppyIsMaster = true;
        drives.push_back({'A', master == "/" ? "" : master, true});
    }
    drives.push_back({'C', "", false});

    const bool progress = !args.quiet && ::isatty(STDERR_FILENO) != 0;
    cli::CliWindow window(args.options, drives, progress);
    window.list().pathsOnly = args.format == "paths";
    search::SearchRun run(window);
    window.attach(run);
    run.TreeScanner1.FindHiddenFolders = args.hiddenFolders;
    if (!args.known.empty() && !run.catalogue.SkipFiles.loadFromFile(args.known)) {
        return usageError("cannot read the list of known duplicates " + args.known);
    }

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    const cli::CleanupOutput cleanupOutput = {args.format, args.null, args.quiet, args.output};
    if (args.cleanup.standalone()) {
        return cli::runCleanup(args.cleanup, roots, nullptr, cleanupOutput);
    }
    window.list().pathsOnly = window.list().pathsOnly || args.cleanup.wanted();

    if (args.scanOnly) {
        run.KeepSearching = true;
        run.RunScan();
        window.finishProgress();
        std::printf("%zu candidate files in %zu folders\n", run.catalogue.Catalogue.size(),
                    run.catalogue.Folders.size());
        return run.KeepSearching ? 0 : 1;
    }

    run.btnSearchClick();
    window.finishProgress();
    const bool stopped = !run.KeepSearching;
    if (args.cleanup.wanted()) {
        if (stopped) {
            std::fprintf(stderr, "gemmora-cli: the search was stopped; nothing was changed\n");
            return 1;
        }
        return cli::runCleanup(args.cleanup, roots, &window.list().groups, cleanupOutput);
    }

    std::size_t leftOut = 0;
    const std::string text = args.format == "list" ? renderList(window.list().rows, leftOut)
                                                   : window.list().pathsText(args.null, leftOut);
    if (leftOut > 0) {
        std::fprintf(stderr, "gemmora-cli: %zu paths hold a line break and were left out%s\n",
                     leftOut, args.format == "paths" ? "; --null writes every path" : "");
    }
    if (!writeOut(args.output, text)) {
        std::fprintf(stderr, "gemmora-cli: cannot write %s: %s\n",
                     args.output.empty() ? "the results" : args.output.c_str(),
                     std::strerror(errno));
        return 2;
    }
    if (!args.quiet) {
        std::fprintf(stderr, "%s\n%s\n%s\n", window.status(3).c_str(), window.status(2).c_str(),
                     window.status(1).c_str());
    }
    return stopped ? 1 : 0;
}
