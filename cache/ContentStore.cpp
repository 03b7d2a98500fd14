// The cache file: what earlier searches learned of files' contents, kept in SQLite.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/ContentStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/FileContents.h"

namespace cache {

namespace {

constexpr int kApplicationId = 0x47654D63;
constexpr int kBusyMilliseconds = 5000;

// A row of `pack` holds up to kPackEntries entries of one file system (see
// packEntry()), `oldest` the earliest day one was seen. A later pack's entry
// of an inode stands over an earlier one's, which the load leaves out and a
// compaction drops. `merged` names the class that stands for a class found
// to have the same contents, from its day on.
const char kSchema[] =
    "CREATE TABLE filesystem(id INTEGER PRIMARY KEY, identity TEXT NOT NULL UNIQUE);"
    "CREATE TABLE pack(id INTEGER PRIMARY KEY, fs INTEGER NOT NULL, oldest INTEGER NOT NULL,"
    " entries INTEGER NOT NULL, data BLOB NOT NULL, checksum INTEGER NOT NULL);"
    "CREATE INDEX pack_fs ON pack(fs, id);"
    "CREATE TABLE merged(old INTEGER PRIMARY KEY, new INTEGER NOT NULL, day INTEGER NOT NULL,"
    " checksum INTEGER NOT NULL);"
    "CREATE TABLE state(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "INSERT INTO state VALUES('next_class', 1), ('expired_day', 0);";

// SQLite's work for a row is about that of packing a hundred entries: a
// row of this many entries shares it, and stays small enough to be
// rewritten whole when its entries expire.
constexpr std::size_t kPackEntries = 256;
// No entry takes fewer bytes in a pack.
constexpr std::size_t kLeastPackedBytes = 5;

std::uint64_t zigzag(std::int64_t v)
{
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

std::int64_t unzigzag(std::uint64_t v)
{
    return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
}

// `value` in 7-bit groups, low first (as putVarint) at `at`; past its end.
unsigned char* varintAt(unsigned char* at, std::uint64_t value)
{
    while (value >= 0x80) {
        *at++ = static_cast<unsigned char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<unsigned char>(value);
    return at;
}

// The most bytes of an entry's data before its chunk digests.
constexpr std::size_t kMostFixedBytes = 5 * 10 + 8;

// An entry's data before its chunk digests (size, times, head), at `at`;
// past its end.
unsigned char* fixedDataAt(unsigned char* at, const Entry& e)
{
    at = varintAt(at, zigzag(e.size));
    at = varintAt(at, zigzag(e.writeSeconds));
    at = varintAt(at, zigzag(e.changeNs));
    at = varintAt(at, e.headLength);
    for (int b = 0; b < 8; ++b) {
        *at++ = static_cast<unsigned char>(e.head >> (8 * b));
    }
    return varintAt(at, zigzag(e.headSum));
}

// False when `bytes` are not an entry's data.
bool unpacked(const void* bytes, std::size_t length, Entry& e)
{
    const auto* at = static_cast<const unsigned char*>(bytes);
    const unsigned char* end = at + length;
    std::uint64_t size = 0, mtime = 0, ctime = 0, headLength = 0, headSum = 0;
    if (!getVarint(at, end, size) || !getVarint(at, end, mtime) || !getVarint(at, end, ctime) ||
        !getVarint(at, end, headLength) || end - at < 8 || headLength > UINT32_MAX) {
        return false;
    }
    e.head = 0;
    for (int b = 0; b < 8; ++b) {
        e.head |= static_cast<std::uint64_t>(*at++) << (8 * b);
    }
    if (!getVarint(at, end, headSum)) {
        return false;
    }
    e.size = unzigzag(size);
    e.writeSeconds = unzigzag(mtime);
    e.changeNs = unzigzag(ctime);
    e.headLength = static_cast<std::uint32_t>(headLength);
    e.headSum = static_cast<std::int32_t>(unzigzag(headSum));
    if (at == end) {
        return true;
    }
    ChunkDigests chunks;
    const bool ok = ChunkDigests::decode(at, static_cast<std::size_t>(end - at), chunks);
    e.chunks = chunks;
    return ok;
}

}  // namespace

// A statement finalised however its use ends.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }
    void bind(int at, std::int64_t value) { sqlite3_bind_int64(m_stmt, at, value); }
    void bind(int at, const std::string& text)
    {
        sqlite3_bind_text(m_stmt, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(m_stmt); }
    void reset() { sqlite3_reset(m_stmt); }
    void bind(int at, const std::string& bytes, bool blob)
    {
        if (blob) {
            // Bound until the statement is reset, which comes first.
            sqlite3_bind_blob(m_stmt, at, bytes.data(), static_cast<int>(bytes.size()),
                              SQLITE_STATIC);
        } else {
            bind(at, bytes);
        }
    }
    std::int64_t column(int at) const { return sqlite3_column_int64(m_stmt, at); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

namespace {

bool damaged(int code)
{
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT ||
           code == SQLITE_SCHEMA || code == SQLITE_IOERR_SHORT_READ;
}

// Made with its parents; the last one only for the user.
bool makeFolder(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at == folder.size() || folder[at] == '/') {
            const std::string part = folder.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// The columns of a pack outside its data.
constexpr int kCheckedFields = 4;

std::int64_t checkOf(const std::int64_t (&fields)[kCheckedFields], const void* data,
                     std::size_t dataBytes)
{
    std::uint64_t check =
        platform::chunkHash(reinterpret_cast<const unsigned char*>(fields), sizeof fields);
    if (dataBytes > 0) {
        check ^= platform::chunkHash(static_cast<const unsigned char*>(data), dataBytes) * 31;
    }
    return static_cast<std::int64_t>(check & 0x7FFFFFFF);
}

// SQLite's progress callback: nonzero interrupts the statement under way.
int progressCheck(void* cancelled)
{
    return static_cast<std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

// SQLite's busy callback: waits for another search's transaction in short
// naps, up to kBusyMilliseconds, and not at all once cancelled.
int busyWait(void* cancelled, int tries)
{
    if (static_cast<std::atomic<bool>*>(cancelled)->load() || tries * 10 >= kBusyMilliseconds) {
        return 0;
    }
    ::usleep(10'000);
    return 1;
}

// Reads the file through once, in large reads: its entries are then looked
// up from memory rather than page by page from a cold disk.
void readAhead(const std::string& path, const std::atomic<bool>& cancelled)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::vector<char> buffer(1u << 20);
    while (!cancelled && ::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

}  // namespace

namespace {

std::int64_t packCheck(std::int64_t fileSystem, std::int64_t id, std::int64_t oldest,
                       std::int64_t entries, const void* data, std::size_t dataBytes)
{
    const std::int64_t fields[kCheckedFields] = {fileSystem, id, oldest, entries};
    return checkOf(fields, data, dataBytes);
}

std::int64_t mergeCheck(std::int64_t from, std::int64_t to, std::int64_t day)
{
    const std::int64_t fields[kCheckedFields] = {from, to, day, -1};
    return checkOf(fields, nullptr, 0);
}

// Gives entries [from, end) of classes merged into others the class that
// stands for them now; false when a merge is damaged.
bool mergedClasses(sqlite3* db, std::vector<Entry>& entries, std::size_t from)
{
    std::unordered_map<std::int64_t, std::int64_t> into;
    Statement read(db, "SELECT old, new, day, checksum FROM merged");
    while (read && read.step() == SQLITE_ROW) {
        if (mergeCheck(read.column(0), read.column(1), read.column(2)) != read.column(3)) {
            return false;
        }
        into[read.column(0)] = read.column(1);
    }
    if (into.empty()) {
        return true;
    }
    for (std::size_t i = from; i < entries.size(); ++i) {
        // A class merged again later is followed on, a few steps at most.
        for (int step = 0; step < 16; ++step) {
            const auto found = into.find(entries[i].classId);
            if (found == into.end()) {
                break;
            }
            entries[i].classId = found->second;
        }
    }
    return true;
}

// Appends one entry to a pack: its inode as the step from the one before,
// its class, its day after the pack's oldest, and the length and bytes of
// its data (see fixedDataAt(), then its chunk digests). Built in place: one
// is made for every entry a search learns.
void packEntry(std::string& pack, const Entry& e, std::uint64_t previousInode, std::int64_t oldest)
{
    unsigned char fixed[kMostFixedBytes];
    const auto fixedBytes = static_cast<std::size_t>(fixedDataAt(fixed, e) - fixed);
    const std::string chunks = e.chunks.get().count != 0 ? e.chunks.get().encode() : std::string();
    unsigned char bytes[4 * 10 + kMostFixedBytes];
    unsigned char* at = bytes;
    at = varintAt(at, e.inode - previousInode);
    at = varintAt(at, zigzag(e.classId));
    at = varintAt(at, zigzag(e.seenDay - oldest));
    at = varintAt(at, fixedBytes + chunks.size());
    std::memcpy(at, fixed, fixedBytes);
    at += fixedBytes;
    pack.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(at - bytes));
    pack += chunks;
}

// Entries [first, last), in inode order, as one pack's data in `pack`; the
// day the oldest of them was seen.
std::int64_t packed(const std::vector<const Entry*>& entries, std::size_t first, std::size_t last,
                    std::string& pack)
{
    std::int64_t oldest = entries[first]->seenDay;
    for (std::size_t i = first; i < last; ++i) {
        oldest = std::min(oldest, entries[i]->seenDay);
    }
    pack.clear();
    std::uint64_t previous = 0;
    for (std::size_t i = first; i < last; ++i) {
        packEntry(pack, *entries[i], previous, oldest);
        previous = entries[i]->inode;
    }
    return oldest;
}

// The entries in inode order; they stay where they are, only their keys
// move (an entry is 72 bytes).
std::vector<const Entry*> inInodeOrder(const std::vector<Entry>& entries)
{
    std::vector<std::pair<std::uint64_t, const Entry*>> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        keys[i] = {entries[i].inode, &entries[i]};
    }
    std::sort(keys.begin(), keys.end());
    std::vector<const Entry*> order(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        order[i] = keys[i].second;
    }
    return order;
}

// Appends a pack's `count` entries to `found`; false when its bytes are not
// that many entries.
bool unpackEntries(const void* bytes, std::size_t length, std::int64_t count, std::int64_t oldest,
                   std::vector<Entry>& found)
{
    if (count < 0 || static_cast<std::uint64_t>(count) > length / kLeastPackedBytes) {
        return false;
    }
    const auto* at = static_cast<const unsigned char*>(bytes);
    const unsigned char* end = at + length;
    std::uint64_t inode = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint64_t step = 0, classId = 0, seen = 0, dataBytes = 0;
        if (!getVarint(at, end, step) || !getVarint(at, end, classId) ||
            !getVarint(at, end, seen) || !getVarint(at, end, dataBytes) ||
            dataBytes > static_cast<std::uint64_t>(end - at)) {
            return false;
        }
        Entry& e = found.emplace_back();
        inode += step;
        e.inode = inode;
        e.classId = unzigzag(classId);
        e.seenDay = oldest + unzigzag(seen);
        if (!unpacked(at, static_cast<std::size_t>(dataBytes), e)) {
            return false;
        }
        at += dataBytes;
    }
    return at == end;
}

// Leaves out, from `entries`[from, end), every entry but the last of its
// inode; the number left out.
std::size_t keepLatest(std::vector<Entry>& entries, std::size_t from)
{
    const std::size_t count = entries.size() - from;
    std::vector<std::pair<std::uint64_t, std::size_t>> keys(count);
    bool sorted = true;
    for (std::size_t i = 0; i < count; ++i) {
        keys[i] = {entries[from + i].inode, i};
        sorted = sorted && (i == 0 || keys[i - 1].first < keys[i].first);
    }
    if (sorted) {
        return 0;  // one pack, or packs that never wrote over each other
    }
    std::sort(keys.begin(), keys.end());
    std::vector<bool> over(count, false);
    std::size_t dropped = 0;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (keys[i].first == keys[i + 1].first) {
            over[keys[i].second] = true;
            ++dropped;
        }
    }
    if (dropped == 0) {
        return 0;
    }
    std::size_t kept = from;
    for (std::size_t i = 0; i < count; ++i) {
        if (!over[i]) {
            if (kept != from + i) {
                entries[kept] = std::move(entries[from + i]);
            }
            ++kept;
        }
    }
    entries.resize(kept);
    return dropped;
}

}  // namespace

ContentStore::ContentStore() = default;

ContentStore::~ContentStore()
{
    close();
}

void ContentStore::close()
{
    m_insertPack.reset();
    m_compact.clear();
    m_saving = false;
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool ContentStore::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string ContentStore::defaultFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/gemmora";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.cache/gemmora";
    }
    return "";
}

bool ContentStore::clear(const std::string& folder)
{
    const std::string path = fileIn(folder);
    ::unlink((path + "-journal").c_str());
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool ContentStore::open(const std::string& folder, std::vector<std::string>& notes)
{
    close();
    m_folder = folder;
    m_path = fileIn(folder);
    struct stat st {};
    if (folder.empty() || !makeFolder(folder) || ::lstat(folder.c_str(), &st) != 0) {
        notes.push_back("The cache folder " + folder + " cannot be made (" +
                        std::strerror(errno) + "): the cache is not used.");
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        notes.push_back("The cache folder " + folder +
                        " is not a folder of yours: the cache is not used.");
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        ::chmod(folder.c_str(), 0700);
    }
    return openFile(notes);
}

bool ContentStore::openFile(std::vector<std::string>& notes)
{
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            notes.push_back("The cache file " + m_path +
                            " was not a file of yours: it was set aside and made anew.");
            if (::unlink(m_path.c_str()) != 0) {
                return false;
            }
        } else if ((st.st_mode & 077) != 0) {
            ::chmod(m_path.c_str(), 0600);
        }
    }
    const int fd = ::open(m_path.c_str(), O_CREAT | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        notes.push_back("The cache file " + m_path + " cannot be opened (" + std::strerror(errno) +
                        "): the cache is not used.");
        return false;
    }
    ::close(fd);
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW |
                            SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        close();
        notes.push_back("The cache file " + m_path + " cannot be opened: the cache is not used.");
        return false;
    }
    sqlite3_busy_handler(m_db, busyWait, &m_cancelled);
    sqlite3_progress_handler(m_db, 1000, progressCheck, &m_cancelled);
    // The load reads each page once: a few pages, used again and again,
    // save it making room for them all. A crash while saving may damage the
    // file, which the next search then finds (every entry carries its
    // check) and sets aside, so the write is not synced. A save's insert of
    // many rows keeps the pages it changes in a statement journal, which
    // only undoes that statement within the transaction: held in memory it
    // costs a copy, in a temporary file a write of each page (10 to 20
    // times the file's size for a search's save).
    exec("PRAGMA cache_size = -1024; PRAGMA synchronous = OFF; PRAGMA temp_store = MEMORY");
    readAhead(m_path, m_cancelled);
    Statement ids(m_db, "SELECT (SELECT application_id FROM pragma_application_id),"
                        " (SELECT user_version FROM pragma_user_version),"
                        " (SELECT count(*) FROM sqlite_master)");
    const int code = ids ? ids.step() : sqlite3_errcode(m_db);
    if (code != SQLITE_ROW) {
        if (damaged(code) || damaged(sqlite3_errcode(m_db))) {
            return rebuild("was damaged", notes);
        }
        close();
        notes.push_back("The cache file " + m_path + " cannot be read: the cache is not used.");
        return false;
    }
    const std::int64_t application = ids.column(0);
    const std::int64_t version = ids.column(1);
    const std::int64_t tables = ids.column(2);
    // The read ends here: a statement left open keeps its read lock, and two
    // searches setting up a new file would then wait on each other's.
    ids.reset();
    if (application == 0 && version == 0 && tables == 0) {
        const int made = makeSchema();
        if (made == SQLITE_BUSY) {
            // Another search holds the new file: it is theirs to set up.
            close();
            notes.push_back("The cache is busy: this search does without it.");
            return false;
        }
        return made == SQLITE_OK || rebuild("could not be set up", notes);
    }
    if (application != kApplicationId) {
        return rebuild("was not Gemmora's", notes);
    }
    if (version != kVersion) {
        return rebuild("was of another version", notes);
    }
    return true;
}

int ContentStore::makeSchema()
{
    const int begun = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (begun != SQLITE_OK) {
        return begun == SQLITE_BUSY ? SQLITE_BUSY : SQLITE_ERROR;
    }
    Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
    if (tables && tables.step() == SQLITE_ROW && tables.column(0) != 0) {
        tables.reset();
        return exec("COMMIT") ? SQLITE_OK : SQLITE_ERROR;  // another search made it meanwhile
    }
    tables.reset();
    const std::string pragmas = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                "; PRAGMA user_version = " + std::to_string(kVersion) + ";";
    if (exec(kSchema) && exec(pragmas.c_str()) && exec("COMMIT")) {
        return SQLITE_OK;
    }
    exec("ROLLBACK");
    return SQLITE_ERROR;
}

bool ContentStore::rebuild(const std::string& why, std::vector<std::string>& notes)
{
    close();
    notes.push_back("The cache file " + m_path + " " + why + ": it was set aside and made anew.");
    if (!clear(m_folder)) {
        return false;
    }
    std::vector<std::string> more;
    if (!openFile(more) || !isOpen()) {
        notes.insert(notes.end(), more.begin(), more.end());
        close();
        return false;
    }
    return true;
}

bool ContentStore::stateValue(const char* name, std::int64_t& value)
{
    Statement read(m_db, "SELECT value FROM state WHERE name = ?");
    read.bind(1, std::string(name));
    if (!read || read.step() != SQLITE_ROW) {
        return false;
    }
    value = read.column(0);
    return true;
}

std::int64_t ContentStore::fileSystemId(const std::string& identity, bool add)
{
    Statement find(m_db, "SELECT id FROM filesystem WHERE identity = ?");
    find.bind(1, identity);
    if (find.step() == SQLITE_ROW) {
        return find.column(0);
    }
    if (!add) {
        return 0;
    }
    Statement insert(m_db, "INSERT INTO filesystem(identity) VALUES(?)");
    insert.bind(1, identity);
    return insert.step() == SQLITE_DONE ? sqlite3_last_insert_rowid(m_db) : -1;
}

bool ContentStore::load(const std::string& identity, std::vector<Entry>& found,
                        std::vector<std::string>& notes)
{
    if (m_db == nullptr) {
        return false;
    }
    if (!exec("BEGIN")) {
        notes.push_back("The cache is busy: this search does without it.");
        return false;
    }
    int code = SQLITE_DONE;
    bool checked = true;
    const std::size_t before = found.size();
    const std::int64_t fs = fileSystemId(identity, false);
    if (fs > 0) {
        checked = readPacks(fs, found, code);
        const std::size_t over = checked ? keepLatest(found, before) : 0;
        if (over > (found.size() - before) / 2) {
            m_compact.push_back(fs);
        }
        checked = checked && mergedClasses(m_db, found, before);
    }
    exec("COMMIT");
    // The pages read are not needed again before the save.
    sqlite3_db_release_memory(m_db);
    if (damaged(code) || !checked) {
        found.resize(before);
        rebuild("was damaged", notes);
        return false;
    }
    if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW) {
        found.resize(before);
        if (m_cancelled) {
            return false;  // the search was stopped: nothing to say
        }
        notes.push_back(std::string("The cache could not be read (") + sqlite3_errstr(code) +
                        "): this search does without it.");
        return false;
    }
    return true;
}

namespace {

// What the user is told when the cache could not be saved.
std::string notSavedNote(int code)
{
    if (code == SQLITE_FULL || code == SQLITE_IOERR_WRITE || code == SQLITE_IOERR_FSYNC ||
        (code & 0xFF) == SQLITE_IOERR) {
        return std::string("The cache was not saved (") + sqlite3_errstr(code) +
               "): the disk holding it may be full. The search is complete.";
    }
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        return "The cache was not saved: another search was saving it.";
    }
    return std::string("The cache was not saved (") + sqlite3_errstr(code) + ").";
}

}  // namespace

