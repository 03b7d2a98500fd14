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

#include "platform/FileContents.h"

namespace cache {

namespace {

constexpr int kApplicationId = 0x47654D63;
constexpr int kBusyMilliseconds = 5000;

const char kSchema[] =
    "CREATE TABLE filesystem(id INTEGER PRIMARY KEY, identity TEXT NOT NULL UNIQUE);"
    "CREATE TABLE file(fs INTEGER NOT NULL, inode INTEGER NOT NULL, class INTEGER NOT NULL,"
    " seen INTEGER NOT NULL, data BLOB NOT NULL, checksum INTEGER NOT NULL,"
    " PRIMARY KEY(fs, inode)) WITHOUT ROWID;"
    "CREATE TABLE state(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "INSERT INTO state VALUES('next_class', 1), ('expired_day', 0);";

// `data`: an entry's size, times and head, then its chunk digests (see
// packed()): one column read rather than eight.
const char kColumns[] = "inode, class, seen, data, checksum";

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

// An entry's data column into `out`, built in place: one is made for every
// entry a search learns.
void packed(const Entry& e, std::string& out)
{
    unsigned char bytes[5 * 10 + 8];
    unsigned char* at = bytes;
    at = varintAt(at, zigzag(e.size));
    at = varintAt(at, zigzag(e.writeSeconds));
    at = varintAt(at, zigzag(e.changeNs));
    at = varintAt(at, e.headLength);
    for (int b = 0; b < 8; ++b) {
        *at++ = static_cast<unsigned char>(e.head >> (8 * b));
    }
    at = varintAt(at, zigzag(e.headSum));
    out.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(at - bytes));
    if (e.chunks.get().count != 0) {
        out += e.chunks.get().encode();
    }
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

// False when the entry's data is not in its form; `data`: its stored form.
bool entryFrom(const Statement& s, Entry& e, const void*& data, std::size_t& dataBytes)
{
    e.inode = static_cast<std::uint64_t>(s.column(0));
    e.classId = s.column(1);
    e.seenDay = s.column(2);
    data = sqlite3_column_blob(s.get(), 3);
    dataBytes = static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 3));
    return unpacked(data, dataBytes, e);
}

bool damaged(int code)
{
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT ||
           code == SQLITE_SCHEMA || code == SQLITE_IOERR_SHORT_READ;
}

