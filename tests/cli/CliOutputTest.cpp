// Tests of gemmora-cli's output file, exit statuses and signals.
// SPDX-License-Identifier: GPL-3.0-or-later
// gemmora-cli's output file, its exit statuses and its signals, tried as a
// user and as someone sharing the machine with it would.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "settings/ResultLines.h"
#include "support/CliRunner.h"
#include "support/TempFolder.h"

namespace {

constexpr uid_t kNobody = 65534;

bool holdsTemporary(const std::string& folder)
{
    for (const std::string& name : namesIn(folder)) {
        if (name.find(".tmp-") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The exit status of gemmora-cli run with its standard output on `path`.
int statusWithOutputOn(const std::string& path, const std::vector<std::string>& args)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(path.c_str(), O_WRONLY);
        const int err = ::open("/dev/null", O_WRONLY);
        if (out < 0 || err < 0) {
            ::_exit(78);
        }
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>(cliPath())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(cliPath(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Whether the process has its own handler for `signal` in place yet.
bool catches(pid_t pid, int signal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (signal - 1))) != 0;
        }
    }
    return false;
}

int inChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

class CliOutputTest : public ::testing::Test {
protected:
    TempFolder tree;
    TempFolder out;  // where the output goes: never searched

    void SetUp() override
    {
        tree.write("a/report.txt", "quarterly numbers");
        tree.write("b/report.txt", "quarterly numbers");
    }

    std::vector<std::string> args(const std::string& output)
    {
        return {"-q", "--any-time", "--format", "paths", "-o", output, tree.path()};
    }

    std::string expected() const { return tree / "a/report.txt\n" + tree / "b/report.txt\n"; }

    // `pairs` groups of two, for a search whose output takes a while.
    void manyGroups(int pairs)
    {
        for (int i = 0; i < pairs; ++i) {
            const std::string contents = "contents of pair " + std::to_string(i);
            tree.write("many/" + std::to_string(i % 50) + "/one-" + std::to_string(i), contents);
            tree.write("many/" + std::to_string(i % 50) + "/two-" + std::to_string(i), contents);
        }
    }
};

}  // namespace

TEST_F(CliOutputTest, ALinkIsFollowedToTheFileItNames)
{
    out.write("real.txt", "old");
    out.chmod("real.txt", 0640);
    out.symlink(out / "real.txt", "link.txt");
    const CliOutcome r = runCli(args(out / "link.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(S_ISLNK(statOf(out / "link.txt").st_mode));
    EXPECT_EQ(out.read("real.txt"), expected());
    EXPECT_EQ(statOf(out / "real.txt").st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST_F(CliOutputTest, AFifoIsWrittenInPlace)
{
    out.fifo("pipe");
    // The reader holds the FIFO open from the start and gives up once the
    // program has ended without writing to it (had it been replaced).
    const int fd = ::open((out / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::atomic<bool> ended{false};
    std::string received;
    std::thread reader([&] {
        bool connected = false;
        for (;;) {
            pollfd wait = {fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, 50);
            char buffer[4096];
            const ssize_t got = ready > 0 ? ::read(fd, buffer, sizeof buffer) : -1;
            if (got > 0) {
                received.append(buffer, static_cast<std::size_t>(got));
                connected = true;
            } else if ((got == 0 && (connected || (wait.revents & POLLHUP) != 0)) ||
                       (ready == 0 && ended)) {
                break;
            }
        }
    });
    const CliOutcome r = runCli(args(out / "pipe"));
    ended = true;
    reader.join();
    ::close(fd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received, expected());
    EXPECT_TRUE(S_ISFIFO(statOf(out / "pipe").st_mode));
}

TEST_F(CliOutputTest, ADeviceIsWrittenInPlaceAndAFullOneIsAnError)
{
    // Private copies of /dev/null and /dev/full: a test must never put the
    // system's own at stake.
    if (::mknod((out / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod((out / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "device nodes cannot be made here (needs root)";
    }
    CliOutcome r = runCli(args(out / "null"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(S_ISCHR(statOf(out / "null").st_mode));
    r = runCli(args(out / "full"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write " + out / "full" + ": No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(S_ISCHR(statOf(out / "full").st_mode));
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"full", "null"}));
}

TEST_F(CliOutputTest, AReplacedFileKeepsItsModeAndOwner)
{
    out.write("private.lis", "someone's old list");
    out.chmod("private.lis", 0600);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((out / "private.lis").c_str(), kNobody, kNobody), 0);
    }
    const CliOutcome r = runCli(args(out / "private.lis"));
    ASSERT_EQ(r.status, 0) << r.err;
    const struct stat st = statOf(out / "private.lis");
    EXPECT_EQ(out.read("private.lis"), expected());
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
    }
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"private.lis"}));
}

TEST_F(CliOutputTest, AFullFileSystemIsAnErrorAndTheOldFileStays)
{
    // 300 groups make far more text than the 64 KiB file system holds.
    for (int i = 0; i < 300; ++i) {
        const std::string contents = "pair " + std::to_string(i);
        tree.write("full/" + std::string(60, 'n') + "-one-" + std::to_string(i), contents);
        tree.write("full/" + std::string(60, 'n') + "-two-" + std::to_string(i), contents);
    }
    const std::string folder = out.path();
    const std::vector<std::string> search = {"-q", "--any-time", "-o", folder + "old.lis",
                                             tree.path()};
    const int result = inChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("gemmora-full", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        const int fd = ::open((folder + "old.lis").c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || ::write(fd, "old", 3) != 3 || ::close(fd) != 0) {
            return 10;
        }
        const CliOutcome r = runCli(search);
        if (r.status != 2) {
            return 11;
        }
        if (r.err.find("No space left on device") == std::string::npos) {
            return 12;
        }
        std::string old;
        platform::readWholeFile(folder + "old.lis", old);
        if (old != "old") {
            return 13;
        }
        return namesIn(folder) == std::vector<std::string>{"old.lis"} ? 0 : 14;
    });
    if (result == 77) {
        GTEST_SKIP() << "mounting a small tmpfs is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(CliOutputTest, AFileSizeLimitIsAnErrorAndLeavesNothingBehind)
{
    manyGroups(400);
    out.write("old.lis", "old");
    const CliOutcome r = runCli(args(out / "old.lis"), afterSetUp([] {
                                    rlimit limit = {16 * 1024, 16 * 1024};
                                    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
                                }));
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(out.read("old.lis"), "old");
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"old.lis"}));
}

TEST_F(CliOutputTest, HelpVersionAndScanOnlyFailWhenTheirOutputCannotBeWritten)
{
    for (const std::vector<std::string>& what : std::vector<std::vector<std::string>>{
             {"--help"}, {"--version"}, {"--scan-only", tree.path()}}) {
        EXPECT_EQ(statusWithOutputOn("/dev/full", what), 2) << what[0];
        EXPECT_EQ(statusWithOutputOn("/dev/null", what), 0) << what[0];
    }
}

TEST_F(CliOutputTest, HangUpAndQuitStopTheSearchAsTerminateDoes)
{
    manyGroups(20);
    for (int i = 0; i < 3000; ++i) {
        tree.write("wide/" + std::to_string(i) + "/f.txt", "same");
    }
    for (const int signal : {SIGHUP, SIGQUIT, SIGTERM}) {
        CliRun how = whileItRuns([signal](pid_t pid) {
            for (int i = 0; i < 4000 && !catches(pid, signal); ++i) {
                ::usleep(500);
            }
            ::kill(pid, signal);
        });
        how.setUp = [] {
            rlimit none = {0, 0};  // no core file from SIGQUIT
            return ::setrlimit(RLIMIT_CORE, &none) == 0;
        };
        const CliOutcome r = runCli(args(out / "stopped.txt"), how);
        EXPECT_EQ(r.signal, 0) << strsignal(signal);
        EXPECT_EQ(r.status, 1) << strsignal(signal) << r.err;
        EXPECT_TRUE(out.exists("stopped.txt")) << strsignal(signal);
        EXPECT_FALSE(holdsTemporary(out.path())) << strsignal(signal);
        out.remove("stopped.txt");
    }
}

TEST_F(CliOutputTest, NoSignalLeavesATemporaryFileBehind)
{
    // The program is held still while its temporary output file exists, and
    // the signals arrive. A stop signal lets the output finish; a second
    // stop signal, or any other signal, ends the program at once, without
    // leaving the temporary file.
    manyGroups(1500);
    const CliOutcome clean = runCli(args(out / "clean.txt"));
    ASSERT_EQ(clean.status, 0);
    const std::string complete = out.read("clean.txt");
    out.remove("clean.txt");

    const std::vector<std::vector<int>> cases = {{SIGHUP},  {SIGQUIT}, {SIGINT, SIGTERM},
                                                 {SIGUSR1}, {SIGALRM}, {SIGPIPE}};
    for (const std::vector<int>& signals : cases) {
        const std::string name = strsignal(signals.back());
        bool caught = false;
        CliOutcome r;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            out.write("result.txt", "old");
            CliRun how = whileItRuns([&](pid_t pid) {
                for (;;) {
                    if (holdsTemporary(out.path())) {
                        ::kill(pid, SIGSTOP);
                        caught = holdsTemporary(out.path());
                        for (const int signal : signals) {
                            ::kill(pid, signal);
                        }
                        ::kill(pid, SIGCONT);
                        return;
                    }
                    siginfo_t info = {};
                    if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == pid) {
                        return;  // ended before its output was seen
                    }
                }
            });
            how.setUp = [] {
                rlimit none = {0, 0};  // no core file from SIGQUIT
                return ::setrlimit(RLIMIT_CORE, &none) == 0;
            };
            r = runCli(args(out / "result.txt"), how);
        }
        ASSERT_TRUE(caught) << name << ": the temporary file was never seen";
        EXPECT_FALSE(holdsTemporary(out.path())) << name;
        if (signals.size() == 1 && (signals[0] == SIGHUP || signals[0] == SIGQUIT)) {
            EXPECT_EQ(r.signal, 0) << name;
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_TRUE(out.read("result.txt") == complete) << name << ": not the whole result";
        } else {
            // Ended by the signal; the file is the old one or the whole new
            // one (when the signal came as the rename was done), never a part.
            EXPECT_NE(std::find(signals.begin(), signals.end(), r.signal), signals.end())
                << name << ": ended with status " << r.status << ", signal " << r.signal;
            const std::string now = out.read("result.txt");
            EXPECT_TRUE(now == "old" || now == complete) << name << ": a part was written";
        }
    }
}

TEST_F(CliOutputTest, AKnownListCanBeAPipeAndAFailureSaysWhy)
{
    // --known <(...): the list arrives on a pipe, here descriptor 9.
    const std::string list = tree / "b/report.txt\n";
    const CliOutcome piped =
        runCli({"-q", "--any-time", "--format", "paths", "--known", "/dev/fd/9", tree.path()},
               afterSetUp([&list] {
                   int ends[2];
                   if (::pipe(ends) != 0 || ::dup2(ends[0], 9) != 9) {
                       return false;
                   }
                   const bool written = ::write(ends[1], list.data(), list.size()) ==
                                        static_cast<ssize_t>(list.size());
                   ::close(ends[1]);
                   ::close(ends[0]);
                   return written;
               }));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, "");  // the only copy of a/report.txt is known

    // A FIFO on disk, written once the program opens it.
    out.fifo("known.fifo");
    std::atomic<bool> ended{false};
    std::thread writer([&] {
        while (!ended) {
            const int fd = ::open((out / "known.fifo").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, 0);
                ::write(fd, list.data(), list.size());
                ::close(fd);
                return;
            }
            ::usleep(1000);  // no reader yet
        }
    });
    const CliOutcome fifo = runCli(
        {"-q", "--any-time", "--format", "paths", "--known", out / "known.fifo", tree.path()});
    ended = true;
    writer.join();
    EXPECT_EQ(fifo.status, 0) << fifo.err;
    EXPECT_EQ(fifo.out, "");

