// gemmora-cli: Gemmora's search from a terminal or a script.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/CleanupCommand.h"
#include "cli/CliHelp.h"
#include "cli/CliWindow.h"
#include "cli/FolderCleanupCommand.h"
#include "cli/FolderText.h"
#include "folders/FolderFinder.h"
#include "platform/FolderListing.h"
#include "platform/OutputFile.h"
#include "cache/ContentStore.h"
#include "search/SearchRun.h"
#include "settings/ResultLines.h"
#include "settings/SavedLists.h"
#include "text/CommaText.h"
#include "text/StringList.h"
#include "versioninfo/VersionInfo.h"

namespace {

struct Arguments {
    cli::CleanupOptions cleanup;
    settings::SearchOptions options;
    std::vector<std::string> folders;
    std::string master;
    std::string known;
    std::string format = "list";
    std::string output;
    std::string containedIn;
    bool folderSearch = false;
    bool quiet = false;
    bool hiddenFolders = false;
    bool scanOnly = false;
    bool null = false;
    bool namesOnly = false;
    bool noCache = false;
    bool clearCache = false;
};

int usageError(const std::string& message)
{
    std::fprintf(stderr, "gemmora-cli: %s\nTry 'gemmora-cli --help'.\n", message.c_str());
    return 2;
}

// Exit statuses beyond 0 (finished), 1 (stopped), 2 (bad usage, or the
// output could not be written) and 3 (a cleanup left files untouched).
constexpr int kOutOfMemory = 4;

// Standard output flushed; on failure the reason is said and 2 returned.
int finishStandardOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "gemmora-cli: cannot write to standard output: %s\n",
                     std::strerror(errno));
        return 2;
    }
    return status;
}

