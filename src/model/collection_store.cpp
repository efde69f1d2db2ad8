#include "model/collection_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ostream>
#include <span>

#include "fml/app_dirs.h"
#include "fml/exception.h"
#include "fml/log.h"
#include "fml/text.h"
#include "fml/unique_fd.h"
#include "model/default_collection.h"
#include "model/errors.h"
#include "model/sqlite.h"
#include "model/text_fold.h"
#include "model/text_index.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd {
namespace {

// The layout of the collection. Table order is row-key (seq) order: SQLite gives a new
// row the largest key plus one, so it is insertion order, and ids stay free to be
// anything the default files say.
//
// The mark relation holds both sides of the quote-tag relation; its cascades keep
// m_tags and m_quotes in step when either record goes. A mark carries the quote's seq
// so a search can read quotes in table order straight from the tag side, and each tag
// counts its marks so an AND search can start from its rarest tag.
constexpr const char* schema_v1_sql = R"sql(
CREATE TABLE tag(
    seq INTEGER PRIMARY KEY,
    m_id INTEGER NOT NULL UNIQUE,
    m_utfname TEXT NOT NULL UNIQUE,
    n_marks INTEGER NOT NULL DEFAULT 0);
CREATE TABLE quote(
    seq INTEGER PRIMARY KEY,
    m_id INTEGER NOT NULL UNIQUE,
    m_utftext TEXT NOT NULL,
    m_stamp INTEGER NOT NULL);
CREATE INDEX quote_by_stamp ON quote(m_stamp);
CREATE TABLE mark(
    quote_id INTEGER NOT NULL REFERENCES quote(m_id) ON DELETE CASCADE,
    tag_id INTEGER NOT NULL REFERENCES tag(m_id) ON DELETE CASCADE,
    quote_seq INTEGER NOT NULL,
    position INTEGER NOT NULL,
    PRIMARY KEY(quote_id, tag_id)) WITHOUT ROWID;
CREATE INDEX mark_by_tag ON mark(tag_id, quote_seq, quote_id);
CREATE TRIGGER mark_added AFTER INSERT ON mark BEGIN
    UPDATE tag SET n_marks = n_marks + 1 WHERE m_id = NEW.tag_id;
END;
CREATE TRIGGER mark_removed AFTER DELETE ON mark BEGIN
    UPDATE tag SET n_marks = n_marks - 1 WHERE m_id = OLD.tag_id;
END;
)sql";

// The triggers that keep the text index in step with the quotes, in every version.
constexpr const char* text_index_triggers_sql = R"sql(
CREATE TRIGGER quote_text_added AFTER INSERT ON quote BEGIN
    INSERT INTO quote_text(rowid, m_utftext) VALUES(NEW.seq, NEW.m_utftext);
END;
CREATE TRIGGER quote_text_removed AFTER DELETE ON quote BEGIN
    INSERT INTO quote_text(quote_text, rowid, m_utftext) VALUES('delete', OLD.seq, OLD.m_utftext);
END;
CREATE TRIGGER quote_text_changed AFTER UPDATE OF m_utftext ON quote BEGIN
    INSERT INTO quote_text(quote_text, rowid, m_utftext) VALUES('delete', OLD.seq, OLD.m_utftext);
    INSERT INTO quote_text(rowid, m_utftext) VALUES(NEW.seq, NEW.m_utftext);
END;
)sql";

// The text index of version 2, built into files before version 3: three-character
// pieces cut by SQLite itself, with their places. Such a file gets the index below
// instead when it is opened.
const std::string& text_index_v2_sql() {
    static const std::string sql = std::string(R"sql(
CREATE VIRTUAL TABLE quote_text USING fts5(
    m_utftext, content='', columnsize=0, tokenize='trigram');)sql") +
                                   text_index_triggers_sql;
    return sql;
}

// The text index: which quotes (by seq) hold each folded piece of one, two or three
// characters without a blank (text_index.h). It holds no copy of the text (the quote
// table has it), so removing a quote hands it the text to take out, and no places
// within the text: a word of up to three characters is found exactly (a pair as the
// beginning of pieces); a longer one is found in the quotes holding all its pieces,
// whose texts then tell whether the pieces make the word. Triggers write it in the statement that writes the
// quote, so it is always in the same transaction, by whatever path the quote comes or
// goes. Each capture adds a small piece of index that is later merged with others
// (text_index_settings_sql).
const std::string& text_index_sql() {
    static const std::string sql = std::string(R"sql(
CREATE VIRTUAL TABLE quote_text USING fts5(
    m_utftext, content='', columnsize=0, detail=none, tokenize='folded_pieces');)sql") +
                                   text_index_triggers_sql;
    return sql;
}

// How the small pieces of index the captures write are merged. Merging is most of
// what the index would add to a capture, so a capture never merges: the store merges
// when the program is idle (CollectionStore::tidy_text_index), sixteen pieces at a
// time rather than four, which halves the work. Only when 64 pieces pile up on one
// level, because captures came without a pause, does the next capture merge them.
constexpr const char* text_index_settings_sql = R"sql(
INSERT INTO quote_text(quote_text, rank) VALUES('automerge', 0);
INSERT INTO quote_text(quote_text, rank) VALUES('usermerge', 16);
INSERT INTO quote_text(quote_text, rank) VALUES('crisismerge', 64);)sql";

