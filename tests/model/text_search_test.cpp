// Finding quotes by their text: the index and the scans give exactly what a plain
// word-by-word check of every text gives, alone and with tags, on this thread and on
// another; older files get their index when opened.

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include "fml/text.h"
#include "model/errors.h"
#include "model/text_fold.h"
#include "model/text_index.h"
#include "store_fixture.h"

using namespace hrd;

namespace {

// Pieces of clip text chosen to collide often: cased letters of several scripts, a
// letter with a combining mark, CJK, an emoji (a surrogate pair), the query syntax
// of the index, control characters (NUL among them) and a lone surrogate as a
// clipboard may give.
const std::vector<std::u16string> pieces = {
    u"a", u"b", u"c", u"A", u"B", u"C", u"\u00E9", u"\u00C9", u"\u00DF", u"\u1E9E",
    u"\u03A3", u"\u03C3", u"\u03C2", u"\u0436", u"\u0416", u"\u4E2D", u"\u6587",
    u"\U0001F600", u"e\u0301", u"\u212A", u"k", u"K", u" ", u"\t", u"\n", u"\u3000",
    u"\"", u"*", u"-", u"^", u"(", u")", u":", u"NEAR", u"AND", u"OR", u"NOT", u"\x01",
    u"\x1F", u"\xD800", u"m_utftext", u"{", u"}", u"+", std::u16string(1, u'\0')};

std::u16string random_text(std::mt19937& random, std::size_t pieces_count) {
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
    std::u16string text;
    for (std::size_t i = 0; i < pieces_count; ++i) {
        text += pieces[piece(random)];
    }
    return text;
}

class text_search : public hrd::test::store_fixture {
protected:
    // Every quote's id and folded text, as stored.
    std::vector<std::pair<record_id, std::u32string>> stored() {
        std::vector<std::pair<record_id, std::u32string>> all;
        for (auto cursor = m_store->quotes(); !cursor->empty(); cursor->next()) {
            all.emplace_back(cursor->current().m_id, fold_utf8(cursor->current().m_utftext));
        }
        return all;
    }

    // What the search must give, by checking every text.
    std::vector<record_id> reference(const search_query& query) {
        const auto words = search_words(query.text);
        std::vector<record_id> ids;
        const auto change = m_store->change_stamp();
        if (m_stored_at != change || m_stored_of != m_store.get()) {
            m_stored = stored();
            m_stored_at = change;
            m_stored_of = m_store.get();
        }
        for (const auto& [id, text] : m_stored) {
            if (!holds_all(text, words)) {
                continue;
            }
            if (!query.tags.empty()) {
                std::size_t carried = 0;
                for (const record_id tag : query.tags) {
                    carried += m_store->isQuoteMarked(id, tag) ? 1 : 0;
                }
                if (query.mode == search_mode_and ? carried != query.tags.size() : carried == 0) {
                    continue;
                }
            }
            ids.push_back(id);
        }
        return ids;
    }

    void search_for(const search_query& query) {
        m_store->clearSearchTags();
        m_store->setSearchMode(query.mode);
        for (const record_id tag : query.tags) {
            m_store->addSearchTag(tag);
        }
        m_store->setSearchText(query.text);
    }

    std::vector<std::pair<record_id, std::u32string>> m_stored;
    std::int64_t m_stored_at = -1;
    const CollectionStore* m_stored_of = nullptr;

    std::vector<record_id> cursor_ids() {
        std::vector<record_id> ids;
        for (auto cursor = m_store->searchQuotes(); !cursor->empty(); cursor->next()) {
            ids.push_back(cursor->current().m_id);
        }
        return ids;
    }