std::string ownVersion()
{
    versioninfo::TVersionInfoResource info;
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

// Whether `arg` is an option followed by a value.
bool takesValue(const std::string& arg)
{
    return arg == "--mask" || arg == "--skip" || arg == "--master" || arg == "--known" ||
           arg == "--format" || arg == "-o" || arg == "--contained-in";
}

// Stores the value `text` of the option `arg` (one that takesValue).
void setValue(const std::string& arg, const std::string& text, Arguments& args)
{
    if (arg == "--mask") {
        args.options.FileMask = text;
    } else if (arg == "--skip") {
        args.options.FoldersToIgnore = text;
    } else if (arg == "--master") {
        args.master = text;
    } else if (arg == "--known") {
        args.known = text;
    } else if (arg == "--format") {
        args.format = text;
    } else if (arg == "--contained-in") {
        args.containedIn = text;
    } else {
        args.output = text;
    }
}

// Sets what the switch `arg` turns on or off; false when `arg` is no switch.
bool takeSwitch(const std::string& arg, Arguments& args)
{
    settings::SearchOptions& o = args.options;
    if (arg == "--same-time") {
        o.CheckFileStamp = true;
    } else if (arg == "--any-time") {
        o.CheckFileStamp = false;
    } else if (arg == "--same-name") {
        o.CheckFileName = true;
    } else if (arg == "--any-name") {
        o.CheckFileName = false;
    } else if (arg == "--names-only") {
        args.namesOnly = true;
    } else if (arg == "--include-empty") {
        o.SkipEmptyFiles = false;
    } else if (arg == "--include-desktop-folders") {
        o.SkipDesktopFolders = false;
    } else if (arg == "--include-trash") {
        o.SkipTrashFolders = false;
    } else if (arg == "--include-sysbckup") {
        o.SkipSysbckupFolder = false;
    } else if (arg == "--hidden-folders") {
        args.hiddenFolders = true;
    } else if (arg == "-q") {
        args.quiet = true;
    } else if (arg == "-0" || arg == "--null") {
        args.null = true;
    } else if (arg == "--folders") {
        args.folderSearch = true;
    } else if (arg == "--scan-only") {
        args.scanOnly = true;
    } else if (arg == "--no-cache") {
        args.noCache = true;
    } else if (arg == "--clear-cache") {
        args.clearCache = true;
    } else {
        return false;
    }
    return true;
}

// The options as a whole, once all are read: -1 when they go together,
// otherwise the exit status.
int checkArguments(Arguments& args)
{
    settings::SearchOptions& o = args.options;
    if (args.namesOnly) {
        o.CheckFileSize = false;
    }
    o.applyInvariant();
    if (args.format != "list" && args.format != "paths" && args.format != "json") {
        return usageError("--format must be list, paths or json, not " + args.format);
    }
    if (!args.containedIn.empty() && !args.folderSearch) {
        return usageError("--contained-in needs --folders");
    }
    if (args.folderSearch && (args.namesOnly || args.scanOnly || args.cleanup.standalone())) {
        return usageError("--folders compares contents: not with --names-only, --scan-only, "
                          "--from-list or --undo");
    }
    // A folder search writes json of its own; its cleanup has checks of its own.
    if (const std::string problem =
            args.folderSearch ? cli::folderCleanupProblem(args.cleanup, args.format, args.null)
                              : args.cleanup.check(args.format, args.null, !args.folders.empty());
        !problem.empty()) {
        return usageError(problem);
    }
    if (args.null && args.format != "paths") {
        return usageError("--null needs --format paths");
    }

    if (args.folders.empty() && !args.cleanup.standalone() && !args.clearCache) {
        return usageError("no FOLDER to search");
    }
    return -1;
}

// -1: go on; otherwise the exit status.
int parseArguments(int argc, char** argv, Arguments& args)
{
    args.options.FloppyIsMaster = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(help::usageText(cli::cliHelp()).c_str(), stdout);
            return finishStandardOutput(0);
        }
        if (arg == "--version") {
            std::printf("gemmora-cli %s\n", ownVersion().c_str());
            return finishStandardOutput(0);
        }
        std::string problem;
        if (const auto taken = args.cleanup.take(argc, argv, i, problem);
            taken != cli::CleanupOptions::NotMine) {
            if (taken == cli::CleanupOptions::Bad) {
                return usageError(problem);
            }
            continue;
        }
        if (takesValue(arg)) {
            if (i + 1 >= argc) {
                return usageError("option " + arg + " needs a value");
            }
            setValue(arg, argv[++i], args);
        } else if (takeSwitch(arg, args)) {
            continue;
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
    return checkArguments(args);
}

// The list file's lines; `leftOut` receives how many file rows it could not hold.
std::vector<std::string> renderList(const std::vector<settings::ResultRow>& rows,
                                    std::size_t& leftOut)
{
    auto isFileRow = [](const settings::ResultRow& row) { return !row.subItems.empty(); };
    std::vector<std::size_t> kept;
    std::vector<std::string> lines = settings::formatResultLines(rows, &kept);
    leftOut = static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), isFileRow)) -
              static_cast<std::size_t>(std::count_if(
                  kept.begin(), kept.end(), [&](std::size_t i) { return isFileRow(rows[i]); }));
    return lines;
}

// The output file being written, for the signal handlers to clean up.
platform::OutputFile* volatile g_output = nullptr;

// The signals that request a stop as Ctrl-C does: the search ends, what was
// found is written, and the status is 1.
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Every other signal that ends the program unless caught. While a temporary
// output file exists, each removes it before the program ends as the signal
// says.
const int kFatalSignals[] = {SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU,
                             SIGIO,   SIGSYS,  SIGTRAP, SIGSTKFLT, SIGPWR,  SIGSEGV,
                             SIGBUS,  SIGFPE,  SIGILL,  SIGABRT,   SIGPIPE};

void removeTemporaryOutput()
{
    if (g_output != nullptr) {
        g_output->removeTemporary();
    }
}

