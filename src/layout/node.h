#pragma once
// The tree's storage: nodes, their child lists and attribute lists. Internal to
// the engine; callers see elements only through `handle`.
//
// Lifetime: a node is alive while it has a parent or while someone holds a use
// reference (m_refs). Removing an unreferenced node from its parent frees it
// and every unreferenced node below it; referenced nodes below become detached
// roots of their own and live on until their last unuse.

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "layout/names.h"
#include "layout/types.h"

namespace layout {

class element_node;
struct document_impl;
struct element_extras;

enum class node_kind : std::uint8_t { document, element, text };

class node {
public:
    node(node_kind kind, std::uint32_t serial) : m_serial(serial), m_kind(kind) {}
    node(const node&) = delete;
    node& operator=(const node&) = delete;

    node_kind kind() const { return m_kind; }
    bool is_element() const { return m_kind == node_kind::element; }
    bool is_text() const { return m_kind == node_kind::text; }

    element_node* m_parent = nullptr;
    std::uint32_t m_serial;  // stable id for the patch stream and renderers
    std::uint32_t m_refs = 0;

protected:
    ~node() = default;  // freed through destroy_node, which knows the kind

private:
    node_kind m_kind;

public:
    std::uint8_t m_flags = 0;  // element_flags
    name_id m_tag = names::none;
};

class text_node final : public node {
public:
    text_node(std::uint32_t serial, std::string text)
        : node(node_kind::text, serial), m_text(std::move(text)) {}

    static void* operator new(std::size_t size);
    static void operator delete(void* memory, std::size_t size);

    std::string m_text;  // UTF-8
};

// A node's children. Most elements have none or one child, so a single child is
// stored in place and only longer lists get a heap block. The block keeps free
// room at both ends: inserting at the start of a long list is as cheap as
// appending, and never moves the existing entries.
class child_list {
public:
    child_list() = default;
    child_list(const child_list&) = delete;
    child_list& operator=(const child_list&) = delete;
    ~child_list();

    std::size_t size() const;
    bool empty() const { return m_data == nullptr; }
    node* at(std::size_t index) const { return items()[index]; }
    std::span<node* const> items() const;
    // Position of `child`, or size() when it is not here.
    std::size_t index_of(const node* child) const;

    void insert(std::size_t position, std::span<node* const> nodes);
    void erase(std::size_t position);
    // Forgets every entry without touching the nodes.
    void clear();
    void set_at(std::size_t index, node* child);
    // Gives back the spare room of a short list; long lists keep theirs so
    // that further inserts at either end stay cheap.
    void shrink_short_list();

private:
    struct block;
    block* as_block() const;
    bool is_block() const { return (reinterpret_cast<std::uintptr_t>(m_data) & 1) != 0; }
    void make_block(std::size_t front_room, std::size_t back_room);

    // nullptr: empty; a node pointer: the single child; a block pointer with
    // the low bit set: a longer list.
    node* m_data = nullptr;
};

// An element's attributes in one compact heap block, in markup order:
// a count, then for each attribute its name id, value length and value bytes.
class attribute_list {
public:
    attribute_list() = default;
    attribute_list(const attribute_list&) = delete;
    attribute_list& operator=(const attribute_list&) = delete;
    ~attribute_list() { delete[] m_data; }

    std::optional<std::string_view> get(name_id name) const;
    bool has(name_id name) const { return get(name).has_value(); }
    // Replaces the value in place when present, else appends.
    void set(name_id name, std::string_view value);
    // Returns whether the attribute was there.
    bool remove(name_id name);
    // Replaces every attribute at once; names must be distinct.
    void assign(std::span<const std::pair<name_id, std::string>> attributes);
    std::size_t size() const;

    template <typename Callback>
    void for_each(Callback&& callback) const {
        const char* cursor = entries();
        for (std::size_t i = 0, n = size(); i < n; ++i) {
            auto [name, value] = read_entry(cursor);
            callback(name, value);
        }
    }

private:
    const char* entries() const;
    static std::pair<name_id, std::string_view> read_entry(const char*& cursor);
    void rebuild(name_id name, const std::string_view* value);