    // Every way of searching gives the reference's ids; returns how many.
    std::size_t expect_found(const search_query& query, const std::string& what) {
        const auto expected = reference(query);
        search_for(query);
        EXPECT_EQ(m_store->currentSearch().text, query.text) << what;
        EXPECT_EQ(m_store->searchQuoteIds(), expected) << what;
        EXPECT_EQ(cursor_ids(), expected) << what;
        const std::atomic<bool> go_on{false};
        const auto apart = CollectionStore::search_ids_apart(m_store->database_path(),
                                                             m_store->currentSearch(), go_on);
        EXPECT_TRUE(apart.has_value() && *apart == expected) << what;
        return expected.size();
    }
};

}  // namespace

TEST(text_fold, folds_case_as_the_index_does_and_splits_words_on_any_blank) {
    EXPECT_EQ(fold_utf16(u"Hello \u00C9T\u00C9 \u1E9E \u03A3\u0391\u03A3 \u0416\u0416"),
              fold_utf16(u"hello \u00E9t\u00E9 \u00DF \u03C3\u03B1\u03C3 \u0436\u0436"));
    // Accents, marks, CJK and emoji stay what they are; one letter never becomes two.
    EXPECT_EQ(fold_utf16(u"e\u0301 \u4E2D\U0001F600 \u00DF"),
              (std::u32string{U'e', 0x301, U' ', 0x4E2D, 0x1F600, U' ', 0xDF}));
    EXPECT_NE(fold_case(U'\u00E9'), fold_case(U'e'));
    // A lone surrogate is what storing it makes of it.
    EXPECT_EQ(fold_utf16(u"a\xDC00"), fold_utf8(fml::wchar2utf8(u"a\xDC00")));
    EXPECT_EQ(fold_utf8("a\xFF" "b"), (std::u32string{U'a', 0xFFFD, U'b'}));
    // Folding twice is folding once, for every code point: the index folds the query
    // words the search has folded already.
    for (char32_t c = 1; c < 0x20000; ++c) {
        if (fold_case(fold_case(c)) != fold_case(c)) {
            ADD_FAILURE() << "folding U+" << std::hex << unsigned(c) << " twice differs";
            break;
        }
    }
    EXPECT_EQ(search_words(u"  Ab\u3000ab\u00A0c\t\"x\"\n AB  "),
              (std::vector<std::u32string>{U"ab", U"c", U"\"x\""}));
    EXPECT_TRUE(search_words(u" \t\u2003 ").empty());
    // The quick path for plain ASCII gives the folded answer, also where a character
    // outside ASCII folds into the word.
    const std::vector<std::u32string> words = {U"kel", U"vin"};
    EXPECT_TRUE(text_holds_all("KELVIN", words));
    EXPECT_TRUE(text_holds_all("\xE2\x84\xAA" "elvin", words));  // the Kelvin sign
    EXPECT_FALSE(text_holds_all("kelvi", words));
    // A text of plain ASCII never holds a word with anything else in it; its other
    // words are still looked for.
    EXPECT_FALSE(text_holds_all("plain ASCII zh", {U"\u0436"}));
    EXPECT_FALSE(text_holds_all("plain ASCII zh", {U"ascii", U"\u0436"}));
    EXPECT_TRUE(text_holds_all("plain \xD0\x96 ASCII", {U"ascii", U"\u0436"}));
    EXPECT_TRUE(text_holds_all(std::string_view("a\0B", 3), {std::u32string(U"\0b", 2)}));
}

TEST(text_index, cuts_pieces_of_one_and_three_and_only_the_pairs_no_longer_piece_begins) {
    // "ab" ends a word but begins "abc": a search for it finds that piece. "bc" and
    // "y," end words and begin nothing; "xy" begins "xy,". Blanks end every piece.
    EXPECT_EQ(text_pieces("Ab abc xy, q"),
              (std::vector<std::string>{"a", "b", "abc", "c", "x", "xy,", "y", ",", "q", "bc",
                                        "y,"}));
    // Folded, each once, a pair at the very end too; NUL spelled as the index spells it.
    EXPECT_EQ(text_pieces(std::string("\xC3\x89T\xC3\x89 \xC3\xA9t\0", 10)),
              (std::vector<std::string>{"\xC3\xA9", "\xC3\xA9t\xC3\xA9", "t",
                                        "\xC3\xA9t\xC0\x80", "\xC0\x80", "t\xC3\xA9",
                                        "t\xC0\x80"}));
    EXPECT_TRUE(text_pieces(" \t\n").empty());
}