void onStopSignal(int signal)
{
    if (cli::g_stopRequested != 0) {
        // A second request ends the program at once, leaving nothing behind.
        removeTemporaryOutput();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    cli::g_stopRequested = 1;
}

void onFatalSignal(int signal)
{
    // The handler was reset on entry; the signal raised again ends the
    // program (a fault signal does so when its instruction runs again).
    removeTemporaryOutput();
    std::raise(signal);
}

// Catches the fatal signals while the output file is written.
class FatalSignalGuard {
public:
    FatalSignalGuard()
    {
        struct sigaction action = {};
        action.sa_handler = onFatalSignal;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < kFatalCount; ++i) {
            ::sigaction(kFatalSignals[i], &action, &m_saved[i]);
        }
        for (int rt = SIGRTMIN; rt <= SIGRTMAX && rt - SIGRTMIN < kRealTimeCount; ++rt) {
            ::sigaction(rt, &action, &m_savedRealTime[rt - SIGRTMIN]);
        }
    }
    ~FatalSignalGuard()
    {
        for (int i = 0; i < kFatalCount; ++i) {
            ::sigaction(kFatalSignals[i], &m_saved[i], nullptr);
        }
        for (int rt = SIGRTMIN; rt <= SIGRTMAX && rt - SIGRTMIN < kRealTimeCount; ++rt) {
            ::sigaction(rt, &m_savedRealTime[rt - SIGRTMIN], nullptr);
        }
    }
    FatalSignalGuard(const FatalSignalGuard&) = delete;
    FatalSignalGuard& operator=(const FatalSignalGuard&) = delete;

private:
    static constexpr int kFatalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
    static constexpr int kRealTimeCount = 64;
    struct sigaction m_saved[kFatalCount] = {};
    struct sigaction m_savedRealTime[kRealTimeCount] = {};
};

// Writes each piece followed by `end` to the output file, or to standard
// output, a block at a time: the whole text is never held at once, so
// results found as the memory ran out can still be written.
bool writeOut(const std::string& output, const std::vector<std::string>& pieces,
              std::string_view end)
{
    platform::OutputFile file;
    const FatalSignalGuard guard;
    auto put = [&](std::string_view text) {
        if (output.empty()) {
            return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        }
        return file.write(text);
    };
    g_output = &file;
    bool ok = output.empty() || file.open(output);
    // Small pieces (the rows of a list) are gathered into blocks; a large
    // one (the paths of a million files) is written as it is, not copied.
    constexpr std::size_t kBlock = 64 << 10;
    std::string block;
    block.reserve(kBlock);
    for (std::size_t i = 0; i < pieces.size() && ok; ++i) {
        if (pieces[i].size() >= kBlock) {
            ok = (block.empty() || put(block)) && put(pieces[i]);
            block.clear();
        } else {
            block += pieces[i];
        }
        block += end;
        if (ok && (block.size() >= kBlock || i + 1 == pieces.size())) {
            ok = put(block);
            block.clear();
        }
    }
    ok = ok && (output.empty() ? std::fflush(stdout) == 0 : file.commit());
    const int error = errno;
    g_output = nullptr;
    errno = error;
    return ok;
}

// The searched folders, made absolute and ending with '/', also set as the
// run's root folders; -1, or the exit status of a folder that is not one.
int takeRootFolders(Arguments& args, std::vector<std::string>& roots)
{
    for (const std::string& folder : args.folders) {
        std::string resolved;
        if (!resolveFolder(folder, resolved)) {
            return usageError("not a folder: " + folder);
        }
        roots.push_back(resolved == "/" ? resolved : resolved + "/");
    }
    args.options.RootFolder = text::formatCommaText(roots);
    return -1;
}

// The drives of the run: the master folder as drive A: when one is named,
// and the whole file system as C:; -1, or the exit status of a master that
// cannot be read.
int takeDrives(Arguments& args, std::vector<search::SearchDrive>& drives)
{
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
    return -1;
}

