#pragma once
// The collection: quotes and tags in one SQLite file, "hoardly.fdb" in the data folder,
// with the search state of the running program.
//
// Every changing operation is one transaction, committed (durably: WAL with
// synchronous=FULL) before it returns; if it raises, nothing of it is kept. Log lines go
// to the "logic" log (record operations) and the "debug" log (id checks), both of which
// must be registered. Single-threaded: the program's one UI thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/records.h"
#include "model/result_set.h"

namespace hrd {

// How the search tags combine.
inline constexpr int search_mode_and = 0;  // a quote must carry every search tag
inline constexpr int search_mode_or = 1;   // one of them is enough

// The layout version of the collection file, recorded in PRAGMA user_version. A file
// of version 1 (without the text index) gets its index when it is opened; one of
// version 2 or 3 (an index of other pieces) has it rebuilt.
inline constexpr int collection_schema_version = 4;

// What a search selects: the quotes that satisfy the tags (none: every quote) and
// whose text holds every whitespace-separated word of `text`, ignoring case.
struct search_query {
    std::vector<record_id> tags;  // in the order they were added
    int mode = search_mode_and;
    std::u16string text;  // "" = no text condition
};

// Told how far building the text index of an older file has come, 0 to 1.
using index_progress = std::function<void(double done)>;

class CollectionStore {
public:
    // Opens DataDir's collection (read_appdata_folder_error when start-up has not set it).
    CollectionStore();
    // Opens `data_folder`/hoardly.fdb, creating it when absent. An empty collection is
    // filled from the default files in the same folder. Then the id counters are set and
    // undated quotes get the current time.
    // Raises open_db_error for a file that is not a collection this program can use
    // (not SQLite, damaged, write-protected, or from a newer version); the file is left
    // exactly as it was.
    explicit CollectionStore(std::u16string data_folder);
    // The same, telling `progress` how far building the text index has come when the
    // file is of version 1 (called from this thread, 0 first and 1 last; not called
    // at all for a file that has its index).
    CollectionStore(std::u16string data_folder, index_progress progress);
    ~CollectionStore();
    CollectionStore(const CollectionStore&) = delete;
    CollectionStore& operator=(const CollectionStore&) = delete;

    // The collection file's path.
    std::u16string database_path() const;
    const std::u16string& data_folder() const { return m_data_folder; }

    // --- Reading. Each logs its name to "logic". A lookup by an id that is not there
    // gives an empty result; reading its record raises wrong_tag_id / wrong_quote_id.
    std::unique_ptr<tag_cursor> tags();
    // Every tag's id and name in table order, without the quotes it marks (m_quotes
    // stays empty): what a list of tags shows, in one read. Logs "tags".
    std::vector<tag> tag_names();
    std::unique_ptr<tag_cursor> getTag(record_id id);
    std::unique_ptr<quote_cursor> quotes();
    std::unique_ptr<quote_cursor> getQuote(record_id id);
    // The quote with this id, read without a log line: for copies and exports that read
    // many quotes one by one. Raises wrong_quote_id when it is not there.
    quote read_quote_quietly(record_id id);
    // The quotes with these ids, in the order given, read in one read transaction
    // without log lines: what the rows in view are built from. An id that names no
    // quote is skipped (callers match records by m_id); an id given twice comes twice.
    std::vector<quote> read_quotes(std::span<const record_id> ids);
    // The quotes among `ids` ordered by (stamp, id), oldest first, or the exact reverse
    // for newest first. Ids that name no quote are dropped; an id given twice comes once.
    std::vector<record_id> order_by_time(std::span<const record_id> ids, bool oldest_first);
    // The tags every one of `quotes` carries, in the order the first one has them; an
    // empty list for no quotes; nothing when one of them is gone. Reads no quote text.
    std::optional<std::vector<record_id>> tags_on_all(std::span<const record_id> quotes);

    // The id of the tag named exactly `name` (as it would be stored), or -1.
    record_id tagNamed(std::u16string_view name);

    // --- Changing.
    // Stores `text` as a new quote stamped now; returns its id. Logs "added quote with id: ".
    record_id addQuote(std::u16string_view text);
    // A new tag; -1 (nothing written) when a tag of that exact name exists.
    // Logs "added tag with id: ".
    record_id addTag(std::u16string_view name);
    // Removes the tag and its marks; the quotes stay. A missing id changes nothing and
    // logs nothing. Logs "removed tag with id: ".
    void removeTag(record_id id);
    // Removes the quote and its marks; wrong_quote_id when it is not there.
    // Logs "removed quote with id: ".
    void removeQuote(record_id id);
    // Removes all these quotes and their marks in one transaction: wrong_quote_id, and
    // nothing removed, when one of them is not there. An id given twice is removed once.
    // Logs "removed quote with id: " for each, after the commit.
    void removeQuotes(std::span<const record_id> ids);
    // The name the tag bears afterwards: the new one, or the current one when the new
    // name is taken (by this tag or another). Logs "renamed tag: " only on a change.
    std::u16string renameTag(record_id id, std::u16string_view name);
    // Puts the tag at the end of the quote's tags; false when the quote carries it
    // already. Logs "quote: <q> marked with tag: <t>".
    bool markQuote(record_id quoteId, record_id tagId);
    // Takes the tag off the quote; wrong_tag_id when the quote does not carry it.
    // Logs "quote: <q> unmarked with tag: <t>" after the commit.
    void unmarkQuote(record_id quoteId, record_id tagId);
    // Puts the tag at the end of the tags of each quote that does not carry it yet, all
    // in one transaction; returns those quotes, in the order given. wrong_quote_id or
    // wrong_tag_id, and nothing written, when one of them is gone. Logs "quote: <q>
    // marked with tag: <t>" for each after the commit.
    std::vector<record_id> markQuotes(std::span<const record_id> quotes, record_id tag);
    // Takes the tag off each of the quotes that carries it, in one transaction; returns
    // those quotes, in the order given. Errors as markQuotes. Logs "quote: <q> unmarked
    // with tag: <t>" for each after the commit.
    std::vector<record_id> unmarkQuotes(std::span<const record_id> quotes, record_id tag);

