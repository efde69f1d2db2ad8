#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>

#include "model/errors.h"
#include "model/model.h"
#include "store_fixture.h"

using namespace hrd;
using hrd::test::store_fixture;

namespace {

std::vector<record_id> ids_of(quote_cursor& cursor) {
    std::vector<record_id> ids;
    for (; !cursor.empty(); cursor.next()) {
        ids.push_back(cursor.current().m_id);
    }
    return ids;
}

std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const fml::exception& error) {
        return error.what();
    }
    return "(no exception)";
}

class collection_store : public store_fixture {};

}  // namespace

TEST_F(collection_store, each_change_is_committed_before_it_returns_and_logged_once) {
    auto& store = open();
    // An empty quote table still gets its dating pass, committed and logged.
    EXPECT_EQ(new_log("logic"),
              "creating DB\nm_max_tid: 0m_max_qid: 0\n"
              "automatically insert dates for some quotes\n");
    struct stat info {};
    ASSERT_EQ(::stat(m_dir.file("hoardly.fdb").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(committed("PRAGMA user_version"), collection_schema_version);

    EXPECT_EQ(store.addQuote(u"first"), 1);
    EXPECT_EQ(committed("SELECT count(*) FROM quote WHERE m_id = 1 AND m_utftext = 'first'"), 1);
    EXPECT_LE(std::abs(committed("SELECT m_stamp FROM quote WHERE m_id = 1") - std::time(nullptr)),
              5);
    EXPECT_EQ(store.addQuote(u"first"), 2);  // the same text again is a new quote
    EXPECT_EQ(store.addTag(u"Work"), 1);
    EXPECT_EQ(committed("SELECT count(*) FROM tag WHERE m_utfname = 'Work'"), 1);
    EXPECT_EQ(new_log("logic"),
              "added quote with id: 1\nadded quote with id: 2\nadded tag with id: 1\n");

    EXPECT_TRUE(store.markQuote(2, 1));
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 1);
    EXPECT_EQ(new_log("logic"), "quote: 2 marked with tag: 1\n");
    EXPECT_EQ(new_log("debug"),
              "validating quote with id: 2\nvalidating tag with id: 1\n"
              "validating quote with id: 2\nvalidating tag with id: 1\n");

    EXPECT_EQ(store.renameTag(1, u"Job"), u"Job");
    EXPECT_EQ(committed("SELECT count(*) FROM tag WHERE m_utfname = 'Job'"), 1);
    EXPECT_EQ(new_log("logic"), "renamed tag: 1\n");

    store.unmarkQuote(2, 1);
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 0);
    store.removeQuote(1);
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), 1);
    store.removeTag(1);
    EXPECT_EQ(committed("SELECT count(*) FROM tag"), 0);
    EXPECT_EQ(new_log("logic"),
              "quote: 2 unmarked with tag: 1\nremoved quote with id: 1\nremoved tag with id: 1\n");
}

TEST_F(collection_store, refused_changes_leave_everything_and_say_which_id) {
    auto& store = open();
    const record_id work = store.addTag(u"Work");
    const record_id home = store.addTag(u"Home");
    const record_id q = store.addQuote(u"text");
    new_log("logic");
    new_log("debug");

    // Names are compared byte for byte: another letter case is another tag.
    EXPECT_EQ(store.addTag(u"Work"), -1);
    EXPECT_EQ(new_log("logic"), "");
    EXPECT_EQ(store.addTag(u"work"), home + 1);
    EXPECT_EQ(store.renameTag(work, u"Work"), u"Work");
    EXPECT_EQ(store.renameTag(work, u"Home"), u"Work");
    EXPECT_EQ(new_log("logic"), "added tag with id: 3\n");
    EXPECT_EQ(store.getTag(work)->current().m_utfname, "Work");
    EXPECT_EQ(store.getTag(home)->current().m_utfname, "Home");

    EXPECT_TRUE(store.markQuote(q, work));
    EXPECT_FALSE(store.markQuote(q, work));
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 1);

    EXPECT_EQ(message_of([&] { store.removeQuote(77); }), "77");
    EXPECT_THROW(store.removeQuote(77), wrong_quote_id);
    EXPECT_EQ(message_of([&] { store.unmarkQuote(q, home); }), std::to_string(home));
    EXPECT_THROW(store.unmarkQuote(q, home), wrong_tag_id);
    // The quote is checked before the tag.
    EXPECT_THROW(store.markQuote(77, 88), wrong_quote_id);
    EXPECT_THROW(store.isQuoteMarked(q, 88), wrong_tag_id);
    EXPECT_THROW(store.renameTag(88, u"x"), wrong_tag_id);
    new_log("logic");
    store.removeTag(88);  // no error, and no line claiming a removal
    EXPECT_EQ(new_log("logic"), "");
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 1);
    EXPECT_EQ(committed("SELECT count(*) FROM tag"), 3);
}