// SIGINT and SIGTERM ask the search to stop; a file size limit makes a
// write fail instead of ending the program.
void catchStopSignals()
{
    // One stop signal at a time: a second one that arrives meanwhile is
    // handled after the first, as the second request it is.
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kStopSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    // A file size limit makes a write fail (EFBIG, said and exit status 2)
    // instead of ending the program with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

// --scan-only: the walk and the catalogue, and their count; the exit status.
int runScanOnly(search::SearchRun& run, cli::CliWindow& window)
{
    bool outOfMemory = false;
    run.KeepSearching = true;
    try {
        run.RunScan();
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    window.finishProgress();
    if (outOfMemory) {
        run.catalogue.release();
        std::fputs("gemmora-cli: out of memory: the walk ended early\n", stderr);
        return kOutOfMemory;
    }
    if (!run.failure().empty()) {
        std::fprintf(stderr, "gemmora-cli: %s\n", run.failure().c_str());
        return kOutOfMemory;
    }
    std::printf("%zu candidate files in %zu folders\n", run.catalogue.Catalogue.size(),
                run.catalogue.Folders.size());
    return finishStandardOutput(run.KeepSearching && cli::g_stopRequested == 0 ? 0 : 1);
}

// The whole search; true when memory ran out, in which case the groups
// confirmed until then are kept.
bool runWholeSearch(search::SearchRun& run, cli::CliWindow& window)
{
    bool outOfMemory = false;
    try {
        run.btnSearchClick();
    } catch (const std::bad_alloc&) {
        // What the comparison confirmed so far is kept; the catalogue, the
        // bulk of the memory, goes, so that the results can still be written.
        outOfMemory = true;
        run.catalogue.release();
        window.list().dropUnfinishedGroup();
    }
    window.list().settle();
    window.finishProgress();
    if (outOfMemory) {
        std::fputs(window.list().rowCount() > 0
                       ? "gemmora-cli: out of memory: the search ended early; the groups found "
                         "until then are written\n"
                       : "gemmora-cli: out of memory: the search ended early, before any group "
                         "was found\n",
                   stderr);
    }
    return outOfMemory;
}

// Writes the groups found, or the folders that are copies, in the chosen
// format, then the closing status lines; the exit status.
int writeResults(const Arguments& args, cli::CliWindow& window, const search::SearchRun& run,
                 folders::FolderFinder& finder, const std::string& containedIn, bool outOfMemory,
                 bool failed)
{
    std::size_t leftOut = 0;
    const bool list = args.format == "list" && !args.folderSearch;
    std::vector<std::string> pieces;
    if (args.folderSearch) {
        if (!containedIn.empty() && !finder.knows(containedIn)) {
            return usageError("--contained-in " + args.containedIn +
                              " is not a folder of this search");
        }
        for (const std::vector<std::string>& group : window.list().groups) {
            finder.addClass(group);
        }
        pieces.push_back(cli::folderText(finder.find(containedIn), containedIn, args.format,
                                         args.null, leftOut));
    } else {
        if (list) {
            pieces = renderList(window.list().rows, leftOut);
        } else {
            // Moved in, not copied: it may be tens of megabytes.
            pieces.push_back(window.list().pathsText(args.null, leftOut));
        }
    }
    if (leftOut > 0) {
        std::fprintf(stderr, "gemmora-cli: %zu paths hold a line break and were left out%s\n",
                     leftOut, args.format == "paths" ? "; --null writes every path" : "");
    }
    if (!writeOut(args.output, pieces, list ? "\r\n" : "")) {
        std::fprintf(stderr, "gemmora-cli: cannot write %s: %s\n",
                     args.output.empty() ? "the results" : args.output.c_str(),
                     std::strerror(errno));
        return 2;
    }
    if (outOfMemory || failed) {
        return kOutOfMemory;
    }
    // A stop request while the results were written counts as well.
    const bool stopped = !run.KeepSearching || cli::g_stopRequested != 0;
    if (!args.quiet) {
        std::fprintf(stderr, "%s\n%s\n%s\n", window.status(3).c_str(), window.status(2).c_str(),
                     window.status(1).c_str());
        if (window.leftOut() > 0) {
            std::fprintf(stderr, "Left out: %zu (named above)\n", window.leftOut());
        }
    }
    return stopped ? 1 : 0;
}

// --clear-cache: empties the cache first. -1 when the search goes on,
// otherwise the exit status.
int clearCacheIfAsked(const Arguments& args, const std::string& cacheFolder)
{
    if (!args.clearCache) {
        return -1;
    }
    if (!cacheFolder.empty() && !cache::ContentStore::clear(cacheFolder)) {
        std::fprintf(stderr, "gemmora-cli: cannot clear the cache in %s: %s\n",
                     cacheFolder.c_str(), std::strerror(errno));
        return 2;
    }
    if (!args.quiet) {
        std::fprintf(stderr, "gemmora-cli: the cache was cleared\n");
    }
    return args.folders.empty() && !args.cleanup.standalone() ? 0 : -1;
}

int runSearch(int argc, char** argv)
{
    Arguments args;
    if (const int parsed = parseArguments(argc, argv, args); parsed >= 0) {
        return parsed;
    }
    const std::string cacheFolder = cache::ContentStore::defaultFolder();
    if (const int status = clearCacheIfAsked(args, cacheFolder); status >= 0) {
        return status;
    }
    std::vector<std::string> roots;
    if (const int status = takeRootFolders(args, roots); status >= 0) {
        return status;
    }
    std::vector<search::SearchDrive> drives;
    if (const int status = takeDrives(args, drives); status >= 0) {
        return status;
    }

    const bool progress = !args.quiet && ::isatty(STDERR_FILENO) != 0;
    cli::CliWindow window(args.options, drives, progress);
    window.list().pathsOnly = args.format == "paths";
    search::SearchRun run(window);
    window.attach(run);
    run.comparison.useCache = !args.noCache && !cacheFolder.empty();
    run.comparison.cacheFolder = cacheFolder;
    run.TreeScanner1.FindHiddenFolders = args.hiddenFolders;
    folders::FolderFinder finder;
    if (args.folderSearch) {
        finder.follow(run.TreeScanner1);
        window.list().pathsOnly = true;
    }
    std::string containedIn;
    if (!args.containedIn.empty()) {
        if (!resolveFolder(args.containedIn, containedIn)) {
            return usageError("not a folder: " + args.containedIn);
        }
        containedIn = containedIn == "/" ? containedIn : containedIn + "/";
    }
    if (!args.known.empty() &&
        !settings::loadKnownDuplicates(args.known, run.catalogue.SkipFiles, true)) {
        return usageError("cannot read the list of known duplicates " + args.known + ": " +
                          std::strerror(errno));
    }
    catchStopSignals();

    const cli::CleanupOutput cleanupOutput = {
        args.format, args.null, args.quiet, args.output,
        [&args](const std::string& text) { return writeOut(args.output, {text}, ""); }};
    if (args.cleanup.standalone()) {
        return cli::runCleanup(args.cleanup, roots, nullptr, cleanupOutput);
    }
    window.list().pathsOnly = window.list().pathsOnly || args.cleanup.wanted();
    if (args.scanOnly) {
        return runScanOnly(run, window);
    }
    const bool outOfMemory = runWholeSearch(run, window);
    // Out of descriptors: the search could not go on, like out of memory.
    const bool failed = !run.failure().empty();
    if (args.cleanup.wanted()) {
        if (outOfMemory || failed || !run.KeepSearching || cli::g_stopRequested != 0) {
            std::fprintf(stderr, "gemmora-cli: the search %s; nothing was changed\n",
                         outOfMemory || failed ? "could not go on" : "was stopped");
            return outOfMemory || failed ? kOutOfMemory : 1;
        }
        if (args.folderSearch) {
            return cli::runFolderCleanup(args.cleanup, roots, window.list().groups, finder,
                                         containedIn, cleanupOutput);
        }
        return cli::runCleanup(args.cleanup, roots, &window.list().groups, cleanupOutput);
    }
    return writeResults(args, window, run, finder, containedIn, outOfMemory, failed);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return runSearch(argc, argv);
    } catch (const std::bad_alloc&) {
        // Out of memory while the results were made or written: nothing
        // more can be done than say so.
        std::fputs("gemmora-cli: out of memory: no results could be written\n", stderr);
        return kOutOfMemory;
    }
}
