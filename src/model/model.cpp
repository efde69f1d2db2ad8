#include "model/model.h"

namespace hrd {

hrdModel::hrdModel() : hrdModel(std::make_unique<CollectionStore>()) {}

hrdModel::hrdModel(std::unique_ptr<CollectionStore> store)
    : m_store(std::move(store)), m_clipboard(std::make_unique<memory_clipboard>()) {}

hrdModel::~hrdModel() = default;

void hrdModel::set_clipboard(std::unique_ptr<clipboard> clipboard) {
    m_clipboard = clipboard ? std::move(clipboard) : std::make_unique<memory_clipboard>();
}

}  // namespace hrd
