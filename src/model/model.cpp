#include "model/model.h"

#include <algorithm>

#include "model/errors.h"

namespace hrd {

hrdModel::hrdModel() : hrdModel(std::make_unique<CollectionStore>()) {}

hrdModel::hrdModel(std::unique_ptr<CollectionStore> store)
    : m_store(std::move(store)), m_clipboard(std::make_unique<memory_clipboard>()) {}

hrdModel::~hrdModel() = default;

void hrdModel::set_clipboard(std::unique_ptr<clipboard> clipboard) {
    m_clipboard = clipboard ? std::move(clipboard) : std::make_unique<memory_clipboard>();
}

bool hrdModel::tag_name_taken(std::u16string_view name, record_id own) {
    const record_id holder = m_store->tagNamed(name);
    return holder != -1 && holder != own;
}

std::optional<std::vector<record_id>> hrdModel::tags_on_all(const std::vector<record_id>& quotes) {
    std::vector<record_id> carried;
    for (std::size_t i = 0; i < quotes.size(); ++i) {
        auto found = m_store->getQuote(quotes[i]);
        if (found->empty()) {
            return std::nullopt;
        }
        const std::vector<record_id>& tags = found->current().m_tags;
        if (i == 0) {
            carried = tags;
        } else {
            std::erase_if(carried, [&](record_id t) {
                return std::find(tags.begin(), tags.end(), t) == tags.end();
            });
        }
    }
    return carried;
}

std::vector<quote> hrdModel::read_quotes(std::span<const record_id> ids) {
    std::vector<quote> found;
    found.reserve(ids.size());
    for (record_id id : ids) {
        try {
            found.push_back(m_store->read_quote_quietly(id));
        } catch (const wrong_quote_id&) {
            // gone: left out
        }
    }
    return found;
}

std::optional<std::string> hrdModel::tag_name(record_id id) {
    try {
        return m_store->tag_utfname(id);
    } catch (const wrong_tag_id&) {
        return std::nullopt;
    }
}

std::vector<record_id> hrdModel::order_by_time(std::span<const record_id> ids, bool oldest_first) {
    std::vector<std::pair<time_stamp, record_id>> keyed;
    for (const quote& q : read_quotes(ids)) {
        keyed.emplace_back(q.m_stamp, q.m_id);
    }
    std::sort(keyed.begin(), keyed.end());
    if (!oldest_first) {
        std::reverse(keyed.begin(), keyed.end());
    }
    std::vector<record_id> order;
    order.reserve(keyed.size());
    for (const auto& [stamp, id] : keyed) {
        order.push_back(id);
    }
    return order;
}

bool hrdModel::is_quote_marked(record_id quote, record_id tag) {
    return m_store->isQuoteMarked(quote, tag);
}

}  // namespace hrd
