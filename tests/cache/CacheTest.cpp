// Tests of the cache of earlier searches: what it proves, what it never trusts, and its file.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "cache/ContentStore.h"
#include "cache/FileSystems.h"
#include "cache/Reuse.h"
#include "search/SearchRun.h"
#include "support/TempFolder.h"
#include "support/TestWindow.h"

namespace {

cache::Known known(std::int64_t classId, std::uint64_t head)
{
    cache::Known k;
    k.trusted = true;
    k.classId = classId;
    k.headLength = 4096;
    k.head = head;
    return k;
}

TEST(CachePlan, ConfirmedCopiesRideAndDistinctHeadsAreNotRead)
{
    // 0 and 2 were confirmed identical; 1 and 3 have heads of their own.
    cache::GroupPlan plan = cache::planGroup({known(5, 1), known(0, 2), known(5, 1), known(0, 3)}, {});
    EXPECT_EQ(plan.standsWith, (std::vector<std::size_t>{0, 1, 0, 3}));
    EXPECT_EQ(plan.read, (std::vector<bool>{false, false, false, false}));

    // A head shared by files never compared with each other proves nothing.
    plan = cache::planGroup({known(5, 1), known(7, 1), known(0, 2)}, {});
    EXPECT_EQ(plan.read, (std::vector<bool>{true, true, false}));

    // A file the cache knows nothing of is compared with every other.
    cache::Known unknown;
    plan = cache::planGroup({known(5, 1), known(0, 2), unknown, known(5, 1)}, {});
    EXPECT_EQ(plan.read, (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(plan.standsWith[3], 0u);

    // Entries whose key did not match count for nothing, class or head.
    cache::Known stale = known(5, 1);
    stale.trusted = false;
    plan = cache::planGroup({known(5, 1), stale}, {});
    EXPECT_EQ(plan.standsWith[1], 1u);
    EXPECT_EQ(plan.read, (std::vector<bool>{true, true}));

    // Equal heads: chunk digests that differ at one place prove the files
    // different; at different places, or equal, they prove nothing.
    auto withChunk = [](std::int64_t offset, std::uint32_t digest) {
        cache::Known k = known(0, 1);
        k.chunks.add({offset, 4096, digest});
        return k;
    };
    plan = cache::planGroup({withChunk(4096, 1), withChunk(4096, 2)}, {});
    EXPECT_EQ(plan.read, (std::vector<bool>{false, false}));
    plan = cache::planGroup({withChunk(4096, 1), withChunk(8192, 2), withChunk(4096, 1)}, {});
    EXPECT_EQ(plan.read, (std::vector<bool>{true, true, true}));

    // Parts are never compared: a copy in another part rides with nobody.
    plan = cache::planGroup({known(5, 1), known(5, 1), unknown}, {10, 11, 11});
    EXPECT_EQ(plan.standsWith, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(plan.read, (std::vector<bool>{false, true, true}));
}

TEST(CacheFileSystems, IdentityByUuidOrDeviceAndUntrustedTypesLeftAlone)
{
    auto mount = [](std::string device, std::string type, std::string source, std::string opts) {
        platform::MountEntry m;
        m.device = std::move(device);
        m.type = std::move(type);
        m.source = std::move(source);
        m.superOptions = std::move(opts);
        return m;
    };
    const std::vector<platform::MountEntry> table = {
        mount("8:1", "ext4", "/dev/sda1", "rw"),
        mount("8:2", "xfs", "/dev/sda2", "rw"),
        mount("8:17", "vfat", "/dev/sdb1", "rw"),
        mount("0:40", "fuse.sshfs", "host:/", "rw"),
        mount("0:41", "nfs4", "server:/export", "rw"),
        mount("0:50", "btrfs", "/dev/sdc1", "rw,subvolid=256,subvol=/home"),
        mount("0:51", "btrfs", "/dev/sdd1", "rw,subvolid=256,subvol=/a"),
        mount("0:51", "btrfs", "/dev/sdd1", "rw,subvolid=257,subvol=/b")};
    auto uuid = [](const std::string& source) {
        return source == "/dev/sda1" ? std::string("1111-aaaa")
               : source == "/dev/sdc1" ? std::string("2222-bbbb")
                                       : std::string();
    };
    cache::FileSystems systems(table, uuid);
    EXPECT_EQ(systems.of(makedev(8, 1)).identity, "uuid:1111-aaaa");
    EXPECT_FALSE(systems.of(makedev(8, 1)).byDevice);
    EXPECT_EQ(systems.of(makedev(8, 2)).identity, "device:8:2");
    EXPECT_TRUE(systems.of(makedev(8, 2)).byDevice);
    EXPECT_EQ(systems.of(makedev(0, 50)).identity, "uuid:2222-bbbb/subvolume:256");
    for (const dev_t untrusted : {makedev(8, 17), makedev(0, 40), makedev(0, 41), makedev(0, 51),
                                  makedev(9, 9)}) {
        EXPECT_EQ(systems.of(untrusted).identity, "");
        EXPECT_NE(systems.of(untrusted).why, "");
    }
}

// Bytes that look like a file's contents, the same for the same seed.
std::string noise(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    std::uint64_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state);
    }
    return bytes;
}

// Whole searches over a tree in `tree/`, the cache in `cache/` beside it.
class CacheSearchTest : public ::testing::Test {
protected:
    TempFolder dir;
    std::vector<std::string> messages;
    std::size_t reads = 0;

    std::string cacheFolder() const { return dir / "cache"; }

    bool sameTime = false;

    std::vector<std::string> search(bool useCache, const search::ReadLimits* limits = nullptr,
                                    const std::string& below = "")
    {
        TestWindow window;
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = dir / ("tree/" + below);
        window.checks[search::Check::CheckFileTimestamp] = sameTime;
        search::SearchRun run{window};
        run.comparison.useCache = useCache;
        run.comparison.cacheFolder = cacheFolder();
        if (limits != nullptr) {
            run.comparison.limits = *limits;
            // Narrow: the cache is written along from the first entry learned.
            run.comparison.cacheWriteBatch = 1;
        }
        run.btnSearchClick();
        reads = run.comparison.ReadCount;
        messages = window.messages;
        return window.rowTexts(dir / "tree/");
    }

    // Copies, files of one size with other heads, and many files of one size.
    void generate()
    {
        for (unsigned i = 0; i < 3; ++i) {
            dir.write("tree/a" + std::to_string(i), noise(9000, 1));
            dir.write("tree/b" + std::to_string(i), noise(9000, 2 + i));
        }
        dir.write("tree/deep/c1", noise(70000, 9));
        dir.write("tree/deep/c2", noise(70000, 9));
        for (unsigned i = 0; i < 40; ++i) {
            dir.write("tree/many/m" + std::to_string(i), noise(5000, 100 + i % 25));
        }
    }

    // Files are kept only once their change time is two seconds behind.
    static void letTimePass() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

    // Writes over a file's bytes in place and sets its write time back.
    void rewrite(const std::string& relative, const std::string& bytes)
    {
        struct stat before {};
        ASSERT_EQ(::stat((dir / relative).c_str(), &before), 0);
        const int fd = ::open((dir / relative).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }

    // Runs `text` on the cache file, as another program could.
    void sqlOnCache(const char* text)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(cache::ContentStore::fileIn(cacheFolder()).c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, text, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    bool said(const std::string& part) const
    {
        for (const std::string& m : messages) {
            if (m.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(CacheSearchTest, SecondSearchReadsNothingAndAnswersAsWithout)
{
    generate();
    letTimePass();
    search::ReadLimits narrow;
    narrow.memoryBytes = 8192;
    narrow.windowFiles = 8;
    narrow.heldFiles = 2;
    narrow.readers = 3;
    for (const search::ReadLimits* limits : {static_cast<search::ReadLimits*>(nullptr), &narrow}) {
        ASSERT_TRUE(cache::ContentStore::clear(cacheFolder()));
        const std::vector<std::string> without = search(false, limits);
        ASSERT_GT(reads, 0u);
        EXPECT_EQ(search(true, limits), without);
        EXPECT_GT(reads, 0u);
        EXPECT_EQ(search(true, limits), without);
        EXPECT_EQ(reads, 0u);
        EXPECT_TRUE(messages.empty());
    }
    struct stat st {};
    ASSERT_EQ(::stat(cache::ContentStore::fileIn(cacheFolder()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(cacheFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(CacheSearchTest, FilesThatDifferAfterTheirHeadsAreNotReadAgain)
{
    // Heads alike, the rest apart: only the chunks read after the head
    // tell them apart next time.
    const std::string head = noise(4096, 7);
    dir.write("tree/a", head + noise(60000, 1));
    dir.write("tree/b", head + noise(60000, 2));
    dir.write("tree/c", head + noise(60000, 3));
    letTimePass();
    const std::vector<std::string> without = search(false);
    EXPECT_TRUE(without.empty());
    search(true);
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(search(true), without);
    EXPECT_EQ(reads, 0u);
    // A copy of one of them, new to the cache, is read with all three.
    dir.write("tree/d", head + noise(60000, 2));
    EXPECT_EQ(search(true), (std::vector<std::string>{"Duplicate files .....", "b", "d"}));
}

TEST_F(CacheSearchTest, HostileTreesGetTheSameAnswersWithTheCache)
{
    // Names no line can hold, links, a FIFO, hard links, heads shared by
    // files that differ later, copies of which some share a time.
    const std::string head = noise(4096, 7);
    for (int i = 0; i < 12; ++i) {
        const std::string name = i % 3 == 0 ? "tree/new\nline" : i % 3 == 1 ? "tree/bad\xff" : "tree/x";
        dir.write(name + std::to_string(i), head + noise(3000, 20 + i % 4));
        dir.touch(name + std::to_string(i), 1600000000 + (i % 2) * 10);
    }
    dir.write("tree/deep/one", noise(6000, 3));
    dir.hardlink("tree/deep/one", "tree/deep/two");
    dir.write("tree/deep/three", noise(6000, 3));
    dir.symlink(dir / "tree/deep/one", "tree/deep/link");
    dir.fifo("tree/deep/fifo");
    dir.write("tree/empty1", "");
    dir.write("tree/empty2", "");
    letTimePass();
    for (const bool byTime : {false, true}) {
        SCOPED_TRACE(byTime);
        sameTime = byTime;
        ASSERT_TRUE(cache::ContentStore::clear(cacheFolder()));
        const std::vector<std::string> without = search(false);
        ASSERT_GT(without.size(), 8u);
        EXPECT_EQ(search(true), without);
        EXPECT_EQ(search(true), without);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(CacheSearchTest, ChangedOrReplacedFilesAreNeverTakenForTheirOldSelves)
{
    dir.write("tree/a", noise(9000, 1));
    dir.write("tree/b", noise(9000, 1));
    dir.write("tree/c", noise(9000, 2));
    dir.write("tree/d", noise(9000, 3));
    letTimePass();
    search(true);
    search(true);
    ASSERT_EQ(reads, 0u);

    // b rewritten in place with c's bytes, its size kept and its time set
    // back; d replaced by a new file of a's bytes with d's name and times.
    rewrite("tree/b", noise(9000, 2));
    struct stat old {};
    ASSERT_EQ(::stat((dir / "tree/d").c_str(), &old), 0);
    dir.write("tree/d.new", noise(9000, 1));
    const timespec times[2] = {old.st_atim, old.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "tree/d.new").c_str(), times, 0), 0);
    ASSERT_EQ(::rename((dir / "tree/d.new").c_str(), (dir / "tree/d").c_str()), 0);

    const std::vector<std::string> without = search(false);
    EXPECT_EQ(without, (std::vector<std::string>{"Duplicate files .....", "a", "d", "",
                                                 "Duplicate files .....", "b", "c"}));
    EXPECT_EQ(search(true), without);
    // Just written: not kept, so read again next time.
    EXPECT_EQ(search(true), without);
    EXPECT_GT(reads, 0u);
}

// The files a reader rewrites, all with the same other bytes of their size,
// before it digests its first chunk.
std::atomic<const std::vector<std::string>*> g_rewriteOnFirstDigest{nullptr};

std::uint64_t digestAfterRewriting(const unsigned char* bytes, std::size_t length)
{
    if (const std::vector<std::string>* paths = g_rewriteOnFirstDigest.exchange(nullptr)) {
        const std::string other = noise(400000, 6);
        for (const std::string& path : *paths) {
            const int fd = ::open(path.c_str(), O_WRONLY);
            EXPECT_EQ(::pwrite(fd, other.data(), other.size(), 0),
                      static_cast<ssize_t>(other.size()));
            ::close(fd);
        }
    }
    return platform::chunkHash(bytes, length);
}

TEST_F(CacheSearchTest, CopiesKnownFromTheCacheStayCopiesWhenTheOneReadForThemChanges)
{
    // a0, a1 and a2 were confirmed identical; the b files differ from them
    // only in their last bytes, so one of the a files is read for the three,
    // and all three change alike while it is read. The two not read are
    // still copies of each other; the one read is taken as changed.
    const std::string bytes = noise(400000, 1);
    std::vector<std::string> copies;
    for (int i = 0; i < 3; ++i) {
        dir.write("tree/a" + std::to_string(i), bytes);
        copies.push_back(dir / ("tree/a" + std::to_string(i)));
    }
    letTimePass();
    search(true);
    for (const char last : {'!', '?', '#', '%'}) {
        dir.write(std::string("tree/b") + last, bytes.substr(0, bytes.size() - 1) + last);
    }
    g_rewriteOnFirstDigest = &copies;
    search::ReadLimits narrow;
    narrow.memoryBytes = 8192;
    narrow.readers = 1;
    narrow.digest = digestAfterRewriting;
    const std::vector<std::string> rows = search(true, &narrow);
    EXPECT_EQ(g_rewriteOnFirstDigest.load(), nullptr);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "Duplicate files .....");
    EXPECT_TRUE(rows[1][0] == 'a' && rows[2][0] == 'a' && rows[1] != rows[2]);
}

TEST_F(CacheSearchTest, DamagedForeignOrOtherCacheFilesAreSetAsideNeverBelieved)
{
    dir.write("tree/a", noise(9000, 1));
    dir.write("tree/b", noise(9000, 1));
    dir.write("tree/c", noise(9000, 2));
    dir.write("tree/d", noise(9000, 3));
    for (unsigned i = 0; i < 300; ++i) {
        dir.write("tree/more/f" + std::to_string(i), noise(3000, 50 + i % 150));
    }
    letTimePass();
    const std::vector<std::string> without = search(false);
    const std::string file = cache::ContentStore::fileIn(cacheFolder());
    auto sql = [&](const char* text) { sqlOnCache(text); };
    const std::vector<std::function<void()>> damage = {
        // c and d made to look like copies of a: a changed value.
        [&] { sql("UPDATE file SET class = (SELECT max(class) FROM file) WHERE 1"); },
        [&] { ASSERT_EQ(::truncate(file.c_str(), 6000), 0); },
        [&] {
            const int fd = ::open(file.c_str(), O_WRONLY);
            const std::string junk(3000, 'x');
            ASSERT_EQ(::pwrite(fd, junk.data(), junk.size(), 2000), 3000);
            ::close(fd);
        },
        [&] { sql("PRAGMA user_version = 99"); },
        [&] { sql("DROP TABLE state"); },
        [&] { ASSERT_EQ(::chown(file.c_str(), ::geteuid() + 1, ::getegid()), 0); },
    };
    for (std::size_t i = 0; i < damage.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(cache::ContentStore::clear(cacheFolder()));
        search(true);
        if (i == damage.size() - 1 && ::geteuid() != 0) {
            continue;  // only the superuser can give a file away
        }
        damage[i]();
        EXPECT_EQ(search(true), without);
        EXPECT_TRUE(said("made anew")) << (messages.empty() ? "" : messages.front());
        EXPECT_GT(reads, 0u);
        EXPECT_EQ(search(true), without);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(CacheSearchTest, AClassCounterSetBackNeverHandsOutAClassFilesHave)
{
    // a/ and b/ hold two pairs of copies of one size, searched apart; between
    // the two searches the counter of classes goes back to its start, as a
    // page lost with the power could leave it.
    dir.write("tree/a/1", noise(9000, 1));
    dir.write("tree/a/2", noise(9000, 1));
    dir.write("tree/b/1", noise(9000, 2));
    dir.write("tree/b/2", noise(9000, 2));
    letTimePass();
    const std::vector<std::string> without = search(false);
    search(true, nullptr, "a/");
    sqlOnCache("UPDATE state SET value = 1 WHERE name = 'next_class'");
    search(true, nullptr, "b/");
    EXPECT_EQ(search(true), without);
}

TEST_F(CacheSearchTest, BusyCacheLeavesTheSearchAsWithout)
{
    dir.write("tree/a", noise(9000, 1));
    dir.write("tree/b", noise(9000, 1));
    dir.write("tree/c", noise(9000, 2));
    letTimePass();
    const std::vector<std::string> without = search(false);
    search(true);
    // Another program holds the cache locked for writing throughout.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cache::ContentStore::fileIn(cacheFolder()).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(search(true), without);
    EXPECT_GT(reads, 0u);
    EXPECT_FALSE(messages.empty());
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    // A new, empty cache file that another search is setting up is theirs:
    // this search does without it and leaves the file where it is.
    const std::string file = cache::ContentStore::fileIn(cacheFolder());
    ASSERT_TRUE(cache::ContentStore::clear(cacheFolder()));
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    EXPECT_EQ(search(true), without);
    EXPECT_TRUE(said("busy"));
    struct stat after {};
    EXPECT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

}  // namespace

namespace {

// In a child with a mount namespace of its own: the tree on a loop-mounted
// image, searched, unmounted, mounted under another path through another
// loop device, and searched again. 0: the second search read nothing and
// agreed; 77: mounting was refused.
int searchAcrossRemount(const std::string& base)
{
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return 77;
    }
    const std::string image = base + "image";
    const std::string make = "truncate -s 16M " + image + " && mkfs.ext4 -q -F " + image +
                             " >/dev/null 2>&1 && mkdir -p " + base + "one " + base + "two";
    if (std::system(make.c_str()) != 0 ||
        std::system(("mount -o loop " + image + " " + base + "one 2>/dev/null").c_str()) != 0) {
        return 77;
    }
    auto fill = [&](const std::string& root) {
        const std::string a = noise(9000, 1);
        const std::string b = noise(9000, 2);
        for (const auto& [name, bytes] : {std::pair{"a1", a}, {"a2", a}, {"b", b}, {"a3", a}}) {
            const int fd = ::open((root + name).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != 9000) {
                return false;
            }
            ::close(fd);
        }
        return true;
    };
    auto searchIn = [&](const std::string& root, std::size_t& reads) {
        TestWindow window;
        window.drives = {{'C', "", false}};
        window.fields[search::Field::RootDir] = root;
        window.checks[search::Check::CheckFileTimestamp] = false;
        search::SearchRun run{window};
        run.comparison.useCache = true;
        run.comparison.cacheFolder = base + "cache";
        run.btnSearchClick();
        reads = run.comparison.ReadCount;
        return window.rowTexts(root);
    };
    if (!fill(base + "one/")) {
        return 2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    std::size_t first = 0;
    std::size_t second = 0;
    const std::vector<std::string> before = searchIn(base + "one/", first);
    // The first loop device stays attached, so the second mount gets another
    // device number.
    const std::string again = "umount " + base + "one && dev=$(losetup -f --show " + image +
                              ") && mount $dev " + base + "two";
    if (std::system(again.c_str()) != 0) {
        return 77;
    }
    const std::vector<std::string> after = searchIn(base + "two/", second);
    std::system(("umount " + base + "two; losetup -j " + image +
                 " | cut -d: -f1 | xargs -r losetup -d").c_str());
    return before.size() == 4 && before == after && first > 0 && second == 0 ? 0 : 1;
}

TEST(CacheRemount, ADriveKeepsItsCacheWhenMountedElsewhere)
{
    TempFolder dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(searchAcrossRemount(dir.path()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "a loop mount in a private mount namespace was refused";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
