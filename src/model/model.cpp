#include "model/model.h"

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
    return m_store->tags_on_all(quotes);
}

bool hrdModel::is_quote_marked(record_id quote, record_id tag) {
    return m_store->isQuoteMarked(quote, tag);
}

}  // namespace hrd