// Gives the index the merge settings above when it has others (a file of the
// previous release merged during captures).
void set_text_index_settings(sqlite3* db) {
    {
        sqlite::statement read(db,
                               "SELECT count(*) FROM quote_text_config WHERE "
                               "(k = 'automerge' AND v = 0) OR (k = 'usermerge' AND v = 16) OR "
                               "(k = 'crisismerge' AND v = 64)");
        if (read.step() && read.column_int(0) == 3) {
            return;
        }
    }
    sqlite::connection::execute_on(db, "BEGIN IMMEDIATE");
    try {
        sqlite::connection::execute_on(db, text_index_settings_sql);
        sqlite::connection::execute_on(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

const std::string& schema_sql() {
    static const std::string sql =
        std::string(schema_v1_sql) + text_index_sql() + text_index_settings_sql;
    return sql;
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

std::ostream& logic_log() {
    return fml::getlog("logic");
}
std::ostream& debug_log() {
    return fml::getlog("debug");
}

std::u16string default_data_folder() {
    std::u16string folder = hrd::app_dirs::get(hrd::app_dirs::DataDir);
    if (folder.empty()) {
        throw read_appdata_folder_error("the data folder (DataDir) is not known");
    }
    return folder;
}

std::uint32_t big_endian32(const unsigned char* at) {
    return (std::uint32_t(at[0]) << 24) | (std::uint32_t(at[1]) << 16) |
           (std::uint32_t(at[2]) << 8) | std::uint32_t(at[3]);
}

const char* kind_of_file(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a named pipe";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a plain file";
}

// Reads the SQLite header of an existing file and rejects what SQLite would take for
// an empty or shortened database and then write to: anything but a plain file (a named
// pipe would block the start), an empty file, a file without the SQLite signature, a
// file shorter than its header says, and a file of another collection version. Reads
// only, and never waits.
void check_database_file(const std::string& file, const std::string& name) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        throw open_db_error(name + ": cannot open " + file + ": " + fml::last_error_text());
    }
    if (!S_ISREG(info.st_mode)) {
        throw open_db_error(name + ": " + file + " is " + kind_of_file(info.st_mode) +
                            ", not a collection file");
    }
    // Without blocking, and checked again on what was opened, in case the name was
    // swapped in between.
    fml::unique_fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        throw open_db_error(name + ": cannot open " + file + ": " + fml::last_error_text());
    }
    unsigned char header[100];
    const bool stat_ok = ::fstat(fd.get(), &info) == 0;
    const ssize_t got =
        stat_ok && S_ISREG(info.st_mode) ? ::pread(fd.get(), header, sizeof header, 0) : -1;
    fd.reset();
    if (stat_ok && !S_ISREG(info.st_mode)) {
        throw open_db_error(name + ": " + file + " is " + kind_of_file(info.st_mode) +
                            ", not a collection file");
    }
    if (got < static_cast<ssize_t>(sizeof header) || !stat_ok ||
        std::memcmp(header, "SQLite format 3", 16) != 0) {
        throw open_db_error(name + ": " + file + " is not an SQLite database");
    }
    std::uint64_t page_size = (std::uint32_t(header[16]) << 8) | header[17];
    if (page_size == 1) {
        page_size = 65536;
    }
    const std::uint64_t pages = big_endian32(header + 28);
    // The size in the header counts only when the two counters agree. While the
    // write-ahead log holds frames, a checkpoint may have stopped half-way, which
    // leaves the file legitimately shorter; SQLite completes it from the log.
    const bool size_valid = pages != 0 && big_endian32(header + 24) == big_endian32(header + 92);
    struct stat wal {};
    const bool wal_has_frames = ::stat((file + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    if (size_valid && !wal_has_frames &&
        static_cast<std::uint64_t>(info.st_size) < pages * page_size) {
        throw open_db_error(name + ": " + file + " is truncated (" +
                            decimal(static_cast<std::int64_t>(info.st_size)) + " bytes of " +
                            decimal(static_cast<std::int64_t>(pages * page_size)) + ")");
    }
    const std::int64_t version = static_cast<std::int32_t>(big_endian32(header + 60));
    if (version > collection_schema_version) {
        throw open_db_error(name + ": made by a newer version of Hoardly (collection version " +
                            decimal(version) + ", this one reads " +
                            decimal(collection_schema_version) + ")");
    }
    if (version != collection_schema_version && version != 1 && version != 2 && version != 3) {
        throw open_db_error(name + ": " + file +
                            " is an SQLite database but not a Hoardly collection");
    }
}

// Every table, index and trigger of a database with its definition, blanks collapsed,
// in a fixed order: what tells our collection from any other SQLite file.
std::vector<std::string> schema_of(sqlite3* db) {
    sqlite::statement rows(db,
                           "SELECT type, name, tbl_name, coalesce(sql, '') FROM sqlite_schema "
                           "ORDER BY type, name");
    std::vector<std::string> schema;
    while (rows.step()) {
        std::string row;
        for (int column = 0; column < 4; ++column) {
            for (const char c : rows.column_text(column)) {
                const bool blank = c == ' ' || c == '\n' || c == '\t' || c == '\r';
                if (!blank) {
                    row += c;
                } else if (!row.empty() && row.back() != ' ') {
                    row += ' ';
                }
            }
            row += '\x1f';
        }
        schema.push_back(std::move(row));
    }
    return schema;
}

std::vector<std::string> schema_made_by(const char* sql) {
    register_text_pieces();
    sqlite3* handle = nullptr;
    const int opened =
        sqlite3_open_v2(":memory:", &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite::connection db(handle);
    if (opened != SQLITE_OK) {
        sqlite::fail(handle, "building the collection layout");
    }
    db.execute(sql);
    return schema_of(handle);
}

const std::vector<std::string>& collection_schema() {
    static const std::vector<std::string> schema = schema_made_by(schema_sql().c_str());
    return schema;
}

// The layouts of older files, which get the current text index when opened.
const std::vector<std::string>& collection_schema_v1() {
    static const std::vector<std::string> schema = schema_made_by(schema_v1_sql);
    return schema;
}
const std::vector<std::string>& collection_schema_v2() {
    static const std::vector<std::string> schema =
        schema_made_by((std::string(schema_v1_sql) + text_index_v2_sql()).c_str());
    return schema;
}

// A file URI for `file` with the characters a URI gives meaning to escaped.
std::string file_uri(const std::string& file) {
    std::string uri = file.starts_with('/') ? "file://" : "file:";
    for (const char c : file) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char hex[] = "0123456789ABCDEF";
            uri += '%';
            uri += hex[static_cast<unsigned char>(c) >> 4];
            uri += hex[static_cast<unsigned char>(c) & 15];
        } else {
            uri += c;
        }
    }
    return uri;
}

// Compares the file's tables, indexes and triggers with the collection's own. The file
// is read as unchangeable: no lock, no journal, no log and no companion file is made
// or replayed, so a file that turns out to be someone else's is not touched at all.
// Our collections are built whole before they get their name, so their layout is in
// the file itself, whatever the log holds, unless a copy of the log into the file was
// cut short.
void check_collection_schema(const std::string& file, const std::string& name) {
    std::vector<std::string> schema;
    try {
        sqlite3* handle = nullptr;
        const int opened =
            sqlite3_open_v2((file_uri(file) + "?immutable=1").c_str(), &handle,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        sqlite::connection db(handle);
        if (opened != SQLITE_OK) {
            sqlite::fail(handle, "reading " + file);
        }
        schema = schema_of(handle);
    } catch (const db_error& error) {
        // A program stopped while it copied its log into the file leaves the file
        // itself half-copied until the log is applied again. The connection that
        // opens it applies the log, and the layout is checked there once more.
        struct stat log {};
        if (::stat((file + "-wal").c_str(), &log) == 0 && S_ISREG(log.st_mode) &&
            log.st_size > 0) {
            return;
        }
        throw open_db_error(name + ": " + file + " is damaged: " + error.what());
    }
    // The file itself may still show the older layout while the log holds the newer
    // one: the version the opened file reports decides which it must be.
    if (schema != collection_schema() && schema != collection_schema_v1() &&
        schema != collection_schema_v2()) {
        throw open_db_error(name + ": " + file +
                            " is an SQLite database but not a Hoardly collection");
    }
}

void sync_folder(const std::string& folder) {
    const fml::unique_fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

// Builds a new, empty collection under a temporary name and renames it into place, so
// "hoardly.fdb" is never a half-made file, whatever stops the program.
void create_database_file(const std::string& folder, const std::string& file,
                          const std::string& name) {
    const std::string building = file + ".new";
    ::unlink(building.c_str());
    ::unlink((building + "-wal").c_str());
    ::unlink((building + "-shm").c_str());
    // Private from the start: clip text is the user's business. SQLite gives its
    // companion files the same mode.
    fml::unique_fd made(::open(building.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!made.valid()) {
        throw open_db_error(name + ": cannot create " + building + ": " + fml::last_error_text());
    }
    // Closed before SQLite opens the file: closing any descriptor of a file drops the
    // process's locks on it, SQLite's among them.
    made.reset();
    try {
        sqlite3* handle = nullptr;
        const int opened =
            sqlite3_open_v2(building.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr);
        sqlite::connection db(handle);
        if (opened != SQLITE_OK) {
            sqlite::fail(handle, "creating " + building);
        }
        // Built with a rollback journal and switched to write-ahead logging at the end,
        // so everything is in the file itself when it is renamed into place.
        db.execute("PRAGMA synchronous=FULL; BEGIN");
        db.execute(schema_sql().c_str());
        db.execute(("PRAGMA user_version=" + decimal(collection_schema_version)).c_str());
        db.execute("COMMIT");
        sqlite::statement journal(db.get(), "PRAGMA journal_mode=WAL");
        if (!journal.step() || journal.column_text(0) != "wal") {
            throw open_db_error("cannot switch " + building + " to write-ahead logging");
        }
    } catch (const fml::exception& error) {
        ::unlink(building.c_str());
        throw open_db_error(name + ": " + error.what());
    }
    fml::unique_fd built(::open(building.c_str(), O_RDONLY | O_CLOEXEC));
    if (!built.valid() || ::fsync(built.get()) != 0) {
        const std::string error = fml::last_error_text();
        built.reset();
        ::unlink(building.c_str());
        throw open_db_error(name + ": cannot write " + building + ": " + error);
    }
    built.reset();
    if (::rename(building.c_str(), file.c_str()) != 0) {
        const std::string error = fml::last_error_text();
        ::unlink(building.c_str());
        throw open_db_error(name + ": cannot rename " + building + ": " + error);
    }
    sync_folder(folder);
}

}  // namespace

namespace {

constexpr const char* all_ids_sql = "SELECT seq, m_id FROM quote ORDER BY m_id";

// Every quote's id in table order, through `scan` (all_ids_sql) on `db`: the id
// index alone, never the texts. Ids nearly always grow with
// the row key, so the ids come out in order as they are read; only a collection
// whose ids do not (default files may number them in any order) is sorted after.
std::vector<record_id> read_all_quote_ids(sqlite3* db, sqlite::statement& scan) {
    // The largest row key bounds the count: room is made once, not a dozen times.
    std::size_t expected = 0;
    {
        sqlite::statement largest(db, "SELECT max(seq) FROM quote");
        if (largest.step()) {
            expected = static_cast<std::size_t>(std::max<std::int64_t>(largest.column_int(0), 0));
        }
    }
    std::vector<record_id> ids;
    ids.reserve(expected);
    std::int64_t last_key = 0;
    sqlite::reset_on_exit reset(scan);
    while (scan.step()) {
        const std::int64_t key = scan.column_int(0);
        if (key <= last_key) {
            // Out of order: read again with the keys, and sort by them.
            std::vector<std::pair<std::int64_t, record_id>> keyed;
            keyed.reserve(expected);
            scan.reset();
            while (scan.step()) {
                keyed.emplace_back(scan.column_int(0), static_cast<record_id>(scan.column_int(1)));
            }
            std::sort(keyed.begin(), keyed.end());
            ids.clear();
            for (const auto& [row_key, id] : keyed) {
                ids.push_back(id);
            }
            return ids;
        }
        last_key = key;
        ids.push_back(static_cast<record_id>(scan.column_int(1)));
    }
    return ids;
}


// A read-only connection of its own to `file`, for reading beside the store's own
// connection (on another thread); `what` names the read in an error.
sqlite::connection open_reader(const std::string& file, const std::string& what) {
    sqlite3* handle = nullptr;
    const int opened =
        sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite::connection db(handle);
    if (opened != SQLITE_OK) {
        sqlite::fail(handle, what + " " + file);
    }
    sqlite3_busy_timeout(handle, 5000);
    return db;
}

// A search given up because its caller no longer wants it.
struct search_cancelled {};

// One search through one connection, with the statements it needs made for it (a
// few microseconds: nothing next to a search). With `cancel`, it gives up with
// search_cancelled as soon as it sees the flag set; SQLite is asked to look too,
// between the rows of each read, through the connection's progress handler.
class searcher {
public:
    using hit = std::pair<std::int64_t, record_id>;  // (quote seq, quote id)

    searcher(sqlite3* db, const std::atomic<bool>* cancel) : m_db(db), m_cancel(cancel) {}

    // The quotes `query` selects, in table order.
    std::vector<hit> run(const search_query& query) {
        const auto words = search_words(query.text);
        if (words.empty()) {
            return query.tags.empty() ? every_quote() : tag_marks(query.tags, query.mode);
        }
        // The index finds the words of up to three characters exactly; for the longer
        // ones it finds the quotes holding all their pieces, and the texts decide.
        std::vector<std::u32string> longer;
        for (const auto& word : words) {
            if (word.size() > 3) {
                longer.push_back(word);
            }
        }
        std::vector<std::int64_t> found = index_matches(words);
        // The tags narrow the quotes found before any text is read: their marks are
        // sorted by quote, as the quotes found are.
        if (!query.tags.empty()) {
            found = carrying(std::move(found), query.tags, query.mode);
        }
        return longer.empty() ? with_ids(found) : texts_holding(found, longer);
    }

    // The quotes the tags select: in AND mode those carrying every tag (wrong_tag_id
    // for a tag that is gone), in OR mode those carrying any.
    std::vector<hit> tag_marks(const std::vector<record_id>& tags, int mode) {
        if (mode != search_mode_and) {
            // OR: the union of the tags' marks. A tag that is gone has no marks.
            std::vector<hit> marks;
            for (const record_id id : tags) {
                const auto of_tag = marks_of(id);
                marks.insert(marks.end(), of_tag.begin(), of_tag.end());
            }
            std::sort(marks.begin(), marks.end());
            marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
            return marks;
        }
        // AND: every tag must exist. Start from the tag with the fewest marks, then
        // narrow the candidates tag by tag, rarest first: a tag with not many more
        // marks than there are candidates is read and merged, a far more common one is
        // probed per candidate, so the work follows the smallest list rather than the
        // collection.
        std::vector<std::pair<std::int64_t, record_id>> by_count;
        sqlite::statement count(m_db, "SELECT n_marks FROM tag WHERE m_id = ?1");
        for (const record_id id : tags) {
            sqlite::reset_on_exit reset(count);
            count.bind(1, id);
            if (!count.step()) {
                throw wrong_tag_id(decimal(id));
            }
            by_count.emplace_back(count.column_int(0), id);
        }
        std::sort(by_count.begin(), by_count.end());
        auto candidates = marks_of(by_count.front().second, by_count.front().first);
        sqlite::statement marked(m_db, "SELECT 1 FROM mark WHERE quote_id = ?1 AND tag_id = ?2");
        for (std::size_t i = 1; i < by_count.size() && !candidates.empty(); ++i) {
            const auto [marks, tag_id] = by_count[i];
            std::vector<hit> kept;
            if (static_cast<std::uint64_t>(marks) <= candidates.size() * 8) {
                const auto of_tag = marks_of(tag_id, marks);
                std::set_intersection(candidates.begin(), candidates.end(), of_tag.begin(),
                                      of_tag.end(), std::back_inserter(kept));
            } else {
                for (const auto& candidate : candidates) {
                    sqlite::reset_on_exit reset(marked);
                    marked.bind(1, candidate.second);
                    marked.bind(2, tag_id);
                    if (marked.step()) {
                        kept.push_back(candidate);
                    }
                }
            }
            candidates = std::move(kept);
        }
        return candidates;
    }

private:
    // Each tag's number of marks, in the order given; wrong_tag_id for a tag that is
    // gone, in AND mode (in OR mode it counts none).
    std::vector<std::int64_t> mark_counts(const std::vector<record_id>& tags, int mode) {
        std::vector<std::int64_t> counts;
        sqlite::statement count(m_db, "SELECT n_marks FROM tag WHERE m_id = ?1");
        for (const record_id id : tags) {
            sqlite::reset_on_exit reset(count);
            count.bind(1, id);
            if (count.step()) {
                counts.push_back(count.column_int(0));
            } else if (mode == search_mode_and) {
                throw wrong_tag_id(decimal(id));
            } else {
                counts.push_back(0);
            }
        }
        return counts;
    }

    // Those of the quotes at `seqs` (ascending) that carry every tag (AND) or one of
    // them (OR), ascending. A tag with not many more marks than there are quotes left
    // has its marks read and merged; a far more common one is asked per quote, so the
    // work follows the shorter list.
    std::vector<std::int64_t> carrying(std::vector<std::int64_t> seqs,
                                       const std::vector<record_id>& tags, int mode) {
        const auto counts = mark_counts(tags, mode);
        std::vector<std::pair<std::int64_t, record_id>> by_count;
        for (std::size_t i = 0; i < tags.size(); ++i) {
            by_count.emplace_back(counts[i], tags[i]);
        }
        std::sort(by_count.begin(), by_count.end());
        sqlite::statement marked(m_db,
                                 "SELECT 1 FROM mark WHERE tag_id = ?1 AND quote_seq = ?2 LIMIT 1");
        const auto carries = [&](record_id tag, std::int64_t seq) {
            sqlite::reset_on_exit reset(marked);
            marked.bind(1, tag);
            marked.bind(2, seq);
            return marked.step();
        };
        const auto seqs_of = [&](record_id tag, std::int64_t expected) {
            std::vector<std::int64_t> of_tag;
            for (const hit& mark : marks_of(tag, expected)) {
                of_tag.push_back(mark.first);
            }
            return of_tag;
        };
        const auto few_enough = [&](std::int64_t marks, std::size_t left) {
            return static_cast<std::uint64_t>(marks) <= left * 8;
        };
        if (mode == search_mode_and) {
            for (const auto& [marks, tag] : by_count) {
                if (seqs.empty()) {
                    break;
                }
                std::vector<std::int64_t> kept;
                if (few_enough(marks, seqs.size())) {
                    const auto of_tag = seqs_of(tag, marks);
                    std::set_intersection(seqs.begin(), seqs.end(), of_tag.begin(), of_tag.end(),
                                          std::back_inserter(kept));
                } else {
                    std::size_t done = 0;
                    for (const std::int64_t seq : seqs) {
                        if (++done % 1024 == 0) {
                            check_cancel();
                        }
                        if (carries(tag, seq)) {
                            kept.push_back(seq);
                        }
                    }
                }
                seqs = std::move(kept);
            }
            return seqs;
        }
        // OR: the union of the marks when that is short, or each quote asked.
        std::int64_t all_marks = 0;
        for (const auto& [marks, tag] : by_count) {
            all_marks += marks;
        }
        std::vector<std::int64_t> kept;
        if (few_enough(all_marks, seqs.size())) {
            std::vector<std::int64_t> any;
            for (const auto& [marks, tag] : by_count) {
                const auto of_tag = seqs_of(tag, marks);
                any.insert(any.end(), of_tag.begin(), of_tag.end());
            }
            std::sort(any.begin(), any.end());
            any.erase(std::unique(any.begin(), any.end()), any.end());
            std::set_intersection(seqs.begin(), seqs.end(), any.begin(), any.end(),
                                  std::back_inserter(kept));
            return kept;
        }
        std::size_t done = 0;
        for (const std::int64_t seq : seqs) {
            if (++done % 1024 == 0) {
                check_cancel();
            }
            if (std::any_of(by_count.rbegin(), by_count.rend(),
                            [&](const auto& tag) { return tag.first > 0 && carries(tag.second, seq); })) {
                kept.push_back(seq);
            }
        }
        return kept;
    }

    void check_cancel() const {
        if (m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed)) {
            throw search_cancelled{};
        }
    }

    std::vector<hit> marks_of(record_id tag_id, std::int64_t expected = 0) {
        std::vector<hit> marks;
        marks.reserve(static_cast<std::size_t>(std::max<std::int64_t>(expected, 0)));
        sqlite::statement of_tag(
            m_db, "SELECT quote_seq, quote_id FROM mark WHERE tag_id = ?1 ORDER BY quote_seq");
        of_tag.bind(1, tag_id);
        while (of_tag.step()) {
            marks.emplace_back(of_tag.column_int(0), static_cast<record_id>(of_tag.column_int(1)));
        }
        return marks;
    }

    std::int64_t last_seq() {
        sqlite::statement last(m_db, "SELECT max(seq) FROM quote");
        return last.step() ? last.column_int(0) : 0;
    }

    std::vector<hit> every_quote() {
        std::vector<hit> all;
        all.reserve(static_cast<std::size_t>(std::max<std::int64_t>(last_seq(), 0)));
        sqlite::statement scan(m_db, "SELECT seq, m_id FROM quote ORDER BY seq");
        while (scan.step()) {
            all.emplace_back(scan.column_int(0), static_cast<record_id>(scan.column_int(1)));
        }
        return all;
    }

    // The seqs of the quotes holding every piece of the words, ascending: a word of up
    // to three characters is its own piece (a pair: the beginning of pieces); a longer one gives the pieces of three
    // that lie side by side along it, and the texts decide. Each piece is given to the
    // index as one quoted string, so nothing of the words is read as query syntax.
    std::vector<std::int64_t> index_matches(const std::vector<std::u32string>& words) {
        std::vector<std::u32string> pieces;
        const auto add = [&](std::u32string piece) {
            if (std::find(pieces.begin(), pieces.end(), piece) == pieces.end()) {
                pieces.push_back(std::move(piece));
            }
        };
        for (const auto& word : words) {
            if (word.size() <= 3) {
                add(word);
                continue;
            }
            // Pieces side by side cover the word (a very long one in part): few
            // quotes hold them all but not the word, and each piece fewer is a list
            // of the index less to go through.
            for (std::size_t at = 0; at + 3 < word.size() && at < 45; at += 3) {
                add(word.substr(at, 3));
            }
            add(word.substr(word.size() - 3));
        }
        std::string expression;
        for (const auto& piece : pieces) {
            if (!expression.empty()) {
                expression += " AND ";
            }
            expression += '"';
            std::string utf8;
            for (const char32_t c : piece) {
                append_piece_utf8(utf8, c);
            }
            for (const char c : utf8) {
                expression += c;
                if (c == '"') {
                    expression += '"';
                }
            }
            expression += '"';
            // A pair is the beginning of the pieces of three that start with it, or a
            // piece of its own where it ends a word (text_index.h).
            if (piece.size() == 2) {
                expression += '*';
            }
        }
        sqlite::statement match(
            m_db, "SELECT rowid FROM quote_text WHERE quote_text MATCH ?1 ORDER BY rowid");
        match.bind_text(1, expression);
        std::vector<std::int64_t> seqs;
        while (match.step()) {
            seqs.push_back(match.column_int(0));
        }
        return seqs;
    }

    // The quotes at these seqs (ascending) whose text holds every word. Each text is
    // a lookup of its own; many are read on two threads, the later half through a
    // second connection to the same file.
    std::vector<hit> texts_holding(const std::vector<std::int64_t>& seqs,
                                   const std::vector<std::u32string>& words) {
        constexpr std::size_t shared_from = 4096;
        const char* file = sqlite3_db_filename(m_db, "main");
        if (seqs.size() < shared_from || file == nullptr || *file == '\0') {
            return texts_in(m_db, seqs, words);
        }
        const std::size_t half = seqs.size() / 2;
        const std::vector<std::int64_t> first(seqs.begin(), seqs.begin() + half);
        const std::vector<std::int64_t> second(seqs.begin() + half, seqs.end());
        auto later = std::async(std::launch::async, [&, path = std::string(file)] {
            const sqlite::connection db = open_reader(path, "searching");
            return texts_in(db.get(), second, words);
        });
        auto kept = texts_in(m_db, first, words);
        auto rest = later.get();
        kept.insert(kept.end(), rest.begin(), rest.end());
        return kept;
    }

    std::vector<hit> texts_in(sqlite3* db, const std::vector<std::int64_t>& seqs,
                              const std::vector<std::u32string>& words) const {
        const word_matcher holds(words);
        std::vector<hit> kept;
        sqlite::statement quote_at(db, "SELECT m_id, m_utftext FROM quote WHERE seq = ?1");
        std::size_t done = 0;
        for (const std::int64_t seq : seqs) {
            if (++done % 256 == 0) {
                check_cancel();
            }
            sqlite::reset_on_exit reset(quote_at);
            quote_at.bind(1, seq);
            if (quote_at.step() && holds(quote_at.column_view(1))) {
                kept.emplace_back(seq, static_cast<record_id>(quote_at.column_int(0)));
            }
        }
        return kept;
    }

    // The ids of the quotes at these seqs (ascending): one lookup each for a few, one
    // pass over the small id index for many.
    std::vector<hit> with_ids(const std::vector<std::int64_t>& seqs) {
        std::vector<hit> hits;
        hits.reserve(seqs.size());
        const std::int64_t rows = seqs.empty() ? 0 : last_seq();
        if (static_cast<std::int64_t>(seqs.size()) * 32 < rows) {
            sqlite::statement id_of(m_db, "SELECT m_id FROM quote WHERE seq = ?1");
            for (const std::int64_t seq : seqs) {
                sqlite::reset_on_exit reset(id_of);
                id_of.bind(1, seq);
                if (id_of.step()) {
                    hits.emplace_back(seq, static_cast<record_id>(id_of.column_int(0)));
                }
            }
            return hits;
        }
        std::vector<bool> wanted(static_cast<std::size_t>(rows) + 1, false);
        for (const std::int64_t seq : seqs) {
            if (seq > 0 && seq <= rows) {
                wanted[static_cast<std::size_t>(seq)] = true;
            }
        }
        sqlite::statement scan(m_db, all_ids_sql);
        while (scan.step()) {
            const std::int64_t seq = scan.column_int(0);
            if (seq > 0 && seq <= rows && wanted[static_cast<std::size_t>(seq)]) {
                hits.emplace_back(seq, static_cast<record_id>(scan.column_int(1)));
            }
        }
        if (!std::is_sorted(hits.begin(), hits.end())) {
            std::sort(hits.begin(), hits.end());
        }
        return hits;
    }

    sqlite3* m_db;
    const std::atomic<bool>* m_cancel;
};

}  // namespace

// The open connection, its cached statements, and record reading for result sets.
struct CollectionStore::database : record_source<tag>, record_source<quote> {
    explicit database(sqlite::connection opened)
        : connection(std::move(opened)),
          begin(db(), "BEGIN IMMEDIATE"),
          begin_read(db(), "BEGIN DEFERRED"),
          commit(db(), "COMMIT"),
          tag_by_id(db(), "SELECT seq, m_utfname FROM tag WHERE m_id = ?1"),
          tag_by_name(db(), "SELECT m_id, m_utfname FROM tag WHERE m_utfname = ?1"),
          tag_by_seq(db(), "SELECT m_id, m_utfname FROM tag WHERE seq = ?1"),
          tag_after(db(),
                    "SELECT seq, m_id, m_utfname FROM tag WHERE seq > ?1 ORDER BY seq LIMIT ?2"),
          tag_mark_count(db(), "SELECT n_marks FROM tag WHERE m_id = ?1"),
          insert_tag(db(), "INSERT INTO tag(m_id, m_utfname) VALUES(?1, ?2)"),
          delete_tag(db(), "DELETE FROM tag WHERE m_id = ?1"),
          update_tag_name(db(), "UPDATE tag SET m_utfname = ?2 WHERE m_id = ?1"),
          quote_by_id(db(), "SELECT seq FROM quote WHERE m_id = ?1"),
          quote_by_seq(db(), "SELECT m_id, m_utftext, m_stamp FROM quote WHERE seq = ?1"),
          quote_after(db(),
                      "SELECT seq, m_id, m_utftext, m_stamp FROM quote WHERE seq > ?1 "
                      "ORDER BY seq LIMIT ?2"),
          insert_quote(db(), "INSERT INTO quote(m_id, m_utftext, m_stamp) VALUES(?1, ?2, ?3)"),
          delete_quote(db(), "DELETE FROM quote WHERE m_id = ?1"),
          tags_of_quote(db(), "SELECT tag_id FROM mark WHERE quote_id = ?1 ORDER BY position"),
          tags_of_quotes(db(),
                         "SELECT quote_id, tag_id FROM mark WHERE quote_id BETWEEN ?1 AND ?2 "
                         "ORDER BY quote_id, position"),
          quotes_of_tag(
              db(), "SELECT quote_seq, quote_id FROM mark WHERE tag_id = ?1 ORDER BY quote_seq"),
          mark_exists(db(), "SELECT 1 FROM mark WHERE quote_id = ?1 AND tag_id = ?2"),
          insert_mark(db(),
                      "INSERT INTO mark(quote_id, tag_id, quote_seq, position) "
                      "SELECT ?1, ?2, ?3, coalesce(max(position), 0) + 1 FROM mark "
                      "WHERE quote_id = ?1"),
          delete_mark(db(), "DELETE FROM mark WHERE quote_id = ?1 AND tag_id = ?2"),
          // Both through the unique index on m_id, which holds the row key too: no
          // page of quote text is read.
          ids_by_id(db(), all_ids_sql),
          quote_by_id_whole(db(), "SELECT m_id, m_utftext, m_stamp FROM quote WHERE m_id = ?1"),
          stamp_by_id(db(), "SELECT m_stamp FROM quote WHERE m_id = ?1"),
          // Through the stamp index, which holds the row key as well.
          stamps_in_order(db(), "SELECT m_stamp, seq FROM quote ORDER BY m_stamp, seq"),
          last_quote_seq(db(), "SELECT max(seq) FROM quote"),
          quotes_present(db(),
                         "SELECT count(*) FROM quote WHERE m_id IN "
                         "(SELECT value FROM json_each(?1))"),
          tags_of_listed(db(),
                         "SELECT quote_id, tag_id FROM mark WHERE quote_id IN "
                         "(SELECT value FROM json_each(?1)) ORDER BY quote_id, position"),
          mark_counts(db(),
                      "SELECT tag_id, count(*) FROM mark WHERE quote_id IN "
                      "(SELECT value FROM json_each(?1)) GROUP BY tag_id") {
        sqlite3_wal_hook(db(), &database::committed, this);
    }
    ~database() { sqlite3_wal_hook(db(), nullptr, nullptr); }
    database(const database&) = delete;
    database& operator=(const database&) = delete;

    sqlite3* db() const { return connection.get(); }

    // The pages in the write-ahead log since it last began again, as of the last commit.
    int log_pages = 0;
    // Told after each commit. The log is moved into the file itself at the program's
    // quiet moments (tidy_text_index); a commit only does it once the log holds 1000
    // pages, as SQLite does by itself: a capture then seldom pays for it.
    static int committed(void* self, sqlite3* db, const char* name, int pages) {
        static_cast<database*>(self)->log_pages = pages;
        if (pages >= 1000) {
            sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        return SQLITE_OK;
    }
    int changes() const { return sqlite3_changes(db()); }

    // Runs `work` as one transaction and commits it; on any exception the transaction
    // is rolled back and the exception goes on.
    template <class Work>
    auto in_transaction(Work&& work) {
        begin.run();
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                commit.run();
            } else {
                auto result = work();
                commit.run();
                return result;
            }
        } catch (...) {
            // A failed COMMIT may leave the transaction open; ROLLBACK closes it either way.
            sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    // The row key of a record by id, or 0 when there is none.
    std::int64_t seq_of(sqlite::statement& by_id, record_id id) {
        sqlite::reset_on_exit reset(by_id);
        by_id.bind(1, id);
        return by_id.step() ? by_id.column_int(0) : 0;
    }
    std::int64_t tag_seq(record_id id) { return seq_of(tag_by_id, id); }
    std::int64_t quote_seq(record_id id) { return seq_of(quote_by_id, id); }

    std::int64_t single_number(const char* sql, std::int64_t if_none) {
        sqlite::statement query(db(), sql);
        if (!query.step() || query.column_is_null(0)) {
            return if_none;
        }
        return query.column_int(0);
    }

    void read_tags_of(quote& record) {
        sqlite::reset_on_exit reset(tags_of_quote);
        tags_of_quote.bind(1, record.m_id);
        while (tags_of_quote.step()) {
            record.m_tags.push_back(static_cast<record_id>(tags_of_quote.column_int(0)));
        }
    }

    // The tags of a batch of quotes. A batch's ids are usually close together (they
    // are handed out in order), so one read over a range of the marks' key serves
    // the whole batch instead of a lookup per quote; scattered ids, or a quote listed
    // twice, are read with one statement that takes the list.
    void read_tags_of(std::span<quote> rows) {
        if (rows.size() < 8) {
            for (quote& record : rows) {
                read_tags_of(record);
            }
            return;
        }
        const auto [lowest, highest] =
            std::minmax_element(rows.begin(), rows.end(),
                                [](const quote& a, const quote& b) { return a.m_id < b.m_id; });
        const std::int64_t low = lowest->m_id;
        const std::int64_t span = std::int64_t(highest->m_id) - low + 1;
        if (span > 4 * std::int64_t(rows.size()) + 64) {
            read_tags_of_listed(rows);
            return;
        }
        std::vector<quote*> by_offset(static_cast<std::size_t>(span), nullptr);
        for (quote& record : rows) {
            quote*& slot = by_offset[static_cast<std::size_t>(record.m_id - low)];
            if (slot != nullptr) {
                read_tags_of_listed(rows);
                return;
            }
            slot = &record;
        }
        sqlite::reset_on_exit reset(tags_of_quotes);
        tags_of_quotes.bind(1, low);
        tags_of_quotes.bind(2, low + span - 1);
        while (tags_of_quotes.step()) {
            if (quote* record =
                    by_offset[static_cast<std::size_t>(tags_of_quotes.column_int(0) - low)]) {
                record->m_tags.push_back(static_cast<record_id>(tags_of_quotes.column_int(1)));
            }
        }
    }

    // The marks come sorted by quote id and are matched to the records sorted the
    // same way; a quote listed twice gets its tags in each copy.
    void read_tags_of_listed(std::span<quote> rows) {
        std::vector<quote*> by_id;
        by_id.reserve(rows.size());
        for (quote& record : rows) {
            by_id.push_back(&record);
        }
        std::sort(by_id.begin(), by_id.end(),
                  [](const quote* a, const quote* b) { return a->m_id < b->m_id; });
        std::vector<record_id> ids;
        ids.reserve(by_id.size());
        for (const quote* record : by_id) {
            ids.push_back(record->m_id);
        }
        sqlite::reset_on_exit reset(tags_of_listed);
        tags_of_listed.bind_text(1, json_list(ids));
        auto next = by_id.begin();
        while (tags_of_listed.step()) {
            const auto quote_id = static_cast<record_id>(tags_of_listed.column_int(0));
            const auto tag_id = static_cast<record_id>(tags_of_listed.column_int(1));
            while (next != by_id.end() && (*next)->m_id < quote_id) {
                ++next;
            }
            for (auto same = next; same != by_id.end() && (*same)->m_id == quote_id; ++same) {
                (*same)->m_tags.push_back(tag_id);
            }
        }
    }

    void read_quotes_of(tag& record) {
        sqlite::reset_on_exit reset(quotes_of_tag);
        quotes_of_tag.bind(1, record.m_id);
        while (quotes_of_tag.step()) {
            record.m_quotes.push_back(static_cast<record_id>(quotes_of_tag.column_int(1)));
        }
    }

    // Runs `reads` as one read transaction, so a batch of records pays for the
    // database's locking once. Inside a write transaction it simply runs.
    template <class Reads>
    void in_read(Reads&& reads) {
        const bool own = sqlite3_get_autocommit(db()) != 0;
        if (own) {
            begin_read.run();
        }
        try {
            reads();
        } catch (...) {
            if (own) {
                sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
            }
            throw;
        }
        if (own) {
            commit.run();
        }
    }

    // A batch stops growing past this many bytes of text, so a result over huge clips
    // holds only a few of them at a time.
    static constexpr std::size_t batch_bytes = 4 << 20;

    bool read_tag(std::int64_t key, tag& record) {
        {
            sqlite::reset_on_exit reset(tag_by_seq);
            tag_by_seq.bind(1, key);
            if (!tag_by_seq.step()) {
                return false;
            }
            record.m_id = static_cast<record_id>(tag_by_seq.column_int(0));
            record.m_utfname = tag_by_seq.column_text(1);
        }
        read_quotes_of(record);
        return true;
    }

    bool read_quote(std::int64_t key, quote& record) {
        {
            sqlite::reset_on_exit reset(quote_by_seq);
            quote_by_seq.bind(1, key);
            if (!quote_by_seq.step()) {
                return false;
            }
            record.m_id = static_cast<record_id>(quote_by_seq.column_int(0));
            record.m_utftext = quote_by_seq.column_text(1);
            record.m_stamp = static_cast<time_stamp>(quote_by_seq.column_int(2));
        }
        return true;
    }

    template <class Record, class Read>
    std::size_t load_keys(std::span<const std::int64_t> keys, std::size_t limit,
                          std::vector<Record>& into, Read read) {
        std::size_t used = 0;
        std::size_t bytes = 0;
        in_read([&] {
            while (used < keys.size() && used < limit && bytes < batch_bytes) {
                Record record;
                if ((this->*read)(keys[used++], record)) {
                    bytes += size_of(record);
                    into.push_back(std::move(record));
                }
            }
        });
        return used;
    }

    static std::size_t size_of(const tag& record) {
        return record.m_utfname.size() + record.m_quotes.size() * sizeof(record_id);
    }
    static std::size_t size_of(const quote& record) {
        return record.m_utftext.size() + record.m_tags.size() * sizeof(record_id);
    }

    std::size_t load(std::span<const std::int64_t> keys, std::size_t limit,
                     std::vector<tag>& into) override {
        return load_keys(keys, limit, into, &database::read_tag);
    }

    std::size_t load(std::span<const std::int64_t> keys, std::size_t limit,
                     std::vector<quote>& into) override {
        // The tags of the batch together, in the same read as the quotes.
        std::size_t used = 0;
        in_read([&] {
            const std::size_t first = into.size();
            used = load_keys(keys, limit, into, &database::read_quote);
            read_tags_of(std::span<quote>(into).subspan(first));
        });
        return used;
    }

    // Reads the rows after `after` with `scan` (key, then the record's columns), and
    // their relation side with `complete`, for the whole batch at once.
    template <class Record, class Fill, class Complete>
    std::int64_t load_rows_after(sqlite::statement& scan, std::int64_t after, std::size_t limit,
                                 std::vector<Record>& into, Fill fill, Complete complete) {
        std::int64_t last = after;
        std::size_t bytes = 0;
        in_read([&] {
            std::vector<Record> rows;
            {
                sqlite::reset_on_exit reset(scan);
                scan.bind(1, after);
                scan.bind(2, static_cast<std::int64_t>(limit));
                while (bytes < batch_bytes && scan.step()) {
                    last = scan.column_int(0);
                    Record record;
                    fill(record);
                    bytes += size_of(record);
                    rows.push_back(std::move(record));
                }
            }
            complete(std::span<Record>(rows));
            for (auto& record : rows) {
                into.push_back(std::move(record));
            }
        });
        return last;
    }

    std::int64_t load_after(std::int64_t after, std::size_t limit,
                            std::vector<tag>& into) override {
        return load_rows_after(
            tag_after, after, limit, into,
            [&](tag& record) {
                record.m_id = static_cast<record_id>(tag_after.column_int(1));
                record.m_utfname = tag_after.column_text(2);
            },
            [&](std::span<tag> rows) {
                for (tag& record : rows) {
                    read_quotes_of(record);
                }
            });
    }

    std::int64_t load_after(std::int64_t after, std::size_t limit,
                            std::vector<quote>& into) override {
        return load_rows_after(
            quote_after, after, limit, into,
            [&](quote& record) {
                record.m_id = static_cast<record_id>(quote_after.column_int(1));
                record.m_utftext = quote_after.column_text(2);
                record.m_stamp = static_cast<time_stamp>(quote_after.column_int(3));
            },
            [&](std::span<quote> rows) { read_tags_of(rows); });
    }

    bool is_marked(record_id quote_id, record_id tag_id) {
        sqlite::reset_on_exit reset(mark_exists);
        mark_exists.bind(1, quote_id);
        mark_exists.bind(2, tag_id);
        return mark_exists.step();
    }

    void add_mark(record_id quote_id, record_id tag_id, std::int64_t quote_seq) {
        insert_mark.bind(1, quote_id);
        insert_mark.bind(2, tag_id);
        insert_mark.bind(3, quote_seq);
        insert_mark.run();
    }

    std::int64_t add_quote(record_id id, std::string_view utftext, time_stamp stamp) {
        insert_quote.bind(1, id);
        insert_quote.bind_text(2, utftext);
        insert_quote.bind(3, stamp);
        insert_quote.run();
        return sqlite3_last_insert_rowid(db());
    }

    void add_tag(record_id id, std::string_view utfname) {
        insert_tag.bind(1, id);
        insert_tag.bind_text(2, utfname);
        insert_tag.run();
    }

    // Every quote as (seq, id), in table order, read from the id index alone.
    std::vector<record_id> all_quote_ids() {
        std::vector<record_id> all;
        in_read([&] { all = read_all_quote_ids(db(), ids_by_id); });
        return all;
    }

    // A JSON array of the ids, for the statements that take a list in one parameter.
    static std::string json_list(std::span<const record_id> ids) {
        std::string list = "[";
        for (const record_id id : ids) {
            if (list.size() > 1) {
                list += ',';
            }
            list += decimal(id);
        }
        list += ']';
        return list;
    }

    sqlite::connection connection;
    sqlite::statement begin;
    sqlite::statement begin_read;
    sqlite::statement commit;
    sqlite::statement tag_by_id;
    sqlite::statement tag_by_name;
    sqlite::statement tag_by_seq;
    sqlite::statement tag_after;
    sqlite::statement tag_mark_count;
    sqlite::statement insert_tag;
    sqlite::statement delete_tag;
    sqlite::statement update_tag_name;
    sqlite::statement quote_by_id;
    sqlite::statement quote_by_seq;
    sqlite::statement quote_after;
    sqlite::statement insert_quote;
    sqlite::statement delete_quote;
    sqlite::statement tags_of_quote;
    sqlite::statement tags_of_quotes;
    sqlite::statement quotes_of_tag;
    sqlite::statement mark_exists;
    sqlite::statement insert_mark;
    sqlite::statement delete_mark;
    sqlite::statement ids_by_id;
    sqlite::statement quote_by_id_whole;
    sqlite::statement stamp_by_id;
    sqlite::statement stamps_in_order;
    sqlite::statement last_quote_seq;
    sqlite::statement quotes_present;
    sqlite::statement tags_of_listed;
    sqlite::statement mark_counts;
};

namespace {

// Opens an existing collection file after checking that it is one this program can use.
// Nothing is written to the file, and no companion file made beside it, before every
// check has passed.
sqlite::connection open_database(const std::string& file, const std::string& name) {
    check_database_file(file, name);
    check_collection_schema(file, name);
    sqlite3* handle = nullptr;
    // One thread uses the connection: no need for SQLite to lock it on every call.
    const int opened = sqlite3_open_v2(file.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite::connection db(handle);
    auto refuse = [&](const std::string& reason) -> void {
        throw open_db_error(name + ": " + reason);
    };
    if (opened != SQLITE_OK) {
        refuse(file + ": " + (handle != nullptr ? sqlite3_errmsg(handle) : "out of memory"));
    }
    // SQLite falls back to reading only for a write-protected file; every capture
    // would then fail, so say so now.
    if (sqlite3_db_readonly(handle, "main") == 1) {
        refuse(file + " is write-protected");
    }
    // Until the store has read the file through, closing must not checkpoint into it.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(handle, 5000);
    try {
        sqlite::statement journal(handle, "PRAGMA journal_mode=WAL");
        if (!journal.step() || journal.column_text(0) != "wal") {
            refuse("cannot switch " + file + " to write-ahead logging");
        }
        // Deleted clip text is overwritten rather than left in free pages, and the log
        // shrinks back after a large change (a tag on many quotes removed). The file is
        // read, not mapped: a mapped file is charged to the program page by page, and
        // the kernel maps the pages around each one read, so reading the id index of
        // a million quotes at start would map nearly the whole file (150 MiB) for
        // reads that are no faster than through SQLite's own small cache.
        db.execute(
            "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; PRAGMA secure_delete=ON; "
            "PRAGMA journal_size_limit=4194304; PRAGMA mmap_size=0;");
    } catch (const db_error& error) {
        refuse(file + " is damaged: " + error.what());
    }
    return db;
}

// Gives a file of version 1, 2 or 3 the current text index: the older index dropped
// (emptied, for version 3, whose table is the current one), the new one made and
// filled and the version set in one transaction, so a start that stops part way leaves
// the file as it was and the next one begins again. A file of the current version is
// left alone. Whether it built the index.
bool add_text_index(sqlite3* db, const std::string& file, const std::string& name,
                    const index_progress& progress) {
    std::int64_t version = 0;
    {
        sqlite::statement read(db, "PRAGMA user_version");
        version = read.step() ? read.column_int(0) : 0;
    }
    if (version == collection_schema_version) {
        if (schema_of(db) != collection_schema()) {
            throw open_db_error(name + ": " + file +
                                " is an SQLite database but not a Hoardly collection");
        }
        set_text_index_settings(db);
        return false;
    }
    if (version > collection_schema_version) {
        // Its log held a newer version than the file itself showed.
        throw open_db_error(name + ": made by a newer version of Hoardly (collection version " +
                            decimal(version) + ", this one reads " +
                            decimal(collection_schema_version) + ")");
    }
    // Version 3 has the current layout, with every pair of characters in its index.
    if ((version != 1 || schema_of(db) != collection_schema_v1()) &&
        (version != 2 || schema_of(db) != collection_schema_v2()) &&
        (version != 3 || schema_of(db) != collection_schema())) {
        throw open_db_error(name + ": " + file +
                            " is an SQLite database but not a Hoardly collection");
    }
    sqlite::connection::execute_on(db, "BEGIN IMMEDIATE");
    try {
        if (version == 2) {
            sqlite::connection::execute_on(
                db,
                "DROP TRIGGER quote_text_added; DROP TRIGGER quote_text_removed; "
                "DROP TRIGGER quote_text_changed; DROP TABLE quote_text;");
        }
        if (version == 3) {
            sqlite::connection::execute_on(
                db, "INSERT INTO quote_text(quote_text) VALUES('delete-all')");
        } else {
            sqlite::connection::execute_on(db, text_index_sql().c_str());
        }
        sqlite::connection::execute_on(db, text_index_settings_sql);
        // Pieces are gathered in memory in larger runs while the whole collection goes
        // in, so fewer runs are written and merged; back to the small default after.
        sqlite::connection::execute_on(
            db, "INSERT INTO quote_text(quote_text, rank) VALUES('hashsize', 67108864)");
        std::int64_t last = 0;
        {
            sqlite::statement largest(db, "SELECT max(seq) FROM quote");
            last = largest.step() ? largest.column_int(0) : 0;
        }
        if (progress) {
            progress(0.0);
        }
        sqlite::statement fill(db,
                               "INSERT INTO quote_text(rowid, m_utftext) "
                               "SELECT seq, m_utftext FROM quote WHERE seq BETWEEN ?1 AND ?2");
        constexpr std::int64_t batch = 2048;
        for (std::int64_t from = 1; from <= last; from += batch) {
            fill.bind(1, from);
            fill.bind(2, from + batch - 1);
            fill.run();
            if (progress) {
                // The last tenth is the merge below.
                progress(0.9 * static_cast<double>(std::min(from + batch - 1, last)) /
                         static_cast<double>(last));
            }
        }
        // The runs written on the way are merged into one here. Left as they are,
        // the captures after this start would each take milliseconds to merge a share
        // of them, for hundreds of captures.
        sqlite::connection::execute_on(db, "INSERT INTO quote_text(quote_text) VALUES('optimize')");
        sqlite::connection::execute_on(
            db, "INSERT INTO quote_text(quote_text, rank) VALUES('hashsize', 1048576)");
        sqlite::connection::execute_on(
            db, ("PRAGMA user_version=" + decimal(collection_schema_version)).c_str());
        sqlite::connection::execute_on(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (progress) {
        progress(1.0);
    }
    // The new layout into the file itself, and the log back to nothing.
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    logic_log() << "built the text index" << std::endl;
    return true;
}

bool file_present(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool file_empty_or_absent(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 || (S_ISREG(info.st_mode) && info.st_size == 0);
}

}  // namespace

CollectionStore::CollectionStore() : CollectionStore(default_data_folder()) {}

CollectionStore::CollectionStore(std::u16string data_folder)
    : CollectionStore(std::move(data_folder), nullptr) {}

CollectionStore::CollectionStore(std::u16string data_folder, index_progress progress)
    : m_data_folder(std::move(data_folder)) {
    register_text_pieces();
    const std::string folder = fml::wchar2utf8(m_data_folder);
    const std::string file = fml::wchar2utf8(database_path());
    const std::string name = fml::wchar2utf8(tinyfilesystem::join_path(m_data_folder, u"hoardly"));
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            throw open_db_error(name + ": cannot read " + file + ": " + fml::last_error_text());
        }
        create_database_file(folder, file, name);
    }
    // The log and its index appear with the first read; a collection refused after that
    // must not be left with companion files it did not have.
    const bool had_companions = file_present(file + "-wal") || file_present(file + "-shm");
    try {
        sqlite::connection opened = open_database(file, name);
        if (add_text_index(opened.get(), file, name, progress)) {
            // The full-text engine keeps the table it grew to gather the whole
            // collection's pieces for as long as the connection lives, and walks all of
            // it at every commit that writes the index: each capture would cost
            // milliseconds more until the next start. A new connection starts small.
            opened = sqlite::connection();
            opened = open_database(file, name);
        }
        m_db = std::make_unique<database>(std::move(opened));
        if (isDatabaseEmpty()) {
            createDefaultCollection();
        }
        initMaxIds();
        insertDates();
    } catch (const db_error& error) {
        // The first reads of the tables are where damage inside the file shows.
        close_refused(file, had_companions);
        throw open_db_error(name + ": " + file + " is damaged: " + error.what());
    } catch (...) {
        close_refused(file, had_companions);
        throw;
    }
    sqlite3_db_config(m_db->db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
}

void CollectionStore::close_refused(const std::string& file, bool had_companions) noexcept {
    m_db.reset();
    // An empty log holds nothing; one with frames holds this start's own commits (the
    // default import, the dates) and stays for the next start.
    if (!had_companions && file_empty_or_absent(file + "-wal")) {
        ::unlink((file + "-wal").c_str());
        ::unlink((file + "-shm").c_str());
    }
}

CollectionStore::~CollectionStore() = default;

std::u16string CollectionStore::database_path() const {
    return tinyfilesystem::join_path(m_data_folder, u"hoardly.fdb");
}

// ---- Start-up -------------------------------------------------------------------------

bool CollectionStore::isDatabaseEmpty() {
    return m_db->single_number("SELECT EXISTS(SELECT 1 FROM tag) OR EXISTS(SELECT 1 FROM quote)",
                               0) == 0;
}

void CollectionStore::createDefaultCollection() {
    const auto tags = read_default_tags(
        fml::wchar2utf8(tinyfilesystem::join_path(m_data_folder, u"defaulttags.xml")));
    const auto quotes = read_default_quotes(
        fml::wchar2utf8(tinyfilesystem::join_path(m_data_folder, u"defaultquotes.xml")), tags);
    m_db->in_transaction([&] {
        for (const auto& tag : tags) {
            m_db->add_tag(tag.id, fml::wchar2utf8(tag.name));
        }
        for (const auto& quote : quotes) {
            const auto seq =
                m_db->add_quote(quote.id, fml::wchar2utf8(quote.text), current_stamp());
            for (const record_id tag_id : quote.tags) {
                m_db->add_mark(quote.id, tag_id, seq);
            }
        }
    });
    for (const auto& quote : quotes) {
        for (const record_id tag_id : quote.tags) {
            logic_log() << "quote: " << quote.id << " marked with tag: " << tag_id << std::endl;
        }
    }
    logic_log() << "creating DB" << std::endl;
}

void CollectionStore::initMaxIds() {
    // Both through the unique id indexes: no pass over the records.
    m_max_tid = std::max<record_id>(
        m_max_tid, static_cast<record_id>(m_db->single_number("SELECT max(m_id) FROM tag", 0)));
    m_max_qid = std::max<record_id>(
        m_max_qid, static_cast<record_id>(m_db->single_number("SELECT max(m_id) FROM quote", 0)));
    logic_log() << "m_max_tid: " << m_max_tid << "m_max_qid: " << m_max_qid << std::endl;
}

void CollectionStore::insertDates() {
    // Only the first quote in table order decides whether old, undated quotes exist.
    // With no quote at all nothing decides against it: the pass runs, changes nothing,
    // and is committed and logged like any other.
    const std::int64_t first =
        m_db->single_number("SELECT m_stamp FROM quote ORDER BY seq LIMIT 1", 0);
    if (first != no_stamp && first != 0) {
        return;  // dated
    }
    m_db->in_transaction([&] {
        sqlite::statement date(m_db->db(),
                               "UPDATE quote SET m_stamp = ?1 WHERE m_stamp IN (-1, 0)");
        date.bind(1, current_stamp());
        date.run();
    });
    logic_log() << "automatically insert dates for some quotes" << std::endl;
}

// ---- Reading ----------------------------------------------------------------------------

std::unique_ptr<tag_cursor> CollectionStore::tags() {
    logic_log() << "tags" << std::endl;
    return tag_cursor::of_table(*m_db);
}

std::vector<tag> CollectionStore::tag_names() {
    logic_log() << "tags" << std::endl;
    std::vector<tag> names;
    m_db->in_read([&] {
        sqlite::statement all(m_db->db(), "SELECT m_id, m_utfname FROM tag ORDER BY seq");
        while (all.step()) {
            tag& named = names.emplace_back();
            named.m_id = static_cast<record_id>(all.column_int(0));
            named.m_utfname = all.column_text(1);
        }
    });
    return names;
}

std::unique_ptr<tag_cursor> CollectionStore::getTag(record_id id) {
    logic_log() << "getTag" << std::endl;
    const std::int64_t seq = m_db->tag_seq(id);
    return tag_cursor::of_keys(
        *m_db, seq != 0 ? std::vector<std::int64_t>{seq} : std::vector<std::int64_t>{},
        std::make_exception_ptr(wrong_tag_id(decimal(id))));
}

std::unique_ptr<quote_cursor> CollectionStore::quotes() {
    logic_log() << "quotes" << std::endl;
    return quote_cursor::of_table(*m_db);
}

std::unique_ptr<quote_cursor> CollectionStore::getQuote(record_id id) {
    logic_log() << "getQuote" << std::endl;
    const std::int64_t seq = m_db->quote_seq(id);
    return quote_cursor::of_keys(
        *m_db, seq != 0 ? std::vector<std::int64_t>{seq} : std::vector<std::int64_t>{},
        std::make_exception_ptr(wrong_quote_id(decimal(id))));
}

quote CollectionStore::read_quote_quietly(record_id id) {
    const std::int64_t seq = m_db->quote_seq(id);
    std::vector<quote> found;
    if (seq != 0) {
        static_cast<record_source<quote>&>(*m_db).load(std::span(&seq, 1), 1, found);
    }
    if (found.empty()) {
        throw wrong_quote_id(decimal(id));
    }
    return std::move(found.front());
}

std::vector<quote> CollectionStore::read_quotes(std::span<const record_id> ids) {
    std::vector<quote> found;
    found.reserve(ids.size());
    m_db->in_read([&] {
        sqlite::statement& by_id = m_db->quote_by_id_whole;
        for (const record_id id : ids) {
            sqlite::reset_on_exit reset(by_id);
            by_id.bind(1, id);
            if (by_id.step()) {
                quote& record = found.emplace_back();
                record.m_id = static_cast<record_id>(by_id.column_int(0));
                record.m_utftext = by_id.column_text(1);
                record.m_stamp = static_cast<time_stamp>(by_id.column_int(2));
            }
        }
        m_db->read_tags_of(std::span<quote>(found));
    });
    return found;
}

std::vector<record_id> CollectionStore::order_by_time(std::span<const record_id> ids,
                                                      bool oldest_first) {
    std::vector<record_id> wanted(ids.begin(), ids.end());
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<std::pair<time_stamp, record_id>> timed;
    timed.reserve(wanted.size());
    // The largest row key stands in for the number of quotes: it costs one step down
    // the table, where counting would pass over all of it.
    std::int64_t rows = 0;
    {
        sqlite::reset_on_exit reset(m_db->last_quote_seq);
        if (m_db->last_quote_seq.step() && !m_db->last_quote_seq.column_is_null(0)) {
            rows = m_db->last_quote_seq.column_int(0);
        }
    }
    if (static_cast<std::int64_t>(wanted.size()) * 16 < rows) {
        // A few quotes: one lookup each.
        m_db->in_read([&] {
            sqlite::statement& stamp = m_db->stamp_by_id;
            for (const record_id id : wanted) {
                sqlite::reset_on_exit reset(stamp);
                stamp.bind(1, id);
                if (stamp.step()) {
                    timed.emplace_back(static_cast<time_stamp>(stamp.column_int(0)), id);
                }
            }
        });
        std::sort(timed.begin(), timed.end());
    } else {
        // Much of the table: two passes over small indexes instead, one for the row
        // keys of the wanted ids and one that lists the row keys in stamp order, so no
        // page of quote text is touched.
        std::vector<std::pair<std::int64_t, record_id>> kept;  // (seq, id)
        kept.reserve(wanted.size());
        m_db->in_read([&] {
            {
                sqlite::statement& scan = m_db->ids_by_id;
                sqlite::reset_on_exit reset(scan);
                auto next = wanted.begin();
                while (next != wanted.end() && scan.step()) {
                    const auto id = static_cast<record_id>(scan.column_int(1));
                    next = std::lower_bound(next, wanted.end(), id);
                    if (next != wanted.end() && *next == id) {
                        kept.emplace_back(scan.column_int(0), id);
                        ++next;
                    }
                }
            }
            if (!std::is_sorted(kept.begin(), kept.end())) {
                std::sort(kept.begin(), kept.end());
            }
            sqlite::statement& scan = m_db->stamps_in_order;
            sqlite::reset_on_exit reset(scan);
            while (timed.size() < kept.size() && scan.step()) {
                const std::int64_t seq = scan.column_int(1);
                const auto at = std::lower_bound(
                    kept.begin(), kept.end(), seq,
                    [](const std::pair<std::int64_t, record_id>& k, std::int64_t s) {
                        return k.first < s;
                    });
                if (at != kept.end() && at->first == seq) {
                    timed.emplace_back(static_cast<time_stamp>(scan.column_int(0)), at->second);
                }
            }
        });
        // Stamp order from the index; quotes of the same second go by id.
        for (auto run = timed.begin(); run != timed.end();) {
            const auto end = std::find_if(run, timed.end(), [&](const auto& t) {
                return t.first != run->first;
            });
            if (end - run > 1) {
                std::sort(run, end);
            }
            run = end;
        }
    }
    std::vector<record_id> ordered;
    ordered.reserve(timed.size());
    for (const auto& [stamp, id] : timed) {
        ordered.push_back(id);
    }
    if (!oldest_first) {
        std::reverse(ordered.begin(), ordered.end());
    }
    return ordered;
}

std::optional<std::vector<record_id>> CollectionStore::tags_on_all(
    std::span<const record_id> quotes) {
    if (quotes.empty()) {
        return std::vector<record_id>{};
    }
    std::vector<record_id> distinct(quotes.begin(), quotes.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const std::string list = database::json_list(distinct);
    std::optional<std::vector<record_id>> carried;
    // Three statements whatever the number of quotes: whether they are all there, the
    // tags of the first, and for each tag how many of the quotes carry it.
    m_db->in_read([&] {
        {
            sqlite::reset_on_exit reset(m_db->quotes_present);
            m_db->quotes_present.bind_text(1, list);
            if (!m_db->quotes_present.step() ||
                m_db->quotes_present.column_int(0) != static_cast<std::int64_t>(distinct.size())) {
                return;
            }
        }
        quote first;
        first.m_id = quotes.front();
        m_db->read_tags_of(first);
        std::vector<std::pair<record_id, std::int64_t>> counts;
        {
            sqlite::reset_on_exit reset(m_db->mark_counts);
            m_db->mark_counts.bind_text(1, list);
            while (m_db->mark_counts.step()) {
                counts.emplace_back(static_cast<record_id>(m_db->mark_counts.column_int(0)),
                                    m_db->mark_counts.column_int(1));
            }
        }
        carried.emplace();
        for (const record_id tag_id : first.m_tags) {
            const auto count = std::find_if(counts.begin(), counts.end(),
                                            [&](const auto& c) { return c.first == tag_id; });
            if (count != counts.end() &&
                count->second == static_cast<std::int64_t>(distinct.size())) {
                carried->push_back(tag_id);
            }
        }
    });
    return carried;
}

std::string CollectionStore::tag_utfname(record_id id) {
    sqlite::reset_on_exit reset(m_db->tag_by_id);
    m_db->tag_by_id.bind(1, id);
    if (!m_db->tag_by_id.step()) {
        throw wrong_tag_id(decimal(id));
    }
    return m_db->tag_by_id.column_text(1);
}

// ---- Changing ---------------------------------------------------------------------------

record_id CollectionStore::addQuote(std::u16string_view text) {
    if (m_max_qid == INT32_MAX) {
        throw db_error("cannot add a quote: every quote id up to " + decimal(INT32_MAX) +
                       " is taken");
    }
    const record_id id = m_max_qid + 1;
    const std::string utftext = fml::wchar2utf8(text);
    m_db->in_transaction([&] { m_db->add_quote(id, utftext, current_stamp()); });
    m_max_qid = id;
    m_untidy = true;
    logic_log() << "added quote with id: " << id << std::endl;
    return id;
}

record_id CollectionStore::tagNamed(std::u16string_view name) {
    sqlite::reset_on_exit reset(m_db->tag_by_name);
    m_db->tag_by_name.bind_text(1, fml::wchar2utf8(name));
    return m_db->tag_by_name.step() ? static_cast<record_id>(m_db->tag_by_name.column_int(0)) : -1;
}

record_id CollectionStore::addTag(std::u16string_view name) {
    const std::string utfname = fml::wchar2utf8(name);
    {
        sqlite::reset_on_exit reset(m_db->tag_by_name);
        m_db->tag_by_name.bind_text(1, utfname);
        if (m_db->tag_by_name.step()) {
            return -1;
        }
    }
    if (m_max_tid == INT32_MAX) {
        throw db_error("cannot add a tag: every tag id up to " + decimal(INT32_MAX) + " is taken");
    }
    const record_id id = m_max_tid + 1;
    m_db->in_transaction([&] { m_db->add_tag(id, utfname); });
    m_max_tid = id;
    logic_log() << "added tag with id: " << id << std::endl;
    return id;
}

void CollectionStore::removeTag(record_id id) {
    const bool removed = m_db->in_transaction([&] {
        m_db->delete_tag.bind(1, id);
        m_db->delete_tag.run();
        return m_db->changes() > 0;
    });
    if (removed) {
        logic_log() << "removed tag with id: " << id << std::endl;
    }
}

void CollectionStore::removeQuote(record_id id) {
    if (m_db->quote_seq(id) == 0) {
        throw wrong_quote_id(decimal(id));
    }
    m_db->in_transaction([&] {
        m_db->delete_quote.bind(1, id);
        m_db->delete_quote.run();
    });
    m_untidy = true;
    logic_log() << "removed quote with id: " << id << std::endl;
}

void CollectionStore::removeQuotes(std::span<const record_id> ids) {
    for (record_id id : ids) {
        checkQuote(id);
    }
    // One durable commit for the whole selection: a crash or a failure part way leaves
    // every quote of it in place, and ten thousand quotes do not cost ten thousand syncs.
    std::vector<record_id> removed;
    removed.reserve(ids.size());
    m_db->in_transaction([&] {
        for (record_id id : ids) {
            m_db->delete_quote.bind(1, id);
            m_db->delete_quote.run();
            if (m_db->changes() > 0) {
                removed.push_back(id);
            }
        }
    });
    m_untidy = true;
    for (record_id id : removed) {
        logic_log() << "removed quote with id: " << id << std::endl;
    }
}

std::u16string CollectionStore::renameTag(record_id id, std::u16string_view name) {
    checkTag(id);
    // The name as it will be stored: a lone surrogate has become U+FFFD.
    const std::string utfname = fml::wchar2utf8(name);
    {
        sqlite::reset_on_exit reset(m_db->tag_by_name);
        m_db->tag_by_name.bind_text(1, utfname);
        if (m_db->tag_by_name.step()) {
            return fml::utf82wchar(tag_utfname(id));
        }
    }
    m_db->in_transaction([&] {
        m_db->update_tag_name.bind(1, id);
        m_db->update_tag_name.bind_text(2, utfname);
        m_db->update_tag_name.run();
        if (m_db->changes() == 0) {
            throw wrong_tag_id(decimal(id));
        }
    });
    logic_log() << "renamed tag: " << id << std::endl;
    return fml::utf82wchar(utfname);
}

bool CollectionStore::markQuote(record_id quoteId, record_id tagId) {
    checkQuote(quoteId);
    checkTag(tagId);
    if (isQuoteMarked(quoteId, tagId)) {
        return false;
    }
    const std::int64_t seq = m_db->quote_seq(quoteId);
    if (seq == 0) {
        throw wrong_quote_id(decimal(quoteId));
    }
    m_db->in_transaction([&] { m_db->add_mark(quoteId, tagId, seq); });
    logic_log() << "quote: " << quoteId << " marked with tag: " << tagId << std::endl;
    return true;
}

void CollectionStore::unmarkQuote(record_id quoteId, record_id tagId) {
    checkQuote(quoteId);
    checkTag(tagId);
    m_db->in_transaction([&] {
        m_db->delete_mark.bind(1, quoteId);
        m_db->delete_mark.bind(2, tagId);
        m_db->delete_mark.run();
        if (m_db->changes() == 0) {
            throw wrong_tag_id(decimal(tagId));
        }
    });
    logic_log() << "quote: " << quoteId << " unmarked with tag: " << tagId << std::endl;
}

std::vector<record_id> CollectionStore::markQuotes(std::span<const record_id> quotes,
                                                   record_id tag) {
    std::vector<record_id> marked;
    // One durable commit for the whole selection: a crash or a gone record leaves no
    // mark of it, and ten thousand marks cost one sync.
    m_db->in_transaction([&] {
        std::vector<std::int64_t> seqs;
        seqs.reserve(quotes.size());
        for (const record_id id : quotes) {
            seqs.push_back(m_db->quote_seq(id));
            if (seqs.back() == 0) {
                throw wrong_quote_id(decimal(id));
            }
        }
        if (m_db->tag_seq(tag) == 0) {
            throw wrong_tag_id(decimal(tag));
        }
        for (std::size_t i = 0; i < quotes.size(); ++i) {
            if (!m_db->is_marked(quotes[i], tag)) {
                m_db->add_mark(quotes[i], tag, seqs[i]);
                marked.push_back(quotes[i]);
            }
        }
    });
    for (const record_id id : marked) {
        logic_log() << "quote: " << id << " marked with tag: " << tag << std::endl;
    }
    return marked;
}

std::vector<record_id> CollectionStore::unmarkQuotes(std::span<const record_id> quotes,
                                                     record_id tag) {
    std::vector<record_id> unmarked;
    m_db->in_transaction([&] {
        for (const record_id id : quotes) {
            if (m_db->quote_seq(id) == 0) {
                throw wrong_quote_id(decimal(id));
            }
        }
        if (m_db->tag_seq(tag) == 0) {
            throw wrong_tag_id(decimal(tag));
        }
        for (const record_id id : quotes) {
            m_db->delete_mark.bind(1, id);
            m_db->delete_mark.bind(2, tag);
            m_db->delete_mark.run();
            if (m_db->changes() > 0) {
                unmarked.push_back(id);
            }
        }
    });
    for (const record_id id : unmarked) {
        logic_log() << "quote: " << id << " unmarked with tag: " << tag << std::endl;
    }
    return unmarked;
}

// ---- Checking ---------------------------------------------------------------------------

bool CollectionStore::validateTag(record_id id) {
    debug_log() << "validating tag with id: " << id << std::endl;
    return m_db->tag_seq(id) != 0;
}

bool CollectionStore::validateQuote(record_id id) {
    debug_log() << "validating quote with id: " << id << std::endl;
    return m_db->quote_seq(id) != 0;
}

void CollectionStore::checkTag(record_id id) {
    if (!validateTag(id)) {
        throw wrong_tag_id(decimal(id));
    }
}

void CollectionStore::checkQuote(record_id id) {
    if (!validateQuote(id)) {
        throw wrong_quote_id(decimal(id));
    }
}

bool CollectionStore::isQuoteMarked(record_id quoteId, record_id tagId) {
    checkQuote(quoteId);
    checkTag(tagId);
    return m_db->is_marked(quoteId, tagId);
}

// ---- Search -----------------------------------------------------------------------------

bool CollectionStore::addSearchTag(record_id id) {
    checkTag(id);
    logic_log() << "addSearchTag: " << id << std::endl;
    if (std::find(m_search_tags.begin(), m_search_tags.end(), id) != m_search_tags.end()) {
        return false;
    }
    m_search_tags.push_back(id);
    return true;
}

void CollectionStore::removeSearchTag(record_id id) {
    const auto found = std::find(m_search_tags.begin(), m_search_tags.end(), id);
    if (found == m_search_tags.end()) {
        throw wrong_tag_id("wrong removeSearchTag:" + decimal(id));
    }
    m_search_tags.erase(found);
    logic_log() << "remove search tag: " << id << std::endl;
}

bool CollectionStore::isTagUsedInSearch(record_id id) {
    checkTag(id);
    logic_log() << "isTagUsedInSearch: " << id << std::endl;
    return std::find(m_search_tags.begin(), m_search_tags.end(), id) != m_search_tags.end();
}

void CollectionStore::clearSearchTags() {
    m_search_tags.clear();
}

void CollectionStore::setSearchMode(int mode) {
    m_search_mode = mode == search_mode_and ? search_mode_and : search_mode_or;
}

void CollectionStore::setSearchText(std::u16string_view text) {
    m_search_text = text;
    m_search_has_words = !search_words(m_search_text).empty();
}

search_query CollectionStore::currentSearch() const {
    return {m_search_tags, m_search_mode, m_search_text};
}

std::unique_ptr<quote_cursor> CollectionStore::searchQuotes() {
    if (isSearchEmpty()) {
        return quote_cursor::of_table(*m_db);
    }
    const auto marks = search_marks();
    std::vector<std::int64_t> keys;
    keys.reserve(marks.size());
    for (const auto& [seq, quote_id] : marks) {
        keys.push_back(seq);
    }
    return quote_cursor::of_keys(*m_db, std::move(keys));
}

std::future<std::vector<record_id>> CollectionStore::read_all_quote_ids_apart() const {
    return std::async(std::launch::async, [file = fml::wchar2utf8(database_path())] {
        const sqlite::connection db = open_reader(file, "reading the quote ids of");
        sqlite3* handle = db.get();
        sqlite::statement scan(handle, all_ids_sql);
        auto ids = read_all_quote_ids(handle, scan);
        // The case folding table is read from SQLite once per process (some
        // milliseconds): here rather than on the first keystroke of a search.
        fold_case(U'A');
        return ids;
    });
}

std::int64_t CollectionStore::change_stamp() const {
    return sqlite3_total_changes64(m_db->db()) - m_tidy_changes;
}

bool CollectionStore::tidy_text_index() {
    if (!m_untidy) {
        return false;
    }
    sqlite3* db = m_db->db();
    const std::int64_t before = sqlite3_total_changes64(db);
    // About 64 pages of merged index (a few milliseconds) per step.
    m_db->in_transaction([&] {
        sqlite::connection::execute_on(
            db, "INSERT INTO quote_text(quote_text, rank) VALUES('merge', 64)");
    });
    const std::int64_t changes = sqlite3_total_changes64(db) - before;
    m_tidy_changes += changes;
    // SQLite counts two changes or more when the step merged something.
    if (changes >= 2) {
        return true;
    }
    m_untidy = false;
    logic_log() << "tidied the text index" << std::endl;
    // A passive move of the log into the file never waits for readers. Not after every
    // capture: the commit after the log begins again pays for one more sync.
    if (m_db->log_pages >= 256) {
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        m_db->log_pages = 0;
    }
    return false;
}

std::vector<record_id> CollectionStore::searchQuoteIds() {
    if (isSearchEmpty()) {
        return m_db->all_quote_ids();
    }
    const auto marks = search_marks();
    std::vector<record_id> ids;
    ids.reserve(marks.size());
    for (const auto& [seq, quote_id] : marks) {
        ids.push_back(quote_id);
    }
    return ids;
}

std::vector<std::pair<std::int64_t, record_id>> CollectionStore::search_marks() {
    std::vector<std::pair<std::int64_t, record_id>> marks;
    // One read: the tags' marks and the text index agree with each other.
    m_db->in_read([&] { marks = searcher(m_db->db(), nullptr).run(currentSearch()); });
    return marks;
}

std::optional<std::vector<record_id>> CollectionStore::search_ids_apart(
    const std::u16string& database_path, const search_query& query,
    const std::atomic<bool>& cancel) {
    register_text_pieces();
    const std::string file = fml::wchar2utf8(database_path);
    const sqlite::connection db = open_reader(file, "searching");
    sqlite3* handle = db.get();
    // SQLite looks at the flag every thousand steps of its machine, within any read.
    sqlite3_progress_handler(
        handle, 1000,
        [](void* flag) -> int {
            return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed)
                       ? 1
                       : 0;
        },
        const_cast<std::atomic<bool>*>(&cancel));
    try {
        db.execute("BEGIN");
        std::vector<record_id> ids;
        if (query.tags.empty() && search_words(query.text).empty()) {
            sqlite::statement scan(handle, all_ids_sql);
            ids = read_all_quote_ids(handle, scan);
        } else {
            const auto hits = searcher(handle, &cancel).run(query);
            ids.reserve(hits.size());
            for (const auto& [seq, id] : hits) {
                ids.push_back(id);
            }
        }
        if (cancel.load()) {
            return std::nullopt;
        }
        return ids;
    } catch (const search_cancelled&) {
        return std::nullopt;
    } catch (const db_error&) {
        // An interrupted read raises as a failed one does.
        if (cancel.load()) {
            return std::nullopt;
        }
        throw;
    }
}

}  // namespace hrd