bool ContentStore::save(std::vector<Writes> writes, const std::vector<Merge>& merges,
                        std::int64_t today, int expireDays, std::vector<std::string>& notes)
{
    if (!beginSave(today, expireDays, true, notes)) {
        return false;
    }
    for (Writes& w : writes) {
        if (!writeSome(w, notes)) {
            return false;
        }
    }
    return finishSave(merges, notes);
}

bool ContentStore::beginSave(std::int64_t today, int expireDays, bool wait,
                             std::vector<std::string>& notes)
{
    if (m_db == nullptr || m_saving) {
        return false;
    }
    if (!wait) {
        sqlite3_busy_handler(m_db, nullptr, nullptr);
    }
    const bool begun = exec("BEGIN IMMEDIATE");
    if (!wait) {
        sqlite3_busy_handler(m_db, busyWait, &m_cancelled);
    }
    if (!begun) {
        if (wait && !m_cancelled) {
            notes.push_back(notSavedNote(sqlite3_extended_errcode(m_db)));
        }
        return false;
    }
    m_saving = true;
    m_classesMade = 0;
    m_today = today;
    m_expiredBefore = today - expireDays - kSeenSlack;
    // A search's entries are written without spilling pages.
    exec("PRAGMA cache_size = -65536");
    Statement last(m_db, "SELECT coalesce(max(id), 0) FROM pack");
    if (last && last.step() == SQLITE_ROW) {
        m_nextPack = last.column(0) + 1;
        last.reset();
        // Classes made by this search get lasting ids from here on.
        if (expireOld(today) && stateValue("next_class", m_classBase)) {
            return true;
        }
    }
    abandonSave(notes);
    return false;
}