TEST_F(collection_store, marks_keep_their_order_and_follow_removals_on_both_sides) {
    auto& store = open();
    for (auto name : {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i"}) {
        store.addTag(name);
    }
    const record_id q1 = store.addQuote(u"one");
    const record_id q2 = store.addQuote(u"two");
    for (record_id t : {5, 2, 9}) {
        store.markQuote(q1, t);
    }
    store.markQuote(q2, 2);
    store.unmarkQuote(q1, 2);
    EXPECT_EQ(store.getQuote(q1)->current().m_tags, (std::vector<record_id>{5, 9}));
    store.markQuote(q1, 2);
    EXPECT_EQ(store.getQuote(q1)->current().m_tags, (std::vector<record_id>{5, 9, 2}));
    EXPECT_EQ(store.getTag(2)->current().m_quotes, (std::vector<record_id>{q1, q2}));

    store.removeTag(9);
    EXPECT_EQ(store.getQuote(q1)->current().m_tags, (std::vector<record_id>{5, 2}));
    EXPECT_THROW(store.isQuoteMarked(q1, 9), wrong_tag_id);
    store.removeQuote(q1);
    EXPECT_EQ(store.getTag(2)->current().m_quotes, (std::vector<record_id>{q2}));
    EXPECT_EQ(store.getTag(5)->current().m_quotes, (std::vector<record_id>{}));
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 1);
}

// A whole list is read in batches, its tags a batch at a time: every quote must
// come with exactly its own tags in the order they were put on it, whether the
// ids stand close together or far apart.
TEST_F(collection_store, listed_quotes_carry_their_own_tags_in_order) {
    std::mt19937 random(7);
    for (const bool scattered : {false, true}) {
        std::string quotes = "<quotes>";
        for (int i = 1; i <= 120; ++i) {
            const int id = scattered ? i * 1000 + int(random() % 900) : i;
            quotes += "<q id='" + std::to_string(id) + "' text='q'/>";
        }
        write_defaults(hrd::test::empty_tags, quotes + "</quotes>");
        auto& store = open();
        for (auto name : {u"a", u"b", u"c", u"d", u"e", u"f"}) {
            store.addTag(name);
        }
        std::vector<record_id> ids;
        for (auto all = store.quotes(); !all->empty();) {
            ids.push_back(all->current().m_id);
            if (!all->next()) {
                break;
            }
        }
        ASSERT_EQ(ids.size(), 120u);
        // Tags put on in a random order, some taken off and put back: the order of
        // marking, not of tag ids, is the order to read.
        for (record_id q : ids) {
            std::vector<record_id> tags = {1, 2, 3, 4, 5, 6};
            std::shuffle(tags.begin(), tags.end(), random);
            tags.resize(random() % 5);
            for (record_id t : tags) {
                store.markQuote(q, t);
            }
            if (tags.size() > 2) {
                store.unmarkQuote(q, tags[0]);
                store.markQuote(q, tags[0]);
            }
        }
        std::size_t seen = 0;
        for (auto all = store.quotes(); !all->empty();) {
            ++seen;
            const quote& listed = all->current();
            EXPECT_EQ(listed.m_tags, store.getQuote(listed.m_id)->current().m_tags)
                << "quote " << listed.m_id << (scattered ? " (scattered ids)" : "");
            if (!all->next()) {
                break;
            }
        }
        EXPECT_EQ(seen, ids.size());
    }
}

