#include "layout/node.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <unordered_map>

namespace layout {

// ---- child_list ------------------------------------------------------------

struct child_list::block {
    std::uint32_t begin;
    std::uint32_t end;
    std::uint32_t capacity;
    std::uint32_t unused;
    node** items() { return reinterpret_cast<node**>(this + 1); }

    static block* allocate(std::size_t capacity) {
        void* memory = ::operator new(sizeof(block) + capacity * sizeof(node*));
        auto* b = static_cast<block*>(memory);
        b->begin = b->end = 0;
        b->capacity = std::uint32_t(capacity);
        b->unused = 0;
        return b;
    }
    static void release(block* b) { ::operator delete(b); }
};

child_list::~child_list() {
    clear();
}

child_list::block* child_list::as_block() const {
    return reinterpret_cast<block*>(reinterpret_cast<std::uintptr_t>(m_data) & ~std::uintptr_t(1));
}

std::size_t child_list::size() const {
    if (!m_data) {
        return 0;
    }
    if (!is_block()) {
        return 1;
    }
    const block* b = as_block();
    return b->end - b->begin;
}

std::span<node* const> child_list::items() const {
    if (!m_data) {
        return {};
    }
    if (!is_block()) {
        return {&m_data, 1};
    }
    block* b = as_block();
    return {b->items() + b->begin, b->end - b->begin};
}

std::size_t child_list::index_of(const node* child) const {
    const auto list = items();
    return std::size_t(std::find(list.begin(), list.end(), child) - list.begin());
}

void child_list::make_block(std::size_t front_room, std::size_t back_room) {
    const auto current = items();
    block* fresh = block::allocate(front_room + current.size() + back_room);
    fresh->begin = fresh->end = std::uint32_t(front_room);
    for (node* child : current) {
        fresh->items()[fresh->end++] = child;
    }
    clear();
    m_data = reinterpret_cast<node*>(reinterpret_cast<std::uintptr_t>(fresh) | 1);
}

void child_list::insert(std::size_t position, std::span<node* const> nodes) {
    const std::size_t k = nodes.size();
    const std::size_t count = size();
    assert(position <= count);
    if (k == 0) {
        return;
    }
    if (count == 0 && k == 1) {
        m_data = nodes[0];
        return;
    }
    auto fits = [&](const block* b) {
        const std::size_t front = b->begin;
        const std::size_t back = b->capacity - b->end;
        if (position == 0) {
            return front >= k;
        }
        if (position == count) {
            return back >= k;
        }
        return front >= k || back >= k;
    };
    if (!is_block() || !fits(as_block())) {
        // Grow geometrically, giving the room to the side being extended.
        const std::size_t room = std::max(count + k, std::size_t(4));
        make_block(position == 0 ? room : (position == count ? 0 : room / 2), room);
    }
    block* b = as_block();
    node** all = b->items();
    if (position == 0) {
        b->begin -= std::uint32_t(k);
        std::copy(nodes.begin(), nodes.end(), all + b->begin);
    } else if (position == count || b->capacity - b->end >= k) {
        std::copy_backward(all + b->begin + position, all + b->end, all + b->end + k);
        std::copy(nodes.begin(), nodes.end(), all + b->begin + position);
        b->end += std::uint32_t(k);
    } else {
        std::copy(all + b->begin, all + b->begin + position, all + b->begin - k);
        b->begin -= std::uint32_t(k);
        std::copy(nodes.begin(), nodes.end(), all + b->begin + position);
    }
}

void child_list::erase(std::size_t position) {
    const std::size_t count = size();
    assert(position < count);
    if (!is_block()) {
        m_data = nullptr;
        return;
    }
    block* b = as_block();
    node** items = b->items();
    if (position == 0) {
        ++b->begin;
    } else if (position == count - 1) {
        --b->end;
    } else if (position < count / 2) {
        std::copy_backward(items + b->begin, items + b->begin + position,
                           items + b->begin + position + 1);
        ++b->begin;
    } else {
        std::copy(items + b->begin + position + 1, items + b->end, items + b->begin + position);
        --b->end;
    }
    if (b->begin == b->end) {
        clear();
    }
}

void child_list::clear() {
    if (is_block()) {
        block::release(as_block());
    }
    m_data = nullptr;
}

void child_list::shrink_short_list() {
    constexpr std::size_t short_list = 16;
    if (!is_block()) {
        return;
    }
    const block* b = as_block();
    const std::size_t count = b->end - b->begin;
    if (count > short_list || count == b->capacity) {
        return;
    }
    if (count == 1) {
        node* only = items()[0];
        clear();
        m_data = only;
        return;
    }
    make_block(0, 0);
}

void child_list::set_at(std::size_t index, node* child) {
    if (!is_block()) {
        m_data = child;
        return;
    }
    block* b = as_block();
    b->items()[b->begin + index] = child;
}

// ---- attribute_list --------------------------------------------------------

// Numbers are written in 7-bit groups: names and lengths are almost always
// below 128, so most take one byte.
namespace {

std::size_t varint_size(std::uint32_t value) {
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

char* write_varint(char* out, std::uint32_t value) {
    while (value >= 0x80) {
        *out++ = char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = char(value);
    return out;
}

std::uint32_t read_varint(const char*& cursor) {
    std::uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*cursor++);
        value |= std::uint32_t(byte & 0x7F) << shift;
        if (!(byte & 0x80)) {
            return value;
        }
    }
}

std::size_t entry_size(name_id name, std::string_view value) {
    return varint_size(name) + varint_size(std::uint32_t(value.size())) + value.size();
}

char* write_entry(char* out, name_id name, std::string_view value) {
    out = write_varint(out, name);
    out = write_varint(out, std::uint32_t(value.size()));
    std::memcpy(out, value.data(), value.size());
    return out + value.size();
}

}  // namespace

const char* attribute_list::entries() const {
    if (!m_data) {
        return nullptr;
    }
    const char* cursor = m_data;
    read_varint(cursor);
    return cursor;
}

std::pair<name_id, std::string_view> attribute_list::read_entry(const char*& cursor) {
    const name_id name = read_varint(cursor);
    const std::uint32_t length = read_varint(cursor);
    std::string_view value(cursor, length);
    cursor += length;
    return {name, value};
}

std::size_t attribute_list::size() const {
    if (!m_data) {
        return 0;
    }
    const char* cursor = m_data;
    return read_varint(cursor);
}

std::optional<std::string_view> attribute_list::get(name_id name) const {
    const char* cursor = entries();
    for (std::size_t i = 0, n = size(); i < n; ++i) {
        auto [entry_name, value] = read_entry(cursor);
        if (entry_name == name) {
            return value;
        }
    }
    return std::nullopt;
}

void attribute_list::set(name_id name, std::string_view value) {
    rebuild(name, &value);
}

bool attribute_list::remove(name_id name) {
    if (!has(name)) {
        return false;
    }
    rebuild(name, nullptr);
    return true;
}

void attribute_list::assign(std::span<const std::pair<name_id, std::string>> attributes) {
    delete[] m_data;
    m_data = nullptr;
    if (attributes.empty()) {
        return;
    }
    std::size_t bytes = varint_size(std::uint32_t(attributes.size()));
    for (const auto& [name, value] : attributes) {
        bytes += entry_size(name, value);
    }
    m_data = new char[bytes];
    char* out = write_varint(m_data, std::uint32_t(attributes.size()));
    for (const auto& [name, value] : attributes) {
        out = write_entry(out, name, value);
    }
}

// Writes a fresh block with `name` replaced by `*value`, appended when absent,
// or dropped when `value` is null. Attributes change rarely; reading is what
// must be cheap and compact.
void attribute_list::rebuild(name_id name, const std::string_view* value) {
    std::size_t bytes = 0;
    std::uint32_t count = 0;
    bool found = false;
    for_each([&](name_id entry_name, std::string_view entry_value) {
        if (entry_name == name) {
            found = true;
            if (value) {
                bytes += entry_size(name, *value);
                ++count;
            }
        } else {
            bytes += entry_size(entry_name, entry_value);
            ++count;
        }
    });
    if (!found && value) {
        bytes += entry_size(name, *value);
        ++count;
    }
    if (count == 0) {
        delete[] m_data;
        m_data = nullptr;
        return;
    }
    char* fresh = new char[bytes + varint_size(count)];
    char* out = write_varint(fresh, count);
    for_each([&](name_id entry_name, std::string_view entry_value) {
        if (entry_name != name) {
            out = write_entry(out, entry_name, entry_value);
        } else if (value) {
            out = write_entry(out, name, *value);
        }
    });
    if (!found && value) {
        write_entry(out, name, *value);
    }
    delete[] m_data;
    m_data = fresh;
}

// ---- node memory -----------------------------------------------------------

namespace {

// Nodes come in two sizes and in great numbers; pools of each size avoid the
// allocator's per-block overhead. Under AddressSanitizer nodes come from the
// plain allocator, so that a use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool use_pools = false;
#else
constexpr bool use_pools = true;
#endif

class fixed_pool {
public:
    explicit fixed_pool(std::size_t size) : m_size(size) {}