// The tables and indexes of a cache file, as one text: equal to the text of
// a file made with kSchema unless its layout was changed or damaged. Empty
// when it cannot be read.
std::string layoutOf(sqlite3* db)
{
    Statement layout(db, "SELECT group_concat(part, ';') FROM (SELECT type || ' ' || name || ' ' ||"
                         " coalesce(sql, '') AS part FROM sqlite_master ORDER BY name)");
    if (!layout || layout.step() != SQLITE_ROW) {
        return "";
    }
    const unsigned char* text = sqlite3_column_text(layout.get(), 0);
    return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

// The layout kSchema makes, learned once from a file made in memory.
const std::string& expectedLayout()
{
    static const std::string layout = [] {
        sqlite3* db = nullptr;
        std::string made;
        if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
            sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK) {
            made = layoutOf(db);
        }
        sqlite3_close(db);
        return made;
    }();
    return layout;
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

// The fields of an entry outside its data column.
constexpr int kCheckedFields = 3;

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

// entry_check(fs, inode, class, data)
void checkFunction(sqlite3_context* context, int count, sqlite3_value** values)
{
    std::int64_t v[kCheckedFields] = {};
    for (int i = 0; i < count && i < kCheckedFields; ++i) {
        v[i] = sqlite3_value_int64(values[i]);
    }
    const void* data = count > kCheckedFields ? sqlite3_value_blob(values[kCheckedFields]) : nullptr;
    const int bytes = count > kCheckedFields ? sqlite3_value_bytes(values[kCheckedFields]) : 0;
    sqlite3_result_int64(context, checkOf(v, data, static_cast<std::size_t>(bytes)));
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

std::int64_t checkOf(std::int64_t fileSystem, const Entry& e, const void* data,
                     std::size_t dataBytes)
{
    const std::int64_t fields[kCheckedFields] = {fileSystem, static_cast<std::int64_t>(e.inode),
                                                 e.classId};
    return checkOf(fields, data, dataBytes);
}

}  // namespace

std::int64_t entryCheck(std::int64_t fileSystem, const Entry& e, const std::string& data)
{
    return checkOf(fileSystem, e, data.data(), data.size());
}

ContentStore::ContentStore() = default;

ContentStore::~ContentStore()
{
    close();
}

void ContentStore::close()
{
    m_insert.reset();
    m_insertMany.reset();
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
    sqlite3_create_function(m_db, "entry_check", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            checkFunction, nullptr, nullptr);
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
    // A table or column gone or changed would fail every statement, and the
    // cache would be left unused for good.
    if (!expectedLayout().empty() && layoutOf(m_db) != expectedLayout()) {
        return rebuild("was damaged", notes);
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
        // One pass over the file system's entries in key order.
        const std::string sql = std::string("SELECT ") + kColumns + " FROM file WHERE fs = ?";
        Statement select(m_db, sql.c_str());
        select.bind(1, fs);
        while ((code = select.step()) == SQLITE_ROW) {
            Entry& e = found.emplace_back();
            const void* data = nullptr;
            std::size_t dataBytes = 0;
            if (!entryFrom(select, e, data, dataBytes) ||
                checkOf(fs, e, data, dataBytes) != select.column(4)) {
                checked = false;
            }
        }
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
    // A search's entries are written without spilling pages.
    exec("PRAGMA cache_size = -65536");
    // Classes made by this search get lasting ids from here on.
    if (expireOld(today, expireDays) && stateValue("next_class", m_classBase) &&
        aboveEveryClass(m_classBase)) {
        return true;
    }
    abandonSave(notes);
    return false;
}

bool ContentStore::aboveEveryClass(std::int64_t& next)
{
    // The counter is the one value no row's check covers: set back (a page
    // damaged, or lost with the power while it was saved) it would hand out
    // a class that files of any file system may have, and make copies of
    // files never compared with them. Every row is checked when it is read.
    Statement highest(m_db, "SELECT max(class) FROM file");
    if (highest.step() != SQLITE_ROW) {
        return false;
    }
    next = std::max(next, highest.column(0) + 1);
    return true;
}

void ContentStore::abandonSave(std::vector<std::string>& notes)
{
    const int code = sqlite3_extended_errcode(m_db);
    m_insert.reset();
    m_insertMany.reset();
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
    m_insert.reset();
    m_insertMany.reset();
    Statement advance(m_db, "UPDATE state SET value = ? WHERE name = 'next_class'");
    advance.bind(1, m_classBase + m_classesMade);
    if (advance.step() == SQLITE_DONE && applyMerges(merges) && exec("COMMIT")) {
        m_saving = false;
        return true;
    }
    abandonSave(notes);
    return false;
}

namespace {

// Rows written by one step of the save's insert: SQLite's cost of a step
// (its transaction check, cursor and end) is then shared by that many rows.
constexpr std::size_t kRowsAStep = 32;

std::string insertSql(std::size_t rows)
{
    std::string sql = "INSERT OR REPLACE INTO file VALUES(?,?,?,?,?,?)";
    for (std::size_t i = 1; i < rows; ++i) {
        sql += ",(?,?,?,?,?,?)";
    }
    return sql;
}

}  // namespace

void ContentStore::bindRow(Statement& insert, int first, std::int64_t fs, Entry& e,
                           std::string& data)
{
    if (e.classId < 0) {
        m_classesMade = std::max(m_classesMade, -e.classId);
        e.classId = m_classBase - 1 - e.classId;
    }
    packed(e, data);
    insert.bind(first, fs);
    insert.bind(first + 1, static_cast<std::int64_t>(e.inode));
    insert.bind(first + 2, e.classId);
    insert.bind(first + 3, e.seenDay);
    insert.bind(first + 4, data, true);
    insert.bind(first + 5, entryCheck(fs, e, data));
}

bool ContentStore::writeEntries(Writes& w)
{
    if (!m_insert) {
        m_insert = std::make_unique<Statement>(m_db, insertSql(1).c_str());
        m_insertMany = std::make_unique<Statement>(m_db, insertSql(kRowsAStep).c_str());
    }
    const std::int64_t fs = fileSystemId(w.identity, true);
    if (fs <= 0 || !*m_insert || !*m_insertMany) {
        return false;
    }
    // Each row's data stays bound until its step.
    std::vector<std::string> data(kRowsAStep);
    // In key order, so that the table grows at its end; the entries stay
    // where they are and only their keys move.
    std::vector<std::pair<std::uint64_t, std::size_t>> order(w.entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = {w.entries[i].inode, i};
    }
    std::sort(order.begin(), order.end());
    for (std::size_t at = 0; at < order.size();) {
        const std::size_t rows = order.size() - at >= kRowsAStep ? kRowsAStep : 1;
        Statement& insert = rows == 1 ? *m_insert : *m_insertMany;
        for (std::size_t r = 0; r < rows; ++r) {
            bindRow(insert, static_cast<int>(6 * r + 1), fs, w.entries[order[at + r].second],
                    data[r]);
        }
        at += rows;
        const int code = insert.step();
        insert.reset();
        if (code != SQLITE_DONE) {
            return false;
        }
    }
    return true;
}

bool ContentStore::applyMerges(const std::vector<Merge>& merges)
{
    if (merges.empty()) {
        return true;
    }
    if (!exec("CREATE TEMP TABLE IF NOT EXISTS merged(old INTEGER PRIMARY KEY, new INTEGER)") ||
        !exec("DELETE FROM merged")) {
        return false;
    }
    Statement add(m_db, "INSERT OR IGNORE INTO merged VALUES(?, ?)");
    for (const Merge& m : merges) {
        add.bind(1, m.from);
        add.bind(2, m.to);
        add.step();
        add.reset();
    }
    return exec("UPDATE file SET class = (SELECT new FROM merged WHERE old = class),"
                " checksum = entry_check(fs, inode,"
                " (SELECT new FROM merged WHERE old = class), data)"
                " WHERE class IN (SELECT old FROM merged)");
}

bool ContentStore::expireOld(std::int64_t today, int expireDays)
{
    // Entries of files no search has seen for a while go, once a day.
    std::int64_t expiredDay = today;
    if (!stateValue("expired_day", expiredDay) || expiredDay == today) {
        return true;
    }
    Statement drop(m_db, "DELETE FROM file WHERE seen < ?");
    drop.bind(1, today - expireDays - kSeenSlack);
    Statement mark(m_db, "UPDATE state SET value = ? WHERE name = 'expired_day'");
    mark.bind(1, today);
    return drop.step() == SQLITE_DONE && mark.step() == SQLITE_DONE;
}

}  // namespace cache
