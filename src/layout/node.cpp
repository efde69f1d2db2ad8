#include "layout/node.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

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

void child_list::set_at(std::size_t index, node* child) {
    if (!is_block()) {
        m_data = child;
        return;
    }
    block* b = as_block();
    b->items()[b->begin + index] = child;
}

// ---- attribute_list --------------------------------------------------------

namespace {

template <typename T>
T read_raw(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
char* write_raw(char* at, T value) {
    std::memcpy(at, &value, sizeof value);
    return at + sizeof value;
}

constexpr std::size_t entry_header = sizeof(name_id) + sizeof(std::uint32_t);

}  // namespace

std::pair<name_id, std::string_view> attribute_list::read_entry(const char*& cursor) {
    const auto name = read_raw<name_id>(cursor);
    const auto length = read_raw<std::uint32_t>(cursor + sizeof(name_id));
    std::string_view value(cursor + entry_header, length);
    cursor += entry_header + length;
    return {name, value};
}

std::size_t attribute_list::size() const {
    return m_data ? read_raw<std::uint32_t>(m_data) : 0;
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
    std::size_t bytes = sizeof(std::uint32_t);
    for (const auto& [name, value] : attributes) {
        bytes += entry_header + value.size();
    }
    m_data = new char[bytes];
    char* out = write_raw(m_data, std::uint32_t(attributes.size()));
    for (const auto& [name, value] : attributes) {
        out = write_raw(out, name);
        out = write_raw(out, std::uint32_t(value.size()));
        std::memcpy(out, value.data(), value.size());
        out += value.size();
    }
}

// Writes a fresh block with `name` replaced by `*value`, appended when absent,
// or dropped when `value` is null. Attributes change rarely; reading is what
// must be cheap and compact.
void attribute_list::rebuild(name_id name, const std::string_view* value) {
    std::size_t bytes = sizeof(std::uint32_t);
    std::uint32_t count = 0;
    bool found = false;
    for_each([&](name_id entry_name, std::string_view entry_value) {
        if (entry_name == name) {
            found = true;
            if (value) {
                bytes += entry_header + value->size();
                ++count;
            }
        } else {
            bytes += entry_header + entry_value.size();
            ++count;
        }
    });
    if (!found && value) {
        bytes += entry_header + value->size();
        ++count;
    }
    if (count == 0) {
        delete[] m_data;
        m_data = nullptr;
        return;
    }
    char* fresh = new char[bytes];
    char* out = write_raw(fresh, count);
    auto write_entry = [&out](name_id entry_name, std::string_view entry_value) {
        out = write_raw(out, entry_name);
        out = write_raw(out, std::uint32_t(entry_value.size()));
        std::memcpy(out, entry_value.data(), entry_value.size());
        out += entry_value.size();
    };
    for_each([&](name_id entry_name, std::string_view entry_value) {
        if (entry_name != name) {
            write_entry(entry_name, entry_value);
        } else if (value) {
            write_entry(name, *value);
        }
    });
    if (!found && value) {
        write_entry(name, *value);
    }
    delete[] m_data;
    m_data = fresh;
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
    if (n->is_text()) {
        delete static_cast<text_node*>(n);
    } else {
        delete static_cast<element_node*>(n);
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
