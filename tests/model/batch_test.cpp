// The reads and changes that work on a whole selection or list of quotes at once.

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "model/errors.h"
#include "model/model.h"
#include "model/output.h"
#include "platform/fake/fake_ui_thread.h"
#include "platform/services.h"
#include "store_fixture.h"

using namespace hrd;

namespace {

class batches : public hrd::test::store_fixture {
protected:
    std::vector<record_id> searched() {
        std::vector<record_id> ids;
        for (auto cursor = m_store->searchQuotes(); !cursor->empty(); cursor->next()) {
            ids.push_back(cursor->current().m_id);
        }
        return ids;
    }

    // Runs SQL on the collection file through a connection of its own, as another
    // program would; the store must not be in a transaction.
    void write_directly(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }

    // A default collection whose ids do not follow table order, with `tag_count` tags
    // of falling popularity put on in random order; returns each quote's tags.
    std::map<record_id, std::vector<record_id>> write_shuffled_collection(int quotes,
                                                                          int tag_count,
                                                                          unsigned seed) {
        std::map<record_id, std::vector<record_id>> tags_of;
        std::mt19937 random(seed);
        std::string tags_file = "<tags>";
        for (int t = 1; t <= tag_count; ++t) {
            tags_file += "<t id='" + std::to_string(t) + "' name='t" + std::to_string(t) + "'/>";
        }
        std::vector<int> ids(static_cast<std::size_t>(quotes));
        for (int i = 0; i < quotes; ++i) {
            ids[static_cast<std::size_t>(i)] = 10 + i * 3;
        }
        std::shuffle(ids.begin(), ids.end(), random);
        std::string quotes_file = "<quotes>";
        for (const int id : ids) {
            quotes_file += "<q id='" + std::to_string(id) + "' text='q" + std::to_string(id) + "'>";
            std::vector<int> order(static_cast<std::size_t>(tag_count));
            for (int t = 0; t < tag_count; ++t) {
                order[static_cast<std::size_t>(t)] = t + 1;
            }
            std::shuffle(order.begin(), order.end(), random);
            for (const int t : order) {
                if (std::uniform_int_distribution<int>(0, 99)(random) < 90 / t) {
                    quotes_file += "<t id='" + std::to_string(t) + "'/>";
                    tags_of[id].push_back(t);
                }
            }
            quotes_file += "</q>";
        }
        write_defaults(tags_file + "</tags>", quotes_file + "</quotes>");
        return tags_of;
    }
};

class recording_view : public view_target {
public:
    void handle(const view_event& event) override {
        if (const auto* added = std::get_if<view_events::add_quote_tag>(&event)) {
            lines.push_back("add " + std::to_string(added->quote_id) + " " + added->added->m_utfname);
        } else if (const auto* gone = std::get_if<view_events::delete_quote_tag>(&event)) {
            lines.push_back("delete " + std::to_string(gone->mark.quote_id) + " " +
                            std::to_string(gone->mark.tag_id));
        } else if (const auto* list = std::get_if<view_events::update_quotes>(&event)) {
            // In table order: the list shows them newest first.
            std::string line = "list";
            for (auto it = list->ids.rbegin(); it != list->ids.rend(); ++it) {
                line += " " + std::to_string(*it);
            }
            lines.push_back(line);
        } else {
            lines.push_back("other");
        }
    }
    std::vector<std::string> lines;
};

// The fake UI thread stands in for the desktop's while a test runs.
struct ui_in_services {
    explicit ui_in_services(ui_thread& ui) : saved(services().ui) { services().ui = &ui; }
    ~ui_in_services() { services().ui = saved; }
    ui_in_services(const ui_in_services&) = delete;
    ui_in_services& operator=(const ui_in_services&) = delete;
    ui_thread* saved;
};

}  // namespace