TEST_F(text_search, random_texts_and_hostile_queries_find_what_a_check_of_every_text_finds) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Some quotes come with the default files, in the import's one transaction.
    write_defaults("<tags><t id='1' name='one'/></tags>",
                   "<quotes><q id='1' text='Default ABC &quot;quoted&quot;'><t id='1'/></q>"
                   "<q id='2' text='caf\xC3\xA9 NEAR(a b)'/></quotes>");
    auto& store = open();
    const record_id t1 = store.addTag(u"t1");
    const record_id t2 = store.addTag(u"t2");
    std::vector<std::u16string> texts;
    for (int i = 0; i < 240; ++i) {
        texts.push_back(random_text(random, std::uniform_int_distribution<std::size_t>(0, 40)(random)));
        const record_id id = store.addQuote(texts.back());
        if (random() % 3 == 0) {
            store.markQuote(id, t1);
        }
        if (random() % 3 == 0) {
            store.markQuote(id, t2);
        }
    }

    auto queries = [&] {
        std::vector<std::u16string> asked = {
            u"\"", u"\"\"", u"a\"b", u"*", u"a*", u"-a", u"^a", u"NEAR(a b)", u"a AND b",
            u"a OR b", u"NOT a", u"m_utftext:a", u"quote_text:abc", u"(", u")", u"{a b}",
            u"a + b", u"\"quoted\"", u"caf\u00C9 near(", u"abc", u"default", u"x",
            u"\x01", u"\x1F\x01", u"\xDC00", u"\xD800" u"a", u"\U0001F600", u"\u03C3\u03C3",
            u"\u03C2", u"e\u0301", u"\u4E2D\u6587", u"   ", u"k", u"\u212A"};
        for (int i = 0; i < 60; ++i) {
            // Part of a stored text, so most queries find something; then random words.
            const auto& text = texts[random() % texts.size()];
            if (!text.empty()) {
                const std::size_t from = random() % text.size();
                asked.push_back(text.substr(from, 1 + random() % 8));
            }
            asked.push_back(random_text(random, 1 + random() % 3) + u" " +
                            random_text(random, 1 + random() % 4));
        }
        return asked;
    };
    auto check_all = [&](const std::string& when) {
        std::size_t found = 0;
        for (const auto& text : queries()) {
            const std::string what = when + ": \"" + fml::wchar2utf8(text) + "\"";
            found += expect_found({{}, search_mode_and, text}, what);
            expect_found({{t1, t2}, search_mode_and, text}, what + " with both tags");
            expect_found({{t2, t1}, search_mode_or, text}, what + " with either tag");
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
        EXPECT_GT(found, 100u) << "the queries find too little to tell anything";
    };
    check_all("captured");

    // A 10 MiB clip, with words inside and at its very end.
    std::u16string huge(10 << 20, u'x');
    huge.replace(1234, 4, u"\u00C9T\u00C9!");
    huge += u"tail\u00DFEND";
    const record_id huge_id = store.addQuote(huge);
    for (const std::u16string text : {u"\u00E9t\u00E9!", u"TAIL\u1E9Eend", u"x!", u"d",
                                      u"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx tail"}) {
        expect_found({{}, search_mode_and, text}, "in the huge clip: " + fml::wchar2utf8(text));
    }
    store.removeQuote(huge_id);

    // Removed quotes leave the index; the same texts captured again come back.
    // The last ones among them, so that the quotes captured next take their places.
    std::vector<record_id> gone;
    const auto before = stored();
    for (const auto& [id, text] : before) {
        if (random() % 2 == 0 || &text == &before.back().second ||
            &text == &before[before.size() - 2].second) {
            gone.push_back(id);
        }
    }
    store.removeQuote(gone.back());
    gone.pop_back();
    store.removeQuotes(gone);
    check_all("after removing");
    // A quote taken out leaves the index at once, also when the next one takes its
    // place in the table; one or many, and by their import too.
    const record_id zebra = store.addQuote(u"Zebra crossing");
    store.removeQuote(zebra);
    store.addQuote(u"plain");
    EXPECT_EQ(expect_found({{}, search_mode_and, u"zebra"}, "a removed quote"), 0u);
    const record_id zebras[] = {store.addQuote(u"zebras"), store.addQuote(u"ZEBRAS")};
    store.removeQuotes(zebras);
    store.addQuote(u"plain");
    EXPECT_EQ(expect_found({{}, search_mode_and, u"zebra"}, "removed quotes"), 0u);
    EXPECT_EQ(committed("SELECT count(*) FROM quote_text WHERE quote_text MATCH 'zeb AND ebr AND bra'"), 0);
    EXPECT_EQ(committed("SELECT count(*) FROM quote_text WHERE quote_text MATCH 'pla AND lai AND ain'"),
              static_cast<long long>(expect_found({{}, search_mode_and, u"plain"}, "plain")));
    for (int i = 0; i < 60; ++i) {
        store.addQuote(texts[random() % texts.size()]);
    }
    check_all("after capturing again");
    // The index is whole by SQLite's own check too.
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), static_cast<long long>(stored().size()));

    // The text alone decides without tags; blanks alone are no text.
    store.clearSearchTags();
    store.setSearchText(u"  \t ");
    EXPECT_TRUE(store.isSearchEmpty());
    EXPECT_EQ(store.searchQuoteIds().size(), stored().size());
    store.setSearchText(u"x");
    EXPECT_FALSE(store.isSearchEmpty());
    EXPECT_EQ(store.searchText(), u"x");
}