    // --- Checking. Each check logs "validating tag with id: " (or quote) to "debug".
    bool validateTag(record_id id);
    bool validateQuote(record_id id);
    void checkTag(record_id id);
    void checkQuote(record_id id);
    // Checks the quote, then the tag, then whether the quote carries the tag.
    bool isQuoteMarked(record_id quoteId, record_id tagId);

    // --- Search: an ordered list of tag ids, a mode and a text, kept for this run only.
    bool addSearchTag(record_id id);
    void removeSearchTag(record_id id);
    bool isTagUsedInSearch(record_id id);
    void clearSearchTags();
    // No tags and no text: the search selects every quote.
    bool isSearchEmpty() const { return m_search_tags.empty() && !m_search_has_words; }
    // The text part of the search (see search_query); only blanks count as no text.
    void setSearchText(std::u16string_view text);
    const std::u16string& searchText() const { return m_search_text; }
    search_query currentSearch() const;
    void setSearchMode(int mode);
    int searchMode() const { return m_search_mode; }
    const std::vector<record_id>& searchTags() const { return m_search_tags; }
    // The quotes the search selects, in table order: every quote for an empty search;
    // in AND mode the quotes carrying every search tag (wrong_tag_id for a search tag
    // that is gone); in OR mode those carrying any (a gone tag matches nothing); of
    // those, the ones whose text holds every word of the search text.
    std::unique_ptr<quote_cursor> searchQuotes();
    // Exactly the ids searchQuotes() yields, in the same order; the same errors. Reads
    // no quote text unless there is a search text: then the texts of the quotes the
    // index names, or of all the quotes the tags select when every word is shorter
    // than three characters.
    std::vector<record_id> searchQuoteIds();
    // The ids searchQuoteIds() would give for `query`, found on the calling thread
    // through a read-only connection of its own to the collection at `database_path`,
    // so the UI thread can go on meanwhile. Returns nothing as soon as it sees `cancel`
    // set (it looks between rows of every read). Raises like searchQuoteIds().
    static std::optional<std::vector<record_id>> search_ids_apart(
        const std::u16string& database_path, const search_query& query,
        const std::atomic<bool>& cancel);
    // Every quote's id in table order (what searchQuoteIds() gives for an empty
    // search), read on a thread of its own through a read-only connection of its own,
    // so that the start of the program can go on meanwhile. The result is the
    // collection as it was when the read began: compare change_stamp() before and
    // after to know whether it still is.
    std::future<std::vector<record_id>> read_all_quote_ids_apart() const;
    // Grows with every change this store commits, but not with tidy_text_index().
    std::int64_t change_stamp() const;

    // --- Upkeep for quiet moments.
    // Whether captures or removals left the text index work to do.
    bool untidy() const { return m_untidy; }
    // One step of that work, as its own short transaction: merges the small pieces of
    // index that captures write (a capture never merges; see the index settings), then
    // moves a long write-ahead log into the file. Whether more is left. Logs "tidied
    // the text index" to "logic" when done.
    // Searches give the same results before and after.
    bool tidy_text_index();

    // --- Start-up steps, run by the constructor; public for the model and for tests.
    bool isDatabaseEmpty();
    // Imports "defaulttags.xml" and "defaultquotes.xml" from the data folder in one
    // transaction after checking both; read_xml_error leaves the collection untouched.
    void createDefaultCollection();
    void initMaxIds();
    void insertDates();

    record_id max_quote_id() const { return m_max_qid; }
    record_id max_tag_id() const { return m_max_tid; }

    // A tag's name without logging, for building output text; wrong_tag_id when gone.
    std::string tag_utfname(record_id id);

private:
    struct database;

    // Closes a collection the constructor gave up on, removing the log and its index
    // when this start made them and they hold nothing.
    void close_refused(const std::string& file, bool had_companions) noexcept;
    // The (quote seq, quote id) of the quotes a non-empty search selects, in table order.
    std::vector<std::pair<std::int64_t, record_id>> search_marks();

    record_id m_max_qid = 0;
    record_id m_max_tid = 0;
    int m_search_mode = search_mode_and;
    std::u16string m_data_folder;
    std::unique_ptr<database> m_db;
    std::vector<record_id> m_search_tags;
    std::u16string m_search_text;
    bool m_search_has_words = false;
    // Opening may find pieces left unmerged by the last run.
    bool m_untidy = true;
    // The changes tidy_text_index() made, which change_stamp() leaves out.
    std::int64_t m_tidy_changes = 0;
};

}  // namespace hrd
