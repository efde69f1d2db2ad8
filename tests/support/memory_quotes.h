#pragma once
// Quotes and tags in memory, read the way the quote list reads the store: for
// view tests that need no database. Counts the quotes it hands out, so a test
// can tell how much of a long list was built.

#include <algorithm>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/view_events.h"

namespace hrd::test {

class memory_quotes final : public quote_reader {
public:
    std::vector<quote> read_quotes(std::span<const record_id> ids) override {
        std::vector<quote> found;
        for (record_id id : ids) {
            if (auto it = quotes.find(id); it != quotes.end()) {
                found.push_back(it->second);
            }
        }
        quotes_read += found.size();
        return found;
    }
    std::optional<std::string> tag_name(record_id id) override {
        auto it = tags.find(id);
        return it == tags.end() ? std::nullopt : std::optional(it->second.m_utfname);
    }
    std::vector<record_id> order_by_time(std::span<const record_id> ids,
                                         bool oldest_first) override {
        std::vector<record_id> order;
        for (record_id id : ids) {
            if (quotes.count(id) != 0) {
                order.push_back(id);
            }
        }
        std::sort(order.begin(), order.end(), [&](record_id a, record_id b) {
            const auto key_a = std::make_pair(quotes[a].m_stamp, a);
            const auto key_b = std::make_pair(quotes[b].m_stamp, b);
            return oldest_first ? key_a < key_b : key_b < key_a;
        });
        return order;
    }

    std::map<record_id, quote> quotes;
    std::map<record_id, tag> tags;
    std::size_t quotes_read = 0;
};

}  // namespace hrd::test