// The id list of a search is the search's own result, whichever way it was computed,
// including the rules for a tag that is gone.
TEST_F(batches, search_ids_are_the_ids_of_the_searched_quotes_in_the_same_order) {
    constexpr int tag_count = 10;
    const auto tags_of = write_shuffled_collection(300, tag_count, 4711);
    auto& store = open();
    std::mt19937 random(99);
    const std::vector<record_id> all = store.searchQuoteIds();
    ASSERT_EQ(all.size(), 300u);
    EXPECT_EQ(all, searched());
    EXPECT_FALSE(std::is_sorted(all.begin(), all.end())) << "ids should not follow table order";
    for (int round = 0; round < 40; ++round) {
        store.clearSearchTags();
        store.setSearchMode(round % 2);
        for (int n = 1 + round % 4; n > 0; --n) {
            store.addSearchTag(std::uniform_int_distribution<int>(1, tag_count)(random));
        }
        EXPECT_EQ(store.searchQuoteIds(), searched()) << "round " << round;
    }
    // Search results and listed reads come with each quote's own tags in order, whether
    // the ids of a batch stand close together or not.
    store.clearSearchTags();
    store.setSearchMode(search_mode_or);
    store.addSearchTag(tag_count);
    store.addSearchTag(tag_count - 1);
    std::size_t checked = 0;
    for (auto cursor = store.searchQuotes(); !cursor->empty(); cursor->next()) {
        const quote& found = cursor->current();
        EXPECT_EQ(found.m_tags, tags_of.contains(found.m_id) ? tags_of.at(found.m_id)
                                                             : std::vector<record_id>{})
            << "quote " << found.m_id;
        ++checked;
    }
    EXPECT_GE(checked, 8u);
    for (const quote& found : store.read_quotes(all)) {
        EXPECT_EQ(found.m_tags, tags_of.contains(found.m_id) ? tags_of.at(found.m_id)
                                                             : std::vector<record_id>{})
            << "quote " << found.m_id;
    }

    const record_id gone = store.addTag(u"gone");
    store.markQuotes(std::vector<record_id>{all[3], all[7]}, gone);
    store.clearSearchTags();
    store.addSearchTag(1);
    store.addSearchTag(gone);
    store.setSearchMode(search_mode_or);
    const auto before = store.searchQuoteIds();
    EXPECT_NE(std::find(before.begin(), before.end(), all[3]), before.end());
    store.removeTag(gone);
    new_log("logic");
    EXPECT_EQ(store.searchQuoteIds(), searched());
    store.setSearchMode(search_mode_and);
    try {
        store.searchQuoteIds();
        ADD_FAILURE() << "an AND search over a removed tag ran";
    } catch (const wrong_tag_id& error) {
        EXPECT_EQ(std::string(error.what()), std::to_string(gone));
    }
    EXPECT_EQ(new_log("logic"), "");  // reading ids writes no log line
}

TEST_F(batches, read_quotes_keeps_the_given_order_and_skips_gone_ids) {
    auto& store = open();
    for (auto name : {u"a", u"b", u"c", u"d"}) {
        store.addTag(name);
    }
    for (int i = 1; i <= 40; ++i) {
        store.addQuote(u"text " + fml::utf82wchar(std::to_string(i)));
    }
    std::mt19937 random(5);
    std::map<record_id, std::vector<record_id>> tags_of;
    for (record_id q = 1; q <= 40; ++q) {
        std::vector<record_id> tags = {1, 2, 3, 4};
        std::shuffle(tags.begin(), tags.end(), random);
        tags.resize(q % 7 == 0 ? 0 : 1 + random() % 4);
        for (record_id t : tags) {
            store.markQuote(q, t);
        }
        tags_of[q] = tags;
    }
    store.removeQuote(17);
    new_log("logic");

    // Close ids (read with one range of marks) and scattered ones, each with a gone id
    // and a repeated one.
    const std::vector<std::vector<record_id>> lists = {
        {12, 11, 17, 10, 13, 14, 15, 16, 18, 19, 20, 11},
        {40, 1, 17, 99, 20, 3},
    };
    for (const auto& ids : lists) {
        const std::vector<quote> found = store.read_quotes(ids);
        std::vector<record_id> expected;
        std::copy_if(ids.begin(), ids.end(), std::back_inserter(expected),
                     [](record_id id) { return id != 17 && id != 99; });
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].m_id, expected[i]);
            EXPECT_EQ(found[i].m_utftext, "text " + std::to_string(expected[i]));
            EXPECT_EQ(found[i].m_tags, tags_of[expected[i]]) << "quote " << expected[i];
            EXPECT_NE(found[i].m_stamp, no_stamp);
        }
    }
    EXPECT_TRUE(store.read_quotes({}).empty());
    EXPECT_EQ(new_log("logic"), "");
}