void ContentStore::abandonSave(std::vector<std::string>& notes)
{
    const int code = sqlite3_extended_errcode(m_db);
    m_insertPack.reset();
    exec("ROLLBACK");
    m_saving = false;
    if (!m_cancelled) {
        notes.push_back(notSavedNote(code));
    }
}

bool ContentStore::writeSome(Writes& writes, std::vector<std::string>& notes)
{
    if (!m_saving) {
        return false;
    }
    if (writeEntries(writes)) {
        return true;
    }
    abandonSave(notes);
    return false;
}

bool ContentStore::finishSave(const std::vector<Merge>& merges, std::vector<std::string>& notes)
{
    if (!m_saving) {
        return false;
    }
    Statement advance(m_db, "UPDATE state SET value = ? WHERE name = 'next_class'");
    advance.bind(1, m_classBase + m_classesMade);
    bool done = advance.step() == SQLITE_DONE && applyMerges(merges);
    for (const std::int64_t fs : m_compact) {
        done = done && compact(fs);
    }
    m_insertPack.reset();
    if (done && exec("COMMIT")) {
        m_compact.clear();
        m_saving = false;
        return true;
    }
    abandonSave(notes);
    return false;
}

bool ContentStore::writeEntries(Writes& w)
{
    const std::int64_t fs = fileSystemId(w.identity, true);
    if (fs <= 0) {
        return false;
    }
    for (Entry& e : w.entries) {
        if (e.classId < 0) {
            m_classesMade = std::max(m_classesMade, -e.classId);
            e.classId = m_classBase - 1 - e.classId;
        }
    }
    return writePacks(fs, inInodeOrder(w.entries));
}