TEST_F(collection_store, result_sets_read_in_table_order_and_never_hand_out_a_missing_record) {
    auto& store = open();
    auto missing = store.getQuote(5);
    EXPECT_TRUE(missing->empty());
    EXPECT_EQ(message_of([&] { missing->current(); }), "5");
    EXPECT_THROW(store.getTag(6)->current(), wrong_tag_id);

    std::string many = "<quotes>";
    for (int i = 1; i <= 300; ++i) {
        many += "<q id='" + std::to_string(i) + "' text='q'/>";
    }
    write_defaults(hrd::test::empty_tags, many + "</quotes>");
    auto& filled = open();
    // A result set holds no read open: the collection can change while it is alive,
    // and a record not yet read when it goes is not handed out.
    auto all = filled.quotes();
    filled.removeQuote(300);
    filled.removeQuote(150);
    filled.addQuote(u"new");
    std::vector<record_id> expected;
    for (record_id id = 1; id < 300; ++id) {
        if (id != 150) {
            expected.push_back(id);
        }
    }
    expected.push_back(301);
    EXPECT_EQ(ids_of(*all), expected);
    EXPECT_TRUE(all->empty());
    EXPECT_FALSE(all->next());
    EXPECT_THROW(all->current(), no_current_record);
}

TEST_F(collection_store, counters_come_back_from_the_records_after_a_restart) {
    write_defaults(R"(<tags><t id="7" name="x"/><t id="3" name="y"/></tags>)",
                   R"(<quotes><q id="40" text="a"/><q id="2" text="b"/></quotes>)");
    auto& store = open();
    EXPECT_EQ(new_log("logic"), "creating DB\nm_max_tid: 7m_max_qid: 40\n");
    EXPECT_EQ(store.addQuote(u"c"), 41);
    store.removeQuote(41);
    store.removeQuote(40);
    // Table order is insertion order, not id order.
    EXPECT_EQ(ids_of(*store.quotes()), (std::vector<record_id>{2}));
    auto& reopened = open();
    EXPECT_EQ(reopened.max_quote_id(), 2);
    EXPECT_EQ(reopened.addQuote(u"d"), 3);
    EXPECT_EQ(reopened.addTag(u"z"), 8);
    std::vector<record_id> tag_ids;
    for (auto tags = reopened.tags(); !tags->empty(); tags->next()) {
        tag_ids.push_back(tags->current().m_id);
    }
    EXPECT_EQ(tag_ids, (std::vector<record_id>{7, 3, 8}));

    // A collection whose quotes are all gone but which still has tags is not refilled.
    for (record_id q : {2, 3}) {
        reopened.removeQuote(q);
    }
    open();
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), 0);
    // One with nothing left is.
    for (record_id t : {7, 3, 8}) {
        m_store->removeTag(t);
    }
    open();
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), 2);
}