TEST_F(text_search, a_search_apart_raises_as_on_the_ui_thread_and_stops_when_cancelled) {
    auto& store = open();
    const record_id gone = store.addTag(u"gone");
    store.removeTag(gone);
    std::atomic<bool> cancel{false};
    EXPECT_THROW(CollectionStore::search_ids_apart(store.database_path(),
                                                   {{gone}, search_mode_and, u"abc"}, cancel),
                 wrong_tag_id);
    EXPECT_EQ(CollectionStore::search_ids_apart(store.database_path(),
                                                {{gone}, search_mode_or, u"abc"}, cancel),
              std::vector<record_id>{});
    m_store.reset();

    // A large collection, put in through a connection of its own in one transaction:
    // the index follows by itself.
    {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO quote(m_id, m_utftext, m_stamp) VALUES(?1, ?2, 1)",
                           -1, &insert, nullptr);
        // Three letters only, one outside ASCII: every text holds every piece of
        // three of them, so a long word of them is looked for in every text.
        std::mt19937 random(7);
        const std::string letters[] = {"a", "b", "\xC3\xA9"};
        std::string text;
        for (int id = 1; id <= 10000; ++id) {
            text.clear();
            for (int i = 0; i < 1000; ++i) {
                text += letters[random() % 3];
            }
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_text(insert, 2, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    auto& reopened = open();
    // A long word whose pieces every text holds: every text is read through.
    const search_query query{{}, search_mode_and, u"ab\u00C9ba\u00E9ab\u00E9b\u00E9aa\u00E9bb"};
    reopened.setSearchText(query.text);
    const auto holding = reopened.searchQuoteIds();
    EXPECT_EQ(holding, reference(query));
    EXPECT_EQ(CollectionStore::search_ids_apart(reopened.database_path(), query, cancel), holding);
    for (const std::u16string short_word : {u"\u00C9", u"b\u00E9", u"bab"}) {
        reopened.setSearchText(short_word);
        EXPECT_EQ(reopened.searchQuoteIds().size(), 10000u);
        EXPECT_EQ(CollectionStore::search_ids_apart(reopened.database_path(), {{}, 0, short_word},
                                                    cancel)->size(),
                  10000u);
    }

    // Cancelled from another thread as soon as the search is under way.
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> stop{false};
        std::promise<void> started;
        auto searching = std::async(std::launch::async, [&] {
            started.set_value();
            return CollectionStore::search_ids_apart(reopened.database_path(), query, stop);
        });
        started.get_future().wait();
        stop = true;
        ASSERT_EQ(searching.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_FALSE(searching.get().has_value()) << "round " << round;
    }
    // Cancelled before it starts, for long and short words alike.
    std::atomic<bool> stopped{true};
    EXPECT_FALSE(CollectionStore::search_ids_apart(reopened.database_path(), {{}, 0, u"abc"},
                                                   stopped));
    EXPECT_FALSE(CollectionStore::search_ids_apart(reopened.database_path(), {{}, 0, u"ab"},
                                                   stopped));
}

TEST_F(text_search, a_version_1_file_gets_its_index_when_opened) {
    std::vector<std::string> texts;
    for (int i = 1; i <= 5000; ++i) {
        texts.push_back("quote " + std::to_string(i) + (i % 7 == 0 ? " Caf\xC3\xA9" : " tea"));
    }
    write_version1_file(texts, true);
    std::vector<double> told;
    m_store = std::make_unique<CollectionStore>(m_dir.wpath(),
                                                [&](double done) { told.push_back(done); });
    ASSERT_GE(told.size(), 3u);
    EXPECT_EQ(told.front(), 0.0);
    EXPECT_EQ(told.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(committed("PRAGMA user_version"), collection_schema_version);
    auto& store = *m_store;
    store.setSearchText(u"CAF\u00C9");
    EXPECT_EQ(store.searchQuoteIds().size(), 5000u / 7);
    store.addSearchTag(1);
    store.setSearchText(u"caf\u00E9 quote 4");
    EXPECT_EQ(store.searchQuoteIds(), reference({{1}, search_mode_and, u"caf\u00E9 quote 4"}));
    EXPECT_EQ(store.searchQuoteIds().front(), 14);
    // Opened again: nothing to build, and the layout is accepted as the current one.
    told.clear();
    m_store = std::make_unique<CollectionStore>(m_dir.wpath(),
                                                [&](double done) { told.push_back(done); });
    EXPECT_TRUE(told.empty());
    m_store->setSearchText(u"quote 49");
    EXPECT_EQ(m_store->searchQuoteIds(), reference({{}, search_mode_and, u"quote 49"}));
    EXPECT_EQ(m_store->searchQuoteIds().size(), 199u);  // every number with 49 in it
    m_store.reset();

    // A file of version 2, indexed by SQLite's own three-character pieces, gets the
    // current index in place of that one.
    write_version1_file(texts, true);
    {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db, R"sql(BEGIN;
CREATE VIRTUAL TABLE quote_text USING fts5(
    m_utftext, content='', columnsize=0, tokenize='trigram');
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
INSERT INTO quote_text(rowid, m_utftext) SELECT seq, m_utftext FROM quote;
PRAGMA user_version=2; COMMIT;)sql",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    // Opened by this version: the index is made again, with progress told.
    const auto open_upgraded = [&] {
        told.clear();
        m_store = std::make_unique<CollectionStore>(m_dir.wpath(),
                                                    [&](double done) { told.push_back(done); });
        EXPECT_GE(told.size(), 3u);
        EXPECT_EQ(committed("PRAGMA user_version"), collection_schema_version);
    };
    open_upgraded();
    m_store->setSearchText(u"\u00E9");  // one character: the older index could not find it
    EXPECT_EQ(m_store->searchQuoteIds().size(), 5000u / 7);
    m_store->setSearchText(u"quote 49");
    EXPECT_EQ(m_store->searchQuoteIds().size(), 199u);
    m_store.reset();

    // A file of version 3 has the current table, whose tokens this version no longer
    // reads (here: none at all); it is filled again.
    {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db,
                               "INSERT INTO quote_text(quote_text) VALUES('delete-all'); "
                               "PRAGMA user_version=3;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    open_upgraded();
    for (const std::u16string word : {u"\u00E9", u"f\u00C9", u"caf", u"quote 49"}) {
        m_store->setSearchText(word);
        EXPECT_EQ(m_store->searchQuoteIds(), reference({{}, search_mode_and, word}))
            << fml::wchar2utf8(word);
    }
    m_store.reset();

    // A newer version is refused, also when only the log says so yet.
    const std::string newer = std::to_string(collection_schema_version + 1);
    {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_exec(db, ("PRAGMA user_version=" + newer).c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    try {
        open();
        ADD_FAILURE() << "a collection of version " << newer << " opened";
    } catch (const open_db_error& error) {
        EXPECT_NE(std::string(error.what()).find("newer version of Hoardly (collection version " + newer),
                  std::string::npos)
            << error.what();
    }
}

// A capture writes its own small piece of index and merges nothing; tidying merges
// them, in steps, without changing any result or the change stamp, and moves the
// log into the file. A file whose index
// still merged during captures gets these settings when opened.
TEST_F(text_search, captures_merge_nothing_and_tidying_changes_no_result) {
    CollectionStore& store = open();
    const auto pieces = [&] { return committed("SELECT count(DISTINCT segid) FROM quote_text_idx"); };
    const auto file_size = [&] { return std::filesystem::file_size(m_dir.file("hoardly.fdb")); };
    const auto size_at_open = file_size();
    const std::u16string words[] = {u"alpha", u"Beta", u"gamma", u"\u00C9t\u00E9", u"\U0001F600 x"};
    for (int i = 0; i < 48; ++i) {
        store.addQuote(words[i % 5] + u" " + words[(i * 3) % 5] + u" " +
                       fml::utf82wchar(std::to_string(i)));
    }
    EXPECT_GE(pieces(), 48);
    EXPECT_EQ(file_size(), size_at_open) << "the captures are still in the log alone";
    const search_query queries[] = {{{}, search_mode_and, u"ALPHA"},
                                    {{}, search_mode_and, u"\u00E9t\u00C9 4"},
                                    {{}, search_mode_and, u"a"},
                                    {{}, search_mode_and, u"mm"}};
    std::vector<std::size_t> found;
    for (const auto& query : queries) {
        found.push_back(expect_found(query, "before tidying"));
    }
    const std::int64_t stamp = store.change_stamp();
    ASSERT_TRUE(store.untidy());
    int steps = 0;
    while (store.tidy_text_index()) {
        ASSERT_LT(++steps, 100) << "tidying never ends";
    }
    EXPECT_GE(steps, 1);
    EXPECT_LT(pieces(), 16);
    EXPECT_GT(file_size(), size_at_open) << "the log was moved into the file";
    EXPECT_FALSE(store.untidy());
    EXPECT_FALSE(store.tidy_text_index());
    EXPECT_EQ(store.change_stamp(), stamp) << "tidying is no change to what is stored";
    for (std::size_t i = 0; i < std::size(queries); ++i) {
        EXPECT_EQ(expect_found(queries[i], "after tidying"), found[i]);
    }

    m_store.reset();
    {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db, "INSERT INTO quote_text(quote_text, rank) VALUES('automerge', 16)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    open();
    EXPECT_EQ(committed("SELECT v FROM quote_text_config WHERE k = 'automerge'"), 0);
}