TEST_F(batches, ordering_by_time_puts_equal_stamps_in_id_order_and_drops_gone_ids) {
    write_shuffled_collection(200, 1, 12);
    const std::vector<record_id> all = open().searchQuoteIds();
    m_store.reset();
    // Stamps falling with the id, four ids to a stamp: ties, and an order unlike table
    // order both ways.
    const auto stamp = [](record_id id) { return 1000000 - (id / 12) * 10; };
    write_directly("UPDATE quote SET m_stamp = 1000000 - (m_id / 12) * 10");
    const record_id gone = 100;
    open().removeQuote(gone);
    auto& store = *m_store;
    const auto reference = [&](std::vector<record_id> ids, bool oldest_first) {
        std::erase_if(ids, [&](record_id id) { return id == gone || id == 5; });
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        std::sort(ids.begin(), ids.end(), [&](record_id a, record_id b) {
            return std::pair(stamp(a), a) < std::pair(stamp(b), b);
        });
        if (!oldest_first) {
            std::reverse(ids.begin(), ids.end());
        }
        return ids;
    };
    // A few ids (looked up one by one) and nearly all of them (read from the indexes),
    // each with a gone id, an id that never was and a repeated one.
    const std::vector<record_id> few = {37, 5, 46, 31, gone, 34, 43, 40, 37};
    std::vector<record_id> most(all.begin() + 5, all.end());
    most.push_back(5);
    most.push_back(most.front());
    for (const auto& ids : {few, most}) {
        for (const bool oldest_first : {true, false}) {
            EXPECT_EQ(store.order_by_time(ids, oldest_first), reference(ids, oldest_first))
                << ids.size() << " ids, oldest first: " << oldest_first;
        }
    }
    const std::vector<record_id> few_expected = {37, 40, 43, 46, 31, 34};
    EXPECT_EQ(store.order_by_time(few, true), few_expected);
    EXPECT_TRUE(store.order_by_time({}, true).empty());
}

TEST_F(batches, a_batch_of_marks_is_written_whole_or_not_at_all) {
    auto& store = open();
    const record_id first = store.addTag(u"first");
    const record_id batch = store.addTag(u"batch");
    for (int i = 0; i < 6; ++i) {
        store.addQuote(u"q");
    }
    store.markQuote(2, batch);
    store.markQuote(3, first);
    new_log("logic");

    EXPECT_THROW(store.markQuotes(std::vector<record_id>{1, 3, 99, 4}, batch), wrong_quote_id);
    EXPECT_THROW(store.markQuotes(std::vector<record_id>{1, 3}, 77), wrong_tag_id);
    EXPECT_THROW(store.unmarkQuotes(std::vector<record_id>{2, 99}, batch), wrong_quote_id);
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 2);
    EXPECT_EQ(new_log("logic"), "");

    // Quotes carrying the tag already are left alone; a quote given twice is marked once.
    EXPECT_EQ(store.markQuotes(std::vector<record_id>{3, 2, 5, 3}, batch),
              (std::vector<record_id>{3, 5}));
    EXPECT_EQ(committed("SELECT count(*) FROM mark"), 4);
    EXPECT_EQ(committed("SELECT n_marks FROM tag WHERE m_id = " + std::to_string(batch)), 3);
    EXPECT_EQ(new_log("logic"), "quote: 3 marked with tag: 2\nquote: 5 marked with tag: 2\n");
    EXPECT_EQ(store.read_quotes(std::vector<record_id>{3})[0].m_tags,
              (std::vector<record_id>{first, batch}));

    EXPECT_EQ(store.unmarkQuotes(std::vector<record_id>{1, 5, 3}, batch),
              (std::vector<record_id>{5, 3}));
    EXPECT_EQ(new_log("logic"), "quote: 5 unmarked with tag: 2\nquote: 3 unmarked with tag: 2\n");
    EXPECT_EQ(committed("SELECT count(*) FROM mark WHERE tag_id = 2"), 1);
    EXPECT_EQ(committed("SELECT n_marks FROM tag WHERE m_id = " + std::to_string(batch)), 1);
}

TEST_F(batches, the_tags_on_a_large_selection_come_from_a_few_reads) {
    write_shuffled_collection(400, 6, 8);
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    CollectionStore& store = model.store();
    const std::vector<record_id> all = store.searchQuoteIds();
    const record_id common = store.addTag(u"common");
    const record_id most = store.addTag(u"most");
    std::vector<record_id> selection(all.begin() + 10, all.begin() + 300);
    store.markQuotes(selection, most);
    store.markQuotes(all, common);
    const auto read = store.read_quotes(selection);
    std::vector<record_id> expected;
    for (const record_id t : read.front().m_tags) {
        if (std::all_of(read.begin(), read.end(), [&](const quote& q) {
                return std::find(q.m_tags.begin(), q.m_tags.end(), t) != q.m_tags.end();
            })) {
            expected.push_back(t);
        }
    }
    EXPECT_EQ(expected.back(), common);
    EXPECT_GE(expected.size(), 2u);
    selection.push_back(selection[5]);  // the same quote twice counts once
    EXPECT_EQ(model.tags_on_all(selection), expected);
    selection.push_back(all[350]);  // not marked "most"
    std::erase(expected, most);
    EXPECT_EQ(model.tags_on_all(selection), expected);
    EXPECT_EQ(model.tags_on_all({}), std::vector<record_id>{});
    selection.push_back(5);  // no such quote
    EXPECT_EQ(model.tags_on_all(selection), std::nullopt);
}

