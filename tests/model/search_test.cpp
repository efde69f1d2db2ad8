#include <algorithm>
#include <random>
#include <set>

#include "model/errors.h"
#include "store_fixture.h"

using namespace hrd;

namespace {

class tag_search : public hrd::test::store_fixture {
protected:
    std::vector<record_id> found() {
        std::vector<record_id> ids;
        for (auto cursor = m_store->searchQuotes(); !cursor->empty(); cursor->next()) {
            ids.push_back(cursor->current().m_id);
        }
        return ids;
    }
};

}  // namespace

TEST_F(tag_search, modes_combine_the_search_tags_and_keep_their_rules) {
    auto& store = open();
    const record_id t3 = store.addTag(u"three");
    const record_id t8 = store.addTag(u"eight");
    const record_id other = store.addTag(u"other");
    const record_id both = store.addQuote(u"both");
    const record_id only3 = store.addQuote(u"only 3");
    const record_id none = store.addQuote(u"none");
    const record_id all3 = store.addQuote(u"three tags");
    store.markQuote(both, t8);
    store.markQuote(both, t3);
    store.markQuote(only3, t3);
    for (record_id t : {t3, t8, other}) {
        store.markQuote(all3, t);
    }
    new_log("logic");

    EXPECT_EQ(found(), (std::vector<record_id>{both, only3, none, all3}));
    EXPECT_TRUE(store.addSearchTag(t3));
    EXPECT_FALSE(store.addSearchTag(t3));
    EXPECT_EQ(store.searchTags(), (std::vector<record_id>{t3}));
    const std::string t3_text = std::to_string(t3);
    EXPECT_EQ(new_log("logic"), "addSearchTag: " + t3_text + "\naddSearchTag: " + t3_text + "\n");
    EXPECT_EQ(found(), (std::vector<record_id>{both, only3, all3}));
    store.addSearchTag(t8);
    EXPECT_EQ(found(), (std::vector<record_id>{both, all3}));
    store.setSearchMode(search_mode_or);
    // Each quote once, however many of the search tags it carries; table order.
    EXPECT_EQ(found(), (std::vector<record_id>{both, only3, all3}));

    // OR: a search tag that is gone matches nothing; AND: it is an error naming it.
    store.addSearchTag(other);
    store.removeTag(other);
    EXPECT_EQ(found(), (std::vector<record_id>{both, only3, all3}));
    store.setSearchMode(search_mode_and);
    try {
        found();
        ADD_FAILURE() << "an AND search over a removed tag ran";
    } catch (const wrong_tag_id& error) {
        EXPECT_EQ(std::string(error.what()), std::to_string(other));
    }
    EXPECT_THROW(store.addSearchTag(other), wrong_tag_id);
    EXPECT_THROW(store.isTagUsedInSearch(other), wrong_tag_id);
    // A listed id can still be taken out after its tag is gone; the others keep their order.
    const record_id last = store.addTag(u"last");
    store.addSearchTag(last);
    store.removeSearchTag(other);
    EXPECT_EQ(store.searchTags(), (std::vector<record_id>{t3, t8, last}));
    EXPECT_NE(new_log("logic").find("remove search tag: " + std::to_string(other) + "\n"),
              std::string::npos);
    try {
        store.removeSearchTag(other);
        ADD_FAILURE() << "removing an unlisted search tag passed";
    } catch (const wrong_tag_id& error) {
        EXPECT_EQ(std::string(error.what()), "wrong removeSearchTag:" + std::to_string(other));
    }

    // The mode is kept while the list is empty.
    store.clearSearchTags();
    EXPECT_TRUE(store.isSearchEmpty());
    store.setSearchMode(search_mode_or);
    EXPECT_EQ(found().size(), 4u);
    store.addSearchTag(t8);
    store.addSearchTag(t3);
    EXPECT_EQ(found(), (std::vector<record_id>{both, only3, all3}));
}

// Both ways an AND search narrows its candidates (merging a tag's marks, probing a far
// more common tag per candidate) and the OR union, against a brute-force reference.
TEST_F(tag_search, results_match_a_reference_over_a_random_collection) {
    std::mt19937 random(20261206);
    constexpr int tag_count = 12;
    // Built through the default import, which is one transaction.
    std::string tags_file = "<tags>";
    for (int t = 1; t <= tag_count; ++t) {
        tags_file += "<t id='" + std::to_string(t) + "' name='t" + std::to_string(t) + "'/>";
    }
    std::string quotes_file = "<quotes>";
    std::vector<std::set<record_id>> tags_of(1);
    for (int q = 1; q <= 400; ++q) {
        quotes_file += "<q id='" + std::to_string(q) + "' text='q'>";
        tags_of.emplace_back();
        for (int t = 1; t <= tag_count; ++t) {
            // Tag 1 is on nearly every quote, tag 12 on few: both narrowing paths run.
            if (std::uniform_int_distribution<int>(0, 99)(random) < 95 / t) {
                quotes_file += "<t id='" + std::to_string(t) + "'/>";
                tags_of.back().insert(t);
            }
        }
        quotes_file += "</q>";
    }
    write_defaults(tags_file + "</tags>", quotes_file + "</quotes>");
    auto& store = open();
    for (int round = 0; round < 60; ++round) {
        store.clearSearchTags();
        const int mode = round % 2;
        store.setSearchMode(mode);
        std::vector<record_id> search;
        const int size = 1 + round % 4;
        while (static_cast<int>(search.size()) < size) {
            const record_id t = std::uniform_int_distribution<int>(1, tag_count)(random);
            if (store.addSearchTag(t)) {
                search.push_back(t);
            }
        }
        std::vector<record_id> expected;
        for (record_id q = 1; q < static_cast<record_id>(tags_of.size()); ++q) {
            const auto carried = [&](record_id t) { return tags_of[q].contains(t); };
            if (mode == search_mode_and ? std::all_of(search.begin(), search.end(), carried)
                                        : std::any_of(search.begin(), search.end(), carried)) {
                expected.push_back(q);
            }
        }
        EXPECT_EQ(found(), expected) << "round " << round;
    }
}
