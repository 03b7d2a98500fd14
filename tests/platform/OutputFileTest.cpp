// Tests of the user's output file: replacement, modes, owners, links and special files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutputFile.h"

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/FolderListing.h"
#include "platform/HelperThread.h"
#include "platform/WholeFile.h"
#include "text/StringList.h"
#include "support/TempFolder.h"

using platform::OutputFile;

namespace {

constexpr uid_t kNobody = 65534;

bool writeOutput(const std::string& path, const std::string& text)
{
    OutputFile out;
    return out.open(path) && out.write(text) && out.commit();
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

class OutputFileTest : public ::testing::Test {
protected:
    TempFolder dir;
};

}  // namespace

TEST_F(OutputFileTest, ANewFileTakesItsModeFromTheUmaskAndNothingElseIsLeft)
{
    const mode_t saved = ::umask(027);
    const bool ok = writeOutput(dir / "new.lis", "text\n");
    ::umask(saved);
    ASSERT_TRUE(ok);
    EXPECT_EQ(dir.read("new.lis"), "text\n");
    EXPECT_EQ(statOf(dir / "new.lis").st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"new.lis"}));

    // A bare name goes to the current folder.
    const std::string here = platform::currentFolder();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    EXPECT_TRUE(writeOutput("bare.lis", "bare"));
    ASSERT_EQ(::chdir(here.c_str()), 0);
    EXPECT_EQ(dir.read("bare.lis"), "bare");
}

TEST_F(OutputFileTest, AnExistingFileIsReplacedWholeKeepingItsModeAndOwner)
{
    dir.write("old.lis", "old text");
    dir.chmod("old.lis", 0600);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "old.lis").c_str(), kNobody, kNobody), 0);
    }
    const ino_t before = statOf(dir / "old.lis").st_ino;
    ASSERT_TRUE(writeOutput(dir / "old.lis", "new text"));
    const struct stat after = statOf(dir / "old.lis");
    EXPECT_EQ(dir.read("old.lis"), "new text");
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    EXPECT_NE(after.st_ino, before);  // replaced, not rewritten
    if (root) {
        EXPECT_EQ(after.st_uid, kNobody);
        EXPECT_EQ(after.st_gid, kNobody);
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"old.lis"}));
}

TEST_F(OutputFileTest, ALinkIsFollowedToTheFileItNames)
{
    dir.write("target.lis", "old");
    dir.chmod("target.lis", 0640);
    dir.symlink(dir / "target.lis", "link.lis");
    dir.symlink("nothing-yet.lis", "dangling.lis");
    ASSERT_TRUE(writeOutput(dir / "link.lis", "through the link"));
    EXPECT_TRUE(S_ISLNK(statOf(dir / "link.lis").st_mode));
    EXPECT_EQ(dir.read("target.lis"), "through the link");
    EXPECT_EQ(statOf(dir / "target.lis").st_mode & 07777, 0640u);

    ASSERT_TRUE(writeOutput(dir / "dangling.lis", "made"));
    EXPECT_TRUE(S_ISLNK(statOf(dir / "dangling.lis").st_mode));
    EXPECT_EQ(dir.read("nothing-yet.lis"), "made");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dangling.lis", "link.lis",
                                                             "nothing-yet.lis", "target.lis"}));
}

TEST_F(OutputFileTest, AFifoIsWrittenInPlaceOnceItHasAReader)
{
    dir.fifo("pipe");
    std::string received;
    std::thread reader([&] {
        received = dir.read("pipe");  // opens, then reads to the end
    });
    const bool ok = writeOutput(dir / "pipe", std::string(200000, 'p'));
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(received, std::string(200000, 'p'));
    EXPECT_TRUE(S_ISFIFO(statOf(dir / "pipe").st_mode));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"pipe"}));
}

TEST_F(OutputFileTest, ADeviceIsWrittenInPlaceAndItsErrorsCount)
{
    // Private copies of /dev/null and /dev/full: the system's own must never
    // be put at stake by a test.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "device nodes cannot be made here (needs root)";
    }
    EXPECT_TRUE(writeOutput(dir / "null", "gone"));
    EXPECT_TRUE(S_ISCHR(statOf(dir / "null").st_mode));

    OutputFile full;
    ASSERT_TRUE(full.open(dir / "full"));
    EXPECT_FALSE(full.write("no room"));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(S_ISCHR(statOf(dir / "full").st_mode));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"full", "null"}));
}

TEST_F(OutputFileTest, AFileWithOtherNamesIsWrittenInPlace)
{
    dir.write("one.lis", "old text, long");
    dir.hardlink("one.lis", "two.lis");
    ASSERT_TRUE(writeOutput(dir / "one.lis", "new"));
    EXPECT_EQ(dir.read("two.lis"), "new");
    EXPECT_EQ(statOf(dir / "one.lis").st_ino, statOf(dir / "two.lis").st_ino);
}