TEST_F(batches, the_model_marks_a_selection_and_shows_each_changed_quote) {
    fml::reglog("model", u"logs/model.log");
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    recording_view view;
    model.set_view(&view);
    CollectionStore& store = model.store();
    const record_id red = store.addTag(u"red");
    const record_id blue = store.addTag(u"blue");
    for (int i = 0; i < 5; ++i) {
        store.addQuote(u"q");
    }
    store.markQuote(2, red);

    model.handle(model_events::mark_quotes{{1, 2, 3}, red});
    EXPECT_EQ(view.lines, (std::vector<std::string>{"add 1 red", "add 3 red"}));
    view.lines.clear();
    // A stale id refuses the whole command: nothing stored, nothing shown.
    EXPECT_FALSE(model.handle_safely(model_events::mark_quotes{{4, 77}, blue}));
    EXPECT_FALSE(store.isQuoteMarked(4, blue));
    view.lines.clear();

    // Without a search nothing is rebuilt; with one, the list is rebuilt once.
    model.handle(model_events::delete_marks{{1, 4}, red});
    EXPECT_EQ(view.lines, (std::vector<std::string>{"delete 1 " + std::to_string(red)}));
    view.lines.clear();
    store.addSearchTag(red);
    model.handle(model_events::delete_marks{{2, 3, 5}, red});
    EXPECT_EQ(view.lines, (std::vector<std::string>{"delete 2 " + std::to_string(red),
                                                    "delete 3 " + std::to_string(red), "list"}));
    const std::string log = hrd::test::read_file(m_dir.file("logs/model.log"));
    EXPECT_NE(log.find("mark_quotes complete; quotes: 2; tag: " + std::to_string(red) + "\n"),
              std::string::npos);
    EXPECT_NE(log.find("delete_marks complete; quotes: 2; tag: " + std::to_string(red) + "\n"),
              std::string::npos);
}

// The ids of every quote read apart (on a thread of their own, as the program
// starts) are the store's own list; the model shows them only while the store is
// as it was when the read began, and reads again otherwise.
TEST_F(batches, ids_read_apart_are_used_only_while_the_store_is_unchanged) {
    write_shuffled_collection(300, 10, 17);
    fml::reglog("model", u"logs/model.log");
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    CollectionStore& store = model.store();
    EXPECT_EQ(store.read_all_quote_ids_apart().get(), store.searchQuoteIds())
        << "ids out of table order are put in it";
    const std::vector<tag> names = store.tag_names();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_TRUE(std::all_of(names.begin(), names.end(),
                            [](const tag& t) { return t.m_quotes.empty() && !t.m_utfname.empty(); }));

    recording_view view;
    model.set_view(&view);
    const auto listed = [&] {
        for (auto it = view.lines.rbegin(); it != view.lines.rend(); ++it) {
            if (it->rfind("list", 0) == 0) {
                return *it;
            }
        }
        return std::string();
    };
    model.prefetch_quote_ids();
    model.handle(model_events::load_all{});
    std::string expected = "list";
    for (record_id id : store.searchQuoteIds()) {
        expected += " " + std::to_string(id);
    }
    EXPECT_EQ(listed(), expected);

    // A capture between the read and the list: the list is read again and has it.
    model.prefetch_quote_ids();
    const record_id added = store.addQuote(u"captured meanwhile");
    model.handle(model_events::load_all{});
    EXPECT_EQ(listed(), expected + " " + std::to_string(added));
}

// Copies of long selections are read in batches: the text is the same as quote by
// quote, and a gone quote in a later batch still refuses the whole copy.
TEST_F(batches, copies_of_long_selections_read_in_batches_give_the_same_text) {
    auto& store = open();
    const record_id tag = store.addTag(u"T");
    std::vector<record_id> ids;
    for (int i = 0; i < 1100; ++i) {
        ids.push_back(store.addQuote(u"text " + fml::utf82wchar(std::to_string(i))));
    }
    store.markQuotes(std::span(ids).subspan(500, 100), tag);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
    std::u16string plain;
    std::u16string with_data;
    for (const record_id id : ids) {
        plain += copy_quote_text(store, id) + u"\r\n\r\n";
        const std::u16string one = copy_quote_with_data_text(store, id);
        const std::u16string text = copy_quote_text(store, id);
        const std::u16string names = one.substr(text.size() + 4);
        with_data += text + u"\r\n" + (names.empty() ? u"" : u"Tags: " + names) + u"\r\n\r\n";
    }
    EXPECT_EQ(copy_quotes_text(store, ids), plain);
    EXPECT_EQ(copy_quotes_with_data_text(store, ids), with_data);
    store.removeQuote(ids[900]);
    try {
        copy_quotes_text(store, ids);
        ADD_FAILURE() << "a copy over a removed quote passed";
    } catch (const wrong_quote_id& error) {
        EXPECT_EQ(std::string(error.what()), std::to_string(ids[900]));
    }
}