    char* m_data = nullptr;
};

// Element flags kept in node::m_flags.
namespace element_flags {
enum : std::uint8_t {
    builtin_mask = 0x7,  // builtin_behavior
    indexed_id = 0x10,   // counted in the document's id index
    has_extras = 0x20,   // has an entry in the extras table
};
}

// The engine's own behaviors; an element has at most one.
enum class builtin_behavior : std::uint8_t { none = 0, button = 1, check = 2 };

struct handler_entry {
    element_proc proc = nullptr;
    void* tag = nullptr;
    std::uint32_t subscription = 0;
};

// A long list's source, window and marks (long_list.cpp).
struct long_list_state;
struct long_list_deleter {
    void operator()(long_list_state* state) const;
};

// What few elements need: kept out of line so plain elements stay small.
struct element_extras {
    std::vector<handler_entry> handlers;
    std::vector<std::pair<name_id, std::string>> style;  // set at run time
    std::optional<rect> location;                        // root-relative border box
    std::optional<rect> scroll_view;                     // visible part of the content
    std::optional<point> scroll_pos;
    std::optional<point> scroll_size;  // content size
    std::unique_ptr<long_list_state, long_list_deleter> long_list;
};

class element_node : public node {
public:
    element_node(node_kind kind, std::uint32_t serial, name_id tag) : node(kind, serial) {
        m_tag = tag;
    }
    ~element_node();

    static void* operator new(std::size_t size);
    static void operator delete(void* memory, std::size_t size);

    builtin_behavior builtin() const {
        return builtin_behavior(m_flags & element_flags::builtin_mask);
    }
    void set_builtin(builtin_behavior b) {
        m_flags = std::uint8_t((m_flags & ~element_flags::builtin_mask) | std::uint8_t(b));
    }
    // The element's rarely needed data, kept in a side table so that the many
    // elements without any stay small.
    element_extras* find_extras() const;
    element_extras& extras();

    std::uint32_t m_state = 0;
    std::uint32_t m_text_children = 0;  // text nodes among m_children
    child_list m_children;
    attribute_list m_attributes;
};

// The parent of a document's root element; knows its document.
class document_root final : public element_node {
public:
    document_root() : element_node(node_kind::document, 1, names::none) {}
    document_impl* m_owner = nullptr;
};

// After a switch that handles every value of an enumeration: a value that
// reaches this point was added without a case.
[[noreturn]] inline void unreachable_case() {
    assert(!"a switch is missing a case");
    std::abort();
}

// ---- Tree primitives -------------------------------------------------------

enum class walk : std::uint8_t { next, skip_children, stop };

// Calls `callback` on each child node in order until it returns walk::stop.
template <typename Callback>
void for_each_child(const element_node& parent, Callback&& callback) {
    for (node* child : parent.m_children.items()) {
        if (callback(*child) == walk::stop) {
            return;
        }
    }
}

// Pre-order walk of `root` and every node below it, without recursion (the
// tree may be deep). Returns false when the callback stopped the walk.
template <typename Callback>
bool for_each_in_subtree(node& root, Callback&& callback) {
    const walk first = callback(root);
    if (first == walk::stop) {
        return false;
    }
    if (first == walk::skip_children || root.is_text()) {
        return true;
    }
    std::vector<std::pair<const element_node*, std::size_t>> stack;
    stack.emplace_back(static_cast<element_node*>(&root), 0);
    while (!stack.empty()) {
        auto& [parent, index] = stack.back();
        if (index >= parent->m_children.size()) {
            stack.pop_back();
            continue;
        }
        node* child = parent->m_children.at(index++);
        const walk decision = callback(*child);
        if (decision == walk::stop) {
            return false;
        }
        if (decision == walk::next && !child->is_text()) {
            auto* element = static_cast<element_node*>(child);
            if (!element->m_children.empty()) {
                stack.emplace_back(element, 0);
            }
        }
    }
    return true;
}

// The same over elements only (text nodes are skipped).
template <typename Callback>
bool for_each_element_in_subtree(element_node& root, Callback&& callback) {
    return for_each_in_subtree(root, [&](node& n) {
        return n.is_text() ? walk::next : callback(static_cast<element_node&>(n));
    });
}

// Element children by position among elements (text nodes do not count).
std::size_t element_child_count(const element_node& parent);
element_node* nth_element_child(const element_node& parent, std::size_t index);
// Position of `child` among its parent's element children.
std::size_t element_index(const element_node& child);

// Puts the parentless `nodes` into `parent` at node position `position`.
void insert_nodes(element_node& parent, std::size_t position, std::span<node* const> nodes);
// Takes `child` out of its parent. Returns false when the caller must free it
// (it is unreferenced); the caller decides, since the document must hear of it first.
void unlink_node(node& child);
// Frees `root` and everything below it that nobody references.
void destroy_subtree(node* root);
// Nodes allocated and not yet freed, in every document and detached subtree.
std::size_t live_nodes();
// Bytes of node memory kept for reuse (freed nodes not yet handed out again).
std::size_t pooled_free_bytes();
// The text of every text node below `root`, in order.
void append_inner_text(const element_node& root, std::string& out);

}  // namespace layout