TEST_F(OutputFileTest, WhereTheFileCannotBeReplacedItIsWrittenInPlace)
{
    // A folder the writer may not change, and a shared sticky folder where
    // the file belongs to someone else: both are written in place, and the
    // file keeps its owner.
    dir.write("closed/out.lis", "old");
    dir.chmod("closed/out.lis", 0666);
    dir.chmod("closed", 0555);
    dir.write("shared/out.lis", "old");
    dir.chmod("shared/out.lis", 0666);
    dir.chmod("shared", 01777);
    const int result = runWithoutPrivileges([&] {
        if (!writeOutput(dir / "closed/out.lis", "new closed")) {
            return 1;
        }
        return writeOutput(dir / "shared/out.lis", "new shared") ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dir.read("closed/out.lis"), "new closed");
    EXPECT_EQ(dir.read("shared/out.lis"), "new shared");
    EXPECT_EQ(namesIn(dir / "shared"), (std::vector<std::string>{"out.lis"}));
}

TEST_F(OutputFileTest, APlantedTemporaryNameIsNeverUsed)
{
    // Another user plants files under the names a temporary file once had
    // (NAME.tmp-PID); the result must still be the writer's own file.
    const bool root = ::geteuid() == 0;
    for (const char* name : {"result.lis", "list.lis"}) {
        const std::string planted =
            dir / (std::string(name) + ".tmp-" + std::to_string(::getpid()));
        dir.write(planted.substr(dir.path().size()), "planted");
        ::chmod(planted.c_str(), 0666);
        if (root) {
            ASSERT_EQ(::chown(planted.c_str(), kNobody, kNobody), 0);
        }
    }
    const mode_t saved = ::umask(022);
    ASSERT_TRUE(writeOutput(dir / "result.lis", "mine"));
    ASSERT_TRUE(platform::writeFileAtomically(dir / "list.lis", "mine too"));
    ::umask(saved);
    for (const char* name : {"result.lis", "list.lis"}) {
        const struct stat st = statOf(dir / name);
        EXPECT_EQ(st.st_uid, ::geteuid()) << name;
        EXPECT_EQ(st.st_mode & 07777, 0644u) << name;
        EXPECT_EQ(dir.read(std::string(name) + ".tmp-" + std::to_string(::getpid())), "planted");
    }
    EXPECT_EQ(dir.read("result.lis"), "mine");
    EXPECT_EQ(dir.read("list.lis"), "mine too");
}

TEST_F(OutputFileTest, AnOutputNotCommittedLeavesTheOldFileAndNoTemporary)
{
    dir.write("keep.lis", "old");
    {
        OutputFile out;
        ASSERT_TRUE(out.open(dir / "keep.lis"));
        ASSERT_TRUE(out.write("half"));
        EXPECT_TRUE(out.hasTemporary());
        EXPECT_EQ(namesIn(dir.path()).size(), 2u);
    }
    EXPECT_EQ(dir.read("keep.lis"), "old");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"keep.lis"}));

    OutputFile out;
    ASSERT_TRUE(out.open(dir / "keep.lis"));
    out.removeTemporary();
    EXPECT_FALSE(out.hasTemporary());
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"keep.lis"}));

    OutputFile folder;
    EXPECT_FALSE(folder.open(dir.path()));
    EXPECT_EQ(errno, EISDIR);
    OutputFile missing;
    EXPECT_FALSE(missing.open(dir / "no/such/folder.lis"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(OutputFileTest, AFullFileSystemFailsWithItsReasonAndKeepsTheOldFile)
{
    const std::string folder = dir.path();
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
        OutputFile out;
        if (!out.open(folder + "old.lis")) {
            return 11;
        }
        const std::string text(1 << 20, 'x');
        if (out.write(text) && out.commit()) {
            return 12;  // the file system was not full after all
        }
        if (errno != ENOSPC) {
            return 13;
        }
        if (out.commit() || errno == 0) {
            return 14;
        }
        std::string old;
        platform::readWholeFile(folder + "old.lis", old);
        if (old != "old") {
            return 15;
        }
        return namesIn(folder) == std::vector<std::string>{"old.lis"} ? 0 : 16;
    });
    if (result == 77) {
        GTEST_SKIP() << "mounting a small tmpfs is refused here (needs root and unshare)";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(OutputFileTest, ASignalToTheProcessWaitsForTheThreadThatHoldsItBack)
{
    // The handler that removes a temporary file must run on the thread that
    // holds signals back while the file comes and goes, never on a helper
    // beside it, which would find the file made but not yet known.
    EXPECT_EQ(inChild([] {
                  static std::atomic<pthread_t> handledOn{};
                  struct sigaction action = {};
                  action.sa_handler = [](int) { handledOn = ::pthread_self(); };
                  ::sigaction(SIGUSR1, &action, nullptr);
                  std::atomic<bool> done{false};
                  std::vector<std::thread> helpers;
                  for (int i = 0; i < 4; ++i) {
                      helpers.push_back(platform::startHelperThread([&done] {
                          while (!done) {
                              ::usleep(1000);
                          }
                      }));
                  }
                  sigset_t one;
                  sigemptyset(&one);
                  sigaddset(&one, SIGUSR1);
                  ::pthread_sigmask(SIG_BLOCK, &one, nullptr);
                  ::kill(::getpid(), SIGUSR1);
                  ::usleep(50'000);  // a helper open to it would take it meanwhile
                  const bool waited = handledOn.load() == pthread_t{};
                  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
                  done = true;
                  for (std::thread& helper : helpers) {
                      helper.join();
                  }
                  return waited && ::pthread_equal(handledOn.load(), ::pthread_self()) ? 0 : 1;
              }),
              0);
}
