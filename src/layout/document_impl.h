#pragma once
// The document's private state and the internal steps shared by the tree
// operations (dom.cpp), the event machinery (events.cpp) and the document
// (document.cpp).

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "layout/document.h"
#include "layout/node.h"
#include "layout/patch.h"
#include "layout/style_sheet.h"

namespace layout {

// The elements of a document by id: open addressing over element pointers,
// with the id read from the element itself, so an entry costs two words.
// Several elements may carry one id.
class id_index {
public:
    void add(element_node& e, std::string_view id);
    void remove(element_node& e, std::string_view id);
    // Calls `callback` with each element carrying `id`, in no particular order.
    template <typename Callback>
    void for_each_match(std::string_view id, Callback&& callback) const {
        if (m_slots.empty()) {
            return;
        }
        const std::uint64_t hash = hash_of(id);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const slot& s = m_slots[i];
            if (!s.element) {
                return;
            }
            if (s.hash == hash && s.element != tombstone() &&
                s.element->m_attributes.get(names::id) == id) {
                callback(*s.element);
            }
        }
    }

private:
    struct slot {
        element_node* element = nullptr;  // nullptr: never used; tombstone(): freed
        std::uint64_t hash = 0;
    };
    static std::uint64_t hash_of(std::string_view id);
    static element_node* tombstone() {
        return reinterpret_cast<element_node*>(alignof(element_node));
    }
    void rehash(std::size_t capacity);

    std::vector<slot> m_slots;
    std::size_t m_live = 0;
    std::size_t m_used = 0;  // live entries and tombstones
};

// Nodes by serial. Serials are handed out in increasing order and a rebuilt list
// takes a fresh run of them, so the live ones sit in runs: pages of slots indexed
// by serial cost a word per live node (a hash map costs five), and a page goes as
// soon as its last node does.
class serial_index {
public:
    node* find(std::uint32_t serial) const {
        const std::size_t page = serial >> page_bits;
        return page < m_pages.size() && m_pages[page]
                   ? m_pages[page]->slots[serial & (page_size - 1)]
                   : nullptr;
    }
    void set(std::uint32_t serial, node* n);
    void erase(std::uint32_t serial);
    void clear() { m_pages.clear(); }

private:
    static constexpr unsigned page_bits = 10;
    static constexpr std::size_t page_size = std::size_t(1) << page_bits;
    struct page {
        node* slots[page_size] = {};
        std::size_t live = 0;
    };
    std::vector<std::unique_ptr<page>> m_pages;
};

struct document_impl {
    document_impl();
    ~document_impl();

    document_root* document_node;  // parent of the root element; owned
    host* the_host = nullptr;
    patch_observer* observer = nullptr;
    const clock* the_clock = nullptr;
    style_sheets sheets;
    // The first half of a character outside the BMP, typed as two UTF-16 units,
    // until its second half comes.
    char16_t typed_high_surrogate = 0;

    id_index ids;

    // Serial to node, kept only while someone mirrors the tree.
    bool track_serials = false;
    serial_index by_serial;

    // Elements held with a use reference while they play these parts.
    element_node* focus = nullptr;
    element_node* capture = nullptr;
    element_node* pressed = nullptr;  // a button held down, until the release
    struct open_popup {
        element_node* popup;
        element_node* owner;
        // Where the focus was when the pop-up opened: it goes back there when the
        // pop-up closes with the focus inside, so the keyboard is never left on a
        // hidden menu. Held with a use reference.
        element_node* return_focus = nullptr;
    };
    std::vector<open_popup> popups;
    struct posted_event {
        element_node* target;
        element_node* source;
        std::uint32_t code;
        std::uint32_t reason;
    };
    std::deque<posted_event> posted;
    struct timer {
        element_node* element;
        std::uint32_t id;
        std::uint32_t period;
        std::int64_t due;
    };
    std::vector<timer> timers;

    int input_depth = 0;  // inputs being handled; posted events run at 0
};

// Serial numbers for nodes, one sequence for the whole program.
std::uint32_t& next_serial();

// The document `n` is connected to, or nullptr when it is detached.
document_impl* document_of(const node& n);
bool is_inclusive_ancestor(const node& ancestor, const node& n);

void emit(document_impl& doc, patch&& change);
std::int64_t now_ms(const document_impl& doc);

// Parses `markup` for `parent` and puts the nodes at node position `position`,
// connecting and reporting them when `parent` is in a document.
// `first_serial` (when not 0) numbers the nodes, as a mirror must.
void insert_markup(element_node& parent, std::size_t position, std::string_view markup,
                   std::uint32_t first_serial = 0);
// Takes `n` out of its tree, reporting it, and frees it unless referenced.
void remove_node(node& n);
// Removes every child of `e` with one report (none when `report` is false,
// for callers whose own patch says it).
void remove_children(element_node& e, bool report = true);
// Makes `text` the only content of `e`.
void replace_text(element_node& e, std::string_view text, std::uint32_t first_serial = 0);
// Puts the children `order` (a permutation of some of e's children) in the
// positions they occupy, in that order.
void reorder_children(element_node& e, std::span<node* const> order);
void set_attribute_value(element_node& e, name_id name, std::optional<std::string_view> value);
void change_state(element_node& e, std::uint32_t bits_to_set, std::uint32_t bits_to_clear);
void set_style_value(element_node& e, name_id name, std::optional<std::string_view> value);
element_node* find_by_id(document_impl& doc, std::string_view id, const element_node& scope);

// events.cpp
void move_focus(document_impl& doc, element_node* element, bool by_mouse);
bool deliver_behavior_event(document_impl& doc, element_node& target, std::uint32_t code,
                            element_node* source, std::uint32_t reason);
void run_posted(document_impl& doc);
void forget_subtree(document_impl& doc, const node& root);  // drops focus, pop-ups... inside it
void forget_children(document_impl& doc, const element_node& parent);  // ...below it
void notify_detached(element_node& e);
bool open_popup(document_impl& doc, element_node& popup, element_node* owner, element_node* anchor,
                point pos, std::uint32_t placement);
bool close_popup(document_impl& doc, element_node& popup);
void bind_behaviors(document_impl& doc, std::span<element_node* const> elements);

// RAII for one input: posted events run when the outermost one ends.
class input_scope {
public:
    explicit input_scope(document_impl& doc) : m_doc(doc) { ++m_doc.input_depth; }
    ~input_scope();
    input_scope(const input_scope&) = delete;
    input_scope& operator=(const input_scope&) = delete;

private:
    document_impl& m_doc;
};

}  // namespace layout