    CliOutcome r = runCli({"--known", out / "missing.lis", tree.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read the list of known duplicates " + out / "missing.lis" +
                         ": No such file or directory"),
              std::string::npos)
        << r.err;
    r = runCli({"--known", out.path(), tree.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(": Is a directory"), std::string::npos) << r.err;
}

TEST_F(CliOutputTest, RunningOutOfMemoryIsSaidAndWhatWasFoundIsWritten)
{
    // Limits of the address space between what the program needs to start
    // and what the whole result needs: every run must end with the result or
    // with the out-of-memory status and its message, never with an abort,
    // and some must write the groups found until then.
    manyGroups(3000);
    const auto withLimit = [](rlim_t bytes) {
        return afterSetUp([bytes] {
            rlimit limit = {bytes, bytes};
            return ::setrlimit(RLIMIT_AS, &limit) == 0;
        });
    };
    // The cache's helper thread and its database take their memory before
    // any group is found, so the search is measured without them.
    const std::vector<std::string> search = {"-q", "--any-time", "--no-cache", tree.path()};
    if (runCli(search, withLimit(rlim_t(2) << 30)).status != 0) {
        GTEST_SKIP() << "this build cannot run under a limit of its address space "
                        "(the sanitizers reserve terabytes)";
    }
    // The least the program needs to start, and the least that gives the
    // whole result, each to 256 KiB.
    const auto least = [&](const std::vector<std::string>& what) {
        rlim_t enough = rlim_t(2) << 30;
        rlim_t tooLittle = 1 << 20;
        while (enough - tooLittle > (256 << 10)) {
            const rlim_t middle = tooLittle + (enough - tooLittle) / 2;
            (runCli(what, withLimit(middle)).status == 0 ? enough : tooLittle) = middle;
        }
        return enough;
    };
    const rlim_t start = least({"--version"});
    const rlim_t whole = least(search);
    ASSERT_GT(whole, start + (1 << 20)) << "the search needs too little memory to be cut short";
    int partial = 0;
    const rlim_t step = std::max<rlim_t>((whole - start) / 24, 64 << 10);
    for (rlim_t limit = start + step; limit < whole; limit += step) {
        const CliOutcome r = runCli(search, withLimit(limit));
        ASSERT_EQ(r.signal, 0) << "limit " << limit << ": " << r.err;
        if (r.status == 0) {
            continue;
        }
        ASSERT_EQ(r.status, 4) << "limit " << limit << ": " << r.err;
        EXPECT_NE(r.err.find("gemmora-cli: out of memory"), std::string::npos) << r.err;
        if (r.out.empty()) {
            continue;
        }
        // What is written is whole groups of whole lines.
        ++partial;
        std::size_t files = 0;
        for (const std::string& line : text::splitLines(r.out)) {
            const settings::ResultRow row = settings::parseResultLine(line);
            if (!row.subItems.empty()) {
                ++files;
                EXPECT_GE(row.subItems.size(), 5u) << line;
            } else if (!row.caption.empty()) {
                EXPECT_EQ(row.caption, "Duplicate files .....");
                EXPECT_TRUE(files == 0 || files >= 2) << "a group of one file";
                files = 0;
            }
        }
        EXPECT_GE(files, 2u) << "the last group is cut";
    }
    EXPECT_GT(partial, 0) << "no run wrote the groups found before the memory ran out";
}