    void* allocate() {
        if (!m_free) {
            refill();
        }
        void* block = m_free;
        m_free = *static_cast<void**>(block);
        --m_free_count;
        return block;
    }

    void release(void* block) {
        *static_cast<void**>(block) = m_free;
        m_free = block;
        ++m_free_count;
    }

    std::size_t free_bytes() const { return m_free_count * m_size; }

private:
    void refill() {
        constexpr std::size_t slab_bytes = 64 * 1024;
        const std::size_t count = slab_bytes / m_size;
        m_slabs.push_back(std::make_unique_for_overwrite<std::byte[]>(count * m_size));
        std::byte* slab = m_slabs.back().get();
        for (std::size_t i = count; i-- > 0;) {
            release(slab + i * m_size);
        }
    }

    std::size_t m_size;
    void* m_free = nullptr;
    std::size_t m_free_count = 0;
    std::vector<std::unique_ptr<std::byte[]>> m_slabs;
};

fixed_pool& element_pool() {
    static fixed_pool pool(sizeof(element_node));
    return pool;
}

fixed_pool& text_pool() {
    static fixed_pool pool(sizeof(text_node));
    return pool;
}

std::unordered_map<const element_node*, std::unique_ptr<element_extras>>& extras_table() {
    static std::unordered_map<const element_node*, std::unique_ptr<element_extras>> table;
    return table;
}

std::size_t live_node_count = 0;

}  // namespace

void* element_node::operator new(std::size_t size) {
    ++live_node_count;
    return use_pools && size == sizeof(element_node) ? element_pool().allocate()
                                                     : ::operator new(size);
}

void element_node::operator delete(void* memory, std::size_t size) {
    --live_node_count;
    if (use_pools && size == sizeof(element_node)) {
        element_pool().release(memory);
    } else {
        ::operator delete(memory);
    }
}

void* text_node::operator new(std::size_t size) {
    ++live_node_count;
    return use_pools ? text_pool().allocate() : ::operator new(size);
}

void text_node::operator delete(void* memory, std::size_t) {
    --live_node_count;
    if (use_pools) {
        text_pool().release(memory);
    } else {
        ::operator delete(memory);
    }
}

std::size_t live_nodes() {
    return live_node_count;
}

std::size_t pooled_free_bytes() {
    return element_pool().free_bytes() + text_pool().free_bytes();
}

element_node::~element_node() {
    if (m_flags & element_flags::has_extras) {
        extras_table().erase(this);
    }
}

element_extras* element_node::find_extras() const {
    if (!(m_flags & element_flags::has_extras)) {
        return nullptr;
    }
    return extras_table().find(this)->second.get();
}

element_extras& element_node::extras() {
    if (element_extras* existing = find_extras()) {
        return *existing;
    }
    m_flags |= element_flags::has_extras;
    return *extras_table().emplace(this, std::make_unique<element_extras>()).first->second;
}

// ---- tree primitives -------------------------------------------------------

std::size_t element_child_count(const element_node& parent) {
    return parent.m_children.size() - parent.m_text_children;
}

element_node* nth_element_child(const element_node& parent, std::size_t index) {
    if (parent.m_text_children == 0) {
        return index < parent.m_children.size()
                   ? static_cast<element_node*>(parent.m_children.at(index))
                   : nullptr;
    }
    for (node* child : parent.m_children.items()) {
        if (child->is_element() && index-- == 0) {
            return static_cast<element_node*>(child);
        }
    }
    return nullptr;
}

std::size_t element_index(const element_node& child) {
    const element_node* parent = child.m_parent;
    if (!parent) {
        return 0;
    }
    if (parent->m_text_children == 0) {
        return parent->m_children.index_of(&child);
    }
    std::size_t index = 0;
    for (node* sibling : parent->m_children.items()) {
        if (sibling == &child) {
            break;
        }
        index += sibling->is_element() ? 1 : 0;
    }
    return index;
}

void insert_nodes(element_node& parent, std::size_t position, std::span<node* const> nodes) {
    for (node* n : nodes) {
        assert(!n->m_parent);
        n->m_parent = &parent;
        parent.m_text_children += n->is_text() ? 1 : 0;
    }
    parent.m_children.insert(position, nodes);
}

void unlink_node(node& child) {
    element_node* parent = child.m_parent;
    if (!parent) {
        return;
    }
    parent->m_children.erase(parent->m_children.index_of(&child));
    parent->m_text_children -= child.is_text() ? 1 : 0;
    child.m_parent = nullptr;
}

static void free_node(node* n) {
    switch (n->kind()) {
        case node_kind::text:
            delete static_cast<text_node*>(n);
            return;
        case node_kind::element:
            delete static_cast<element_node*>(n);
            return;
        case node_kind::document:
            delete static_cast<document_root*>(n);
            return;
    }
}

void destroy_subtree(node* root) {
    // Iterative, since a subtree may be far deeper than the call stack allows.
    std::vector<node*> doomed{root};
    while (!doomed.empty()) {
        node* n = doomed.back();
        doomed.pop_back();
        if (!n->is_text()) {
            auto* element = static_cast<element_node*>(n);
            for (node* child : element->m_children.items()) {
                child->m_parent = nullptr;
                if (child->m_refs == 0) {
                    doomed.push_back(child);
                }
            }
            element->m_children.clear();
        }
        free_node(n);
    }
}

void append_inner_text(const element_node& root, std::string& out) {
    for_each_in_subtree(const_cast<element_node&>(root), [&](node& n) {
        if (n.is_text()) {
            out += static_cast<text_node&>(n).m_text;
        } else if (n.m_tag == names::br && &n != &root) {
            out += '\n';
        }
        return walk::next;
    });
}

}  // namespace layout