// Typed text is searched on the search thread when the desktop takes work back: the
// list changes when the result lands on the UI thread, only the newest text's
// result is shown, and a collection changed meanwhile is searched again.
TEST_F(batches, text_searches_land_on_the_ui_thread_and_only_the_newest_counts) {
    fml::reglog("model", u"logs/model.log");
    // Before the model: its search thread may still post to it as the model goes.
    hrd::fake::fake_ui_thread ui;
    ui_in_services services_in_test(ui);
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    CollectionStore& store = model.store();
    const record_id apple = store.addQuote(u"an Apple a day");
    const record_id pie = store.addQuote(u"apple pie");
    store.addQuote(u"pear");
    recording_view view;
    model.set_view(&view);
    const auto last_list = [&] {
        for (auto it = view.lines.rbegin(); it != view.lines.rend(); ++it) {
            if (it->rfind("list", 0) == 0) {
                return *it;
            }
        }
        return std::string("none");
    };
    const auto list_of = [](std::vector<record_id> ids) {
        std::string line = "list";
        for (record_id id : ids) {
            line += " " + std::to_string(id);
        }
        return line;
    };

    model.handle(model_events::set_search_text{u"APPLE"});
    EXPECT_EQ(last_list(), "none") << "nothing shown before the search is done";
    ASSERT_TRUE(ui.wait_and_run());
    EXPECT_EQ(last_list(), list_of({apple, pie}));

    // Typed on before the first result lands: only the last text's list is shown.
    view.lines.clear();
    model.handle(model_events::set_search_text{u"app"});
    model.handle(model_events::set_search_text{u"pie"});
    while (last_list() != list_of({pie})) {
        ASSERT_TRUE(ui.wait_and_run()) << "the last search never came back";
        ASSERT_NE(last_list(), list_of({apple, pie})) << "an older search's list was shown";
    }

    // A capture while the search runs: the result is of an older collection, and
    // the search runs again.
    view.lines.clear();
    model.handle(model_events::set_search_text{u"apple"});
    const record_id fresh = store.addQuote(u"apple juice");
    while (last_list() != list_of({apple, pie, fresh})) {
        ASSERT_TRUE(ui.wait_and_run()) << "the search was not run again: " << last_list();
    }

    // The empty text shows every quote at once, from the UI thread.
    view.lines.clear();
    model.handle(model_events::set_search_text{u""});
    EXPECT_EQ(last_list(), list_of(store.searchQuoteIds()));
}

// Captures and removals leave the text index's merging to a quiet moment: it waits
// for the last change of a burst, then goes a step per turn of the loop until done.
TEST_F(batches, the_text_index_is_tidied_once_the_changes_stop) {
    fml::reglog("model", u"logs/model.log");
    hrd::fake::fake_ui_thread ui;
    ui_in_services services_in_test(ui);
    hrdModel model(std::make_unique<CollectionStore>(m_dir.wpath()));
    CollectionStore& store = model.store();
    for (int i = 0; i < 40; ++i) {
        model.handle(model_events::add_quote{u"burst number " + fml::utf82wchar(std::to_string(i))});
    }
    model.handle(model_events::delete_quote{store.max_quote_id()});
    ASSERT_TRUE(store.untidy());
    // Every change but the last one finds a later change when its wait is over.
    ASSERT_TRUE(ui.run_later());
    EXPECT_FALSE(ui.run_later()) << "only the waits of the burst were posted";
    int steps = 0;
    while (ui.run_posted()) {
        ++steps;
    }
    EXPECT_GE(steps, 1);
    EXPECT_FALSE(store.untidy());
    std::size_t holding_3 = 0;  // the removed 39 is not found
    for (int i = 0; i < 39; ++i) {
        holding_3 += std::to_string(i).find('3') != std::string::npos ? 1 : 0;
    }
    store.setSearchText(u"burst 3");
    EXPECT_EQ(store.searchQuoteIds().size(), holding_3);
}