bool ContentStore::writePacks(std::int64_t fs, const std::vector<const Entry*>& entries)
{
    if (!m_insertPack) {
        m_insertPack = std::make_unique<Statement>(
            m_db, "INSERT INTO pack(id, fs, oldest, entries, data, checksum) VALUES(?,?,?,?,?,?)");
    }
    if (!*m_insertPack) {
        return false;
    }
    std::string pack;
    for (std::size_t first = 0; first < entries.size(); first += kPackEntries) {
        const std::size_t last = std::min(entries.size(), first + kPackEntries);
        const std::int64_t oldest = packed(entries, first, last, pack);
        const auto count = static_cast<std::int64_t>(last - first);
        const std::int64_t id = m_nextPack++;
        Statement& insert = *m_insertPack;
        insert.bind(1, id);
        insert.bind(2, fs);
        insert.bind(3, oldest);
        insert.bind(4, count);
        insert.bind(5, pack, true);
        insert.bind(6, packCheck(fs, id, oldest, count, pack.data(), pack.size()));
        const int code = insert.step();
        insert.reset();
        if (code != SQLITE_DONE) {
            return false;
        }
    }
    return true;
}

bool ContentStore::readPacks(std::int64_t fs, std::vector<Entry>& found, int& code)
{
    Statement select(
        m_db, "SELECT id, oldest, entries, data, checksum FROM pack WHERE fs = ? ORDER BY id");
    select.bind(1, fs);
    while ((code = select.step()) == SQLITE_ROW) {
        const void* data = sqlite3_column_blob(select.get(), 3);
        const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 3));
        const std::int64_t id = select.column(0);
        const std::int64_t oldest = select.column(1);
        const std::int64_t count = select.column(2);
        if (packCheck(fs, id, oldest, count, data, bytes) != select.column(4) ||
            !unpackEntries(data, bytes, count, oldest, found)) {
            return false;
        }
    }
    return true;
}

