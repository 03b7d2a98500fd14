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
    "  --format list|paths       list: the lines of the desktop program's result\n"
    "                            list file (default); paths: each group's paths,\n"
    "                            one a line, groups separated by an empty line\n"
    "                            (a path holding a line break is left out)\n"
    "  -0, --null                with --format paths: end each path with a zero\n"
    "                            byte and each group with one more, so that any\n"
    "                            name can be read back\n"
    "  -o FILE                   write to FILE instead of standard output\n"
    "  --scan-only               walk and catalogue only: print how many candidate\n"
    "                            files were found, compare nothing\n"
    "  -q                        no progress and no summary\n"
    "  --help, --version\n"
    "\n"
    "A file that cannot be read, or that changes while it is compared, is left\n"
    "out of the groups and named on standard error.\n"
    "\n"
    "Exit status: 0 the search finished, 1 it was stopped (Ctrl-C), 2 bad usage,\n"
    "3 the search could not go on (out of file descriptors or memory); what was\n"
    "found until then is written.\n"
    "Nothing in the searched folders is ever changed.\n";

struct Arguments {
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
    if (args.format != "list" && args.format != "paths") {
        return usageError("--format must be list or paths, not " + args.format);
    }
    if (args.null && args.format != "paths") {
        return usageError("--null needs --format paths");
    }
    if (args.folders.empty()) {
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
    const bool failed = !run.comparison.failure().empty();

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
        if (window.leftOut() > 0) {
            std::fprintf(stderr, "Left out: %zu (named above)\n", window.leftOut());
        }
    }
    if (failed) {
        return 3;
    }
    return stopped ? 1 : 0;
}