TEST_F(collection_store, undated_quotes_are_dated_only_when_the_first_quote_is) {
    auto& store = open();
    for (int i = 0; i < 3; ++i) {
        store.addQuote(u"q");
    }
    m_store.reset();
    new_log("logic");  // the first start's own dating pass over no quotes
    auto set_stamps = [&](const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    set_stamps("UPDATE quote SET m_stamp = CASE m_id WHEN 1 THEN 100 WHEN 2 THEN -1 ELSE 0 END");
    open();
    EXPECT_EQ(committed("SELECT count(*) FROM quote WHERE m_stamp IN (-1, 0)"), 2);
    EXPECT_EQ(new_log("logic").find("automatically"), std::string::npos);

    m_store.reset();
    set_stamps("UPDATE quote SET m_stamp = CASE m_id WHEN 1 THEN 0 WHEN 2 THEN -1 ELSE 100 END");
    open();
    EXPECT_EQ(committed("SELECT count(*) FROM quote WHERE m_stamp IN (-1, 0)"), 0);
    EXPECT_EQ(committed("SELECT m_stamp FROM quote WHERE m_id = 3"), 100);
    EXPECT_NE(new_log("logic").find("automatically insert dates for some quotes\n"),
              std::string::npos);
}

TEST(format_stamp, writes_local_time_without_leading_zeros_and_nothing_for_no_date) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(formatStamp(1173085447), "2007-3-5  9:4:7");
    EXPECT_EQ(formatStamp(0), "1970-1-1  0:0:0");
    EXPECT_EQ(formatStamp(no_stamp), "");
    if (old != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST_F(collection_store, a_removed_quote_leaves_no_copy_of_its_text_in_the_file) {
    const std::string secret = "password: correct horse battery staple";
    auto& store = open();
    store.addQuote(u"kept");
    const record_id id = store.addQuote(fml::utf82wchar(secret));
    m_store.reset();  // the text reaches the file itself
    ASSERT_NE(hrd::test::read_file(m_dir.file("hoardly.fdb")).find(secret), std::string::npos);
    open().removeQuote(id);
    m_store.reset();
    EXPECT_EQ(hrd::test::read_file(m_dir.file("hoardly.fdb")).find(secret), std::string::npos);
}

TEST_F(collection_store, the_models_questions_answer_from_the_tags_and_marks_stored) {
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    CollectionStore& store = model.store();
    const record_id work = store.addTag(u"work");
    const record_id home = store.addTag(u"home");
    const record_id misc = store.addTag(u"misc");
    // A name is taken only by another tag: a tag keeps its own name.
    EXPECT_TRUE(model.tag_name_taken(u"work", home));
    EXPECT_TRUE(model.tag_name_taken(u"work", -1));
    EXPECT_FALSE(model.tag_name_taken(u"work", work));
    EXPECT_FALSE(model.tag_name_taken(u"play", -1));

    // The tags all the quotes carry come in the first quote's order.
    const record_id first = store.addQuote(u"first");
    const record_id second = store.addQuote(u"second");
    for (record_id t : {misc, work, home}) {
        store.markQuote(first, t);
    }
    for (record_id t : {home, misc}) {
        store.markQuote(second, t);
    }
    EXPECT_EQ(model.tags_on_all({first, second}), (std::vector<record_id>{misc, home}));
    EXPECT_EQ(model.tags_on_all({second}), (std::vector<record_id>{home, misc}));
    EXPECT_TRUE(model.is_quote_marked(first, work));
    EXPECT_FALSE(model.is_quote_marked(second, work));
    store.removeQuote(second);
    EXPECT_EQ(model.tags_on_all({first, second}), std::nullopt);
    EXPECT_THROW(model.is_quote_marked(second, home), wrong_quote_id);
}

TEST_F(collection_store, a_selection_is_removed_in_one_commit_or_not_at_all) {
    auto& store = open();
    const record_id tag = store.addTag(u"Keep");
    for (int i = 0; i < 6; ++i) {
        store.addQuote(u"quote " + fml::utf82wchar(std::to_string(i)));
    }
    store.markQuote(2, tag);
    store.markQuote(3, tag);
    new_log("logic");

    // A stale id anywhere in the list refuses the whole removal: nothing goes.
    const std::vector<record_id> with_stale{1, 2, 99, 3};
    EXPECT_THROW(store.removeQuotes(with_stale), wrong_quote_id);
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), 6);
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 2);
    EXPECT_EQ(new_log("logic"), "");

    // The whole selection goes at once, marks with it; an id given twice counts once,
    // and each removal is logged once, after the commit.
    const std::vector<record_id> selection{2, 3, 5, 3};
    store.removeQuotes(selection);
    EXPECT_EQ(committed("SELECT count(*) FROM quote"), 3);
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 0);
    EXPECT_EQ(new_log("logic"),
              "removed quote with id: 2\nremoved quote with id: 3\nremoved quote with id: 5\n");
    for (const record_id id : {1, 4, 6}) {
        EXPECT_TRUE(store.validateQuote(id)) << id;
    }
    for (const record_id id : {2, 3, 5}) {
        EXPECT_FALSE(store.validateQuote(id)) << id;
    }
}