bool ContentStore::applyMerges(const std::vector<Merge>& merges)
{
    Statement add(m_db, "INSERT OR REPLACE INTO merged VALUES(?, ?, ?, ?)");
    for (const Merge& m : merges) {
        add.bind(1, m.from);
        add.bind(2, m.to);
        add.bind(3, m_today);
        add.bind(4, mergeCheck(m.from, m.to, m_today));
        const int code = add.step();
        add.reset();
        if (code != SQLITE_DONE) {
            return false;
        }
    }
    return true;
}

bool ContentStore::compact(std::int64_t fs)
{
    std::vector<Entry> entries;
    int code = SQLITE_DONE;
    if (!readPacks(fs, entries, code)) {
        // Damaged: the next load finds it so and makes the file anew.
        return code == SQLITE_ROW || code == SQLITE_DONE;
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    keepLatest(entries, 0);
    std::erase_if(entries, [this](const Entry& e) { return e.seenDay < m_expiredBefore; });
    Statement drop(m_db, "DELETE FROM pack WHERE fs = ?");
    drop.bind(1, fs);
    // keepLatest leaves the entries in the order they were written.
    return drop.step() == SQLITE_DONE && writePacks(fs, inInodeOrder(entries));
}

bool ContentStore::expireOld(std::int64_t today)
{
    // Entries of files no search has seen for a while go, once a day: the
    // packs holding any are written again without them, in their place (a
    // later pack's entry of an inode stands over theirs).
    std::int64_t expiredDay = today;
    if (!stateValue("expired_day", expiredDay) || expiredDay == today) {
        return true;
    }
    Statement merges(m_db, "DELETE FROM merged WHERE day < ?");
    merges.bind(1, m_expiredBefore);
    if (merges.step() != SQLITE_DONE) {
        return false;
    }
    struct Old {
        std::int64_t id = 0;
        std::int64_t fs = 0;
        std::vector<Entry> entries;
    };
    std::vector<Old> olds;
    {
        Statement select(m_db, "SELECT id, fs, oldest, entries, data, checksum FROM pack"
                               " WHERE oldest < ?");
        select.bind(1, m_expiredBefore);
        int code = SQLITE_DONE;
        while ((code = select.step()) == SQLITE_ROW) {
            Old& old = olds.emplace_back();
            old.id = select.column(0);
            old.fs = select.column(1);
            const void* data = sqlite3_column_blob(select.get(), 4);
            const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 4));
            if (packCheck(old.fs, old.id, select.column(2), select.column(3), data, bytes) !=
                    select.column(5) ||
                !unpackEntries(data, bytes, select.column(3), select.column(2), old.entries)) {
                old.entries.clear();  // damaged: dropped with the expired
            }
        }
        if (code != SQLITE_DONE) {
            return false;
        }
    }
    Statement drop(m_db, "DELETE FROM pack WHERE id = ?");
    Statement rewrite(m_db, "UPDATE pack SET oldest = ?, entries = ?, data = ?, checksum = ?"
                            " WHERE id = ?");
    std::string pack;
    for (Old& old : olds) {
        std::erase_if(old.entries, [this](const Entry& e) { return e.seenDay < m_expiredBefore; });
        Statement& change = old.entries.empty() ? drop : rewrite;
        if (old.entries.empty()) {
            drop.bind(1, old.id);
        } else {
            const std::int64_t oldest =
                packed(inInodeOrder(old.entries), 0, old.entries.size(), pack);
            const auto count = static_cast<std::int64_t>(old.entries.size());
            rewrite.bind(1, oldest);
            rewrite.bind(2, count);
            rewrite.bind(3, pack, true);
            rewrite.bind(4, packCheck(old.fs, old.id, oldest, count, pack.data(), pack.size()));
            rewrite.bind(5, old.id);
        }
        const int code = change.step();
        change.reset();
        if (code != SQLITE_DONE) {
            return false;
        }
    }
    Statement mark(m_db, "UPDATE state SET value = ? WHERE name = 'expired_day'");
    mark.bind(1, today);
    return mark.step() == SQLITE_DONE;
}

}  // namespace cache
