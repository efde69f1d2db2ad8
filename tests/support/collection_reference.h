#pragma once
// An independent reference of what the collection holds and what the window should
// show, kept by simple rules, for the random-sequence tests to compare against.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "model/records.h"

namespace hrd::test {

struct collection_reference {
    std::map<record_id, std::u16string> tags;
    struct entry {
        std::u16string text;
        std::vector<record_id> tags;
    };
    std::map<record_id, entry> quotes;
    std::vector<record_id> search;
    bool any_mode = false;
    // The quote list as shown, top to bottom. A quote stored while a search is on shows
    // at the top until the list is next rebuilt from the search.
    std::vector<record_id> shown;
    record_id max_tag = 0;
    record_id max_quote = 0;

    bool matches(const entry& q) const {
        if (search.empty()) {
            return true;
        }
        auto has = [&](record_id t) { return std::ranges::find(q.tags, t) != q.tags.end(); };
        return any_mode ? std::ranges::any_of(search, has) : std::ranges::all_of(search, has);
    }
    void rebuild() {
        shown.clear();
        for (auto it = quotes.rbegin(); it != quotes.rend(); ++it) {
            if (matches(it->second)) {
                shown.push_back(it->first);
            }
        }
    }
    bool name_taken(const std::u16string& name, record_id except) const {
        return std::ranges::any_of(
            tags, [&](const auto& t) { return t.first != except && t.second == name; });
    }
    void drop_quote(record_id q) {
        quotes.erase(q);
        shown.erase(std::remove(shown.begin(), shown.end(), q), shown.end());
    }
};

}  // namespace hrd::test
