#include "model/model.h"

#include "fml/app_dirs.h"
#include "model/errors.h"

namespace hrd {

hrdModel::hrdModel() : hrdModel(std::make_unique<CollectionStore>()) {}

hrdModel::hrdModel(index_progress progress)
    : hrdModel(std::make_unique<CollectionStore>(app_dirs::get(app_dirs::DataDir),
                                                 std::move(progress))) {}

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
    return m_store->tags_on_all(quotes);
}

std::vector<quote> hrdModel::read_quotes(std::span<const record_id> ids) {
    return m_store->read_quotes(ids);
}

std::optional<std::string> hrdModel::tag_name(record_id id) {
    try {
        return m_store->tag_utfname(id);
    } catch (const wrong_tag_id&) {
        return std::nullopt;
    }
}

std::vector<record_id> hrdModel::order_by_time(std::span<const record_id> ids, bool oldest_first) {
    return m_store->order_by_time(ids, oldest_first);
}

bool hrdModel::is_quote_marked(record_id quote, record_id tag) {
    return m_store->isQuoteMarked(quote, tag);
}

}  // namespace hrd
