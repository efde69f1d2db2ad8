#include "layout/document.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <chrono>
#include <unordered_set>

#include "layout/document_impl.h"
#include "layout/dom.h"
#include "layout/markup.h"

namespace layout {
namespace {

// The engine's own bindings, below every sheet of the document.
constexpr std::string_view master_style_sheet = R"(
button, input[type=button], input[type=submit] { behavior: button; }
input[type=checkbox], li[type=check] { behavior: check; }
)";

class steady_clock_source final : public clock {
public:
    std::int64_t now_ms() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

void index_id(document_impl& doc, element_node& e) {
    if (const auto id = e.m_attributes.get(names::id)) {
        doc.ids.add(e, *id);
        e.m_flags |= element_flags::indexed_id;
    }
}

void unindex_id(document_impl& doc, element_node& e) {
    if (e.m_flags & element_flags::indexed_id) {
        e.m_flags &= std::uint8_t(~element_flags::indexed_id);
        doc.ids.remove(e, e.m_attributes.get(names::id).value_or(""));
    }
}

// Registers the nodes of a subtree that joined `doc`; collects its elements.
void connect(document_impl& doc, node& root, std::vector<element_node*>& elements) {
    for_each_in_subtree(root, [&](node& n) {
        if (doc.track_serials) {
            doc.by_serial.set(n.m_serial, &n);
        }
        if (n.is_element()) {
            auto& e = static_cast<element_node&>(n);
            index_id(doc, e);
            elements.push_back(&e);
        }
        return walk::next;
    });
}

// Unregisters the nodes of a subtree leaving `doc`. Elements with handlers are
// collected, each with a use reference, to hear of it once it is out.
void disconnect(document_impl& doc, node& root, std::vector<element_node*>& with_handlers) {
    forget_subtree(doc, root);
    for_each_in_subtree(root, [&](node& n) {
        if (doc.track_serials) {
            doc.by_serial.erase(n.m_serial);
        }
        if (n.is_element()) {
            auto& e = static_cast<element_node&>(n);
            unindex_id(doc, e);
            if (e.find_extras() && !e.find_extras()->handlers.empty()) {
                ++e.m_refs;
                with_handlers.push_back(&e);
            }
        }
        return walk::next;
    });
}

void notify_and_release(std::vector<element_node*>& with_handlers) {
    for (element_node* e : with_handlers) {
        notify_detached(*e);
        unuse(e);
    }
}

std::uint32_t serial_at(const element_node& parent, std::size_t position) {
    return position < parent.m_children.size() ? parent.m_children.at(position)->m_serial : 0;
}

// Style sheets named by <style> and <link rel="stylesheet"> in new markup.
void read_style_sheets(document_impl& doc, std::span<node* const> nodes) {
    static const name_id style_tag = intern_name("style");
    for (node* top : nodes) {
        for_each_in_subtree(*top, [&](node& n) {
            if (!n.is_element()) {
                return walk::next;
            }
            auto& e = static_cast<element_node&>(n);
            if (e.m_tag == style_tag) {
                std::string css;
                append_inner_text(e, css);
                doc.sheets.add(css);
                return walk::skip_children;
            }
            if (e.m_tag == names::link && e.m_attributes.get(names::rel) == "stylesheet" &&
                doc.the_host) {
                if (auto href = e.m_attributes.get(names::href)) {
                    if (auto css = doc.the_host->load_resource(*href)) {
                        doc.sheets.add(*css);
                    }
                }
            }
            return walk::next;
        });
    }
}

void insert_parsed(element_node& parent, std::size_t position, std::vector<node*>& nodes) {
    if (nodes.empty()) {
        return;
    }
    insert_nodes(parent, position, nodes);
    document_impl* doc = document_of(parent);
    if (!doc) {
        return;
    }
    std::vector<element_node*> elements;
    for (node* n : nodes) {
        connect(*doc, *n, elements);
    }
    if (doc->observer) {
        patch change = make_patch(patch_kind::insert, parent.m_serial);
        change.before = serial_at(parent, position + nodes.size());
        change.first_serial = nodes.front()->m_serial;
        if (doc->observer->wants_markup()) {
            change.value.emplace();
            for (node* n : nodes) {
                serialize_outer(*n, *change.value);
            }
        }
        emit(*doc, std::move(change));
    }
    bind_behaviors(*doc, elements);
}

}  // namespace

// ---- serial_index ----------------------------------------------------------

void serial_index::set(std::uint32_t serial, node* n) {
    const std::size_t index = serial >> page_bits;
    if (index >= m_pages.size()) {
        m_pages.resize(index + 1);
    }
    std::unique_ptr<page>& p = m_pages[index];
    if (!p) {
        p = std::make_unique<page>();
    }
    node*& slot = p->slots[serial & (page_size - 1)];
    if (!slot) {
        ++p->live;
    }
    slot = n;
}

void serial_index::erase(std::uint32_t serial) {
    const std::size_t index = serial >> page_bits;
    if (index >= m_pages.size() || !m_pages[index]) {
        return;
    }
    node*& slot = m_pages[index]->slots[serial & (page_size - 1)];
    if (slot && --m_pages[index]->live == 0) {
        m_pages[index].reset();
        return;
    }
    slot = nullptr;
}

// ---- document_impl ---------------------------------------------------------

std::uint32_t& next_serial() {
    static std::uint32_t serial = document_serial + 1;
    return serial;
}

document_impl::document_impl() : document_node(new document_root()) {
    document_node->m_refs = 1;
    document_node->m_owner = this;
    sheets.add(master_style_sheet);
}

document_impl::~document_impl() {
    for (auto& event : posted) {
        unuse(event.target);
        unuse(event.source);
    }
    posted.clear();
    observer = nullptr;
    the_host = nullptr;
    remove_children(*document_node);
    document_node->m_owner = nullptr;
    destroy_subtree(document_node);
}

document_impl* document_of(const node& n) {
    const node* top = &n;
    while (top->m_parent) {
        top = top->m_parent;
    }
    if (top->kind() != node_kind::document) {
        return nullptr;
    }
    return static_cast<const document_root*>(top)->m_owner;
}

bool is_inclusive_ancestor(const node& ancestor, const node& n) {
    for (const node* p = &n; p; p = p->m_parent) {
        if (p == &ancestor) {
            return true;
        }
    }
    return false;
}

void emit(document_impl& doc, patch&& change) {
    if (doc.observer) {
        doc.observer->on_patch(change);
    }
}

std::int64_t now_ms(const document_impl& doc) {
    static const steady_clock_source steady;
    return (doc.the_clock ? doc.the_clock : &steady)->now_ms();
}

void insert_markup(element_node& parent, std::size_t position, std::string_view markup,
                   std::uint32_t first_serial) {
    std::vector<node*> nodes;
    std::uint32_t local_serial = first_serial;
    parse_fragment(markup, parent.m_tag, first_serial ? local_serial : next_serial(), nodes);
    insert_parsed(parent, position, nodes);
}

void remove_node(node& n) {
    document_impl* doc = document_of(n);
    std::vector<element_node*> with_handlers;
    if (doc) {
        // Focus, capture and pop-ups let go of the subtree first (their own
        // changes come before the removal); the removal is reported while the node
        // can still be found, so an observer can tell where it stood.
        forget_subtree(*doc, n);
        emit(*doc, make_patch(patch_kind::remove, n.m_serial));
        disconnect(*doc, n, with_handlers);
    }
    unlink_node(n);
    if (n.m_refs == 0) {
        destroy_subtree(&n);
    }
    notify_and_release(with_handlers);
}

void remove_children(element_node& e, bool report) {
    if (e.m_children.empty()) {
        return;
    }
    document_impl* doc = document_of(e);
    std::vector<element_node*> with_handlers;
    if (doc) {
        forget_children(*doc, e);
        for (node* child : e.m_children.items()) {
            disconnect(*doc, *child, with_handlers);
        }
        if (report) {
            emit(*doc, make_patch(patch_kind::clear, e.m_serial));
        }
    }
    const std::vector<node*> children(e.m_children.items().begin(), e.m_children.items().end());
    e.m_children.clear();
    e.m_text_children = 0;
    for (node* child : children) {
        child->m_parent = nullptr;
        if (child->m_refs == 0) {
            destroy_subtree(child);
        }
    }
    notify_and_release(with_handlers);
}

void replace_text(element_node& e, std::string_view text, std::uint32_t first_serial) {
    document_impl* doc = document_of(e);
    remove_children(e, false);  // the set_text patch says it all
    std::string valid;
    append_valid_utf8(valid, text);
    if (is_raw_text_element(e.m_tag)) {
        make_raw_text_safe(valid, e.m_tag);
    }
    const std::uint32_t serial = first_serial ? first_serial : next_serial()++;
    if (!valid.empty()) {
        node* child[] = {new text_node(serial, valid)};
        insert_nodes(e, 0, child);
        if (doc && doc->track_serials) {
            doc->by_serial.set(serial, child[0]);
        }
    }
    if (doc) {
        patch change = make_patch(patch_kind::set_text, e.m_serial);
        change.first_serial = serial;
        change.value = std::move(valid);
        emit(*doc, std::move(change));
    }
}

void reorder_children(element_node& e, std::span<node* const> order) {
    // The places the moving children hold now, found in one pass over the list, so a
    // sort of a long list costs no more than the sort itself.
    const std::unordered_set<const node*> moving(order.begin(), order.end());
    std::vector<std::size_t> positions;
    positions.reserve(order.size());
    const auto children = e.m_children.items();
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (moving.count(children[i]) != 0) {
            positions.push_back(i);
        }
    }
    if (positions.size() != order.size()) {
        return;  // not all of them are children here: nothing to do soundly
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        e.m_children.set_at(positions[i], order[i]);
    }
    if (document_impl* doc = document_of(e); doc && doc->observer) {
        patch change = make_patch(patch_kind::reorder, e.m_serial);
        for (node* child : order) {
            change.order.push_back(child->m_serial);
        }
        emit(*doc, std::move(change));
    }
}

void set_attribute_value(element_node& e, name_id name, std::optional<std::string_view> value) {
    document_impl* doc = document_of(e);
    const bool is_id = name == names::id && doc;
    if (is_id) {
        unindex_id(*doc, e);
    }
    std::string valid;
    if (value) {
        append_valid_utf8(valid, *value);
        e.m_attributes.set(name, valid);
    } else {
        e.m_attributes.remove(name);
    }
    if (is_id) {
        index_id(*doc, e);
    }
    if (doc) {
        patch change = make_patch(patch_kind::set_attribute, e.m_serial);
        change.name = name_text(name);
        if (value) {
            change.value = std::move(valid);
        }
        emit(*doc, std::move(change));
    }
}

void change_state(element_node& e, std::uint32_t bits_to_set, std::uint32_t bits_to_clear) {
    const std::uint32_t fresh = (e.m_state | bits_to_set) & ~bits_to_clear;
    if (fresh == e.m_state) {
        return;
    }
    e.m_state = fresh;
    if (document_impl* doc = document_of(e)) {
        emit(*doc, make_patch(patch_kind::set_state, e.m_serial, fresh));
    }
}

void set_style_value(element_node& e, name_id name, std::optional<std::string_view> value) {
    auto& style = e.extras().style;
    auto it =
        std::find_if(style.begin(), style.end(), [&](auto& item) { return item.first == name; });
    std::string valid;
    if (value) {
        append_valid_utf8(valid, *value);
        if (it != style.end()) {
            it->second = valid;
        } else {
            style.emplace_back(name, valid);
        }
    } else if (it != style.end()) {
        style.erase(it);
    }
    if (document_impl* doc = document_of(e)) {
        patch change = make_patch(patch_kind::set_style, e.m_serial);
        change.name = name_text(name);
        if (value) {
            change.value = std::move(valid);
        }
        emit(*doc, std::move(change));
    }
}

element_node* find_by_id(document_impl& doc, std::string_view id, const element_node& scope) {
    std::vector<element_node*> inside;
    doc.ids.for_each_match(id, [&](element_node& e) {
        if (&e != &scope && is_inclusive_ancestor(scope, e)) {
            inside.push_back(&e);
        }
    });
    if (inside.size() <= 1) {
        return inside.empty() ? nullptr : inside.front();
    }
    // Several elements below scope share the id: the first in document order.
    element_node* found = nullptr;
    for_each_element_in_subtree(const_cast<element_node&>(scope), [&](element_node& e) {
        if (std::find(inside.begin(), inside.end(), &e) != inside.end()) {
            found = &e;
            return walk::stop;
        }
        return walk::next;
    });
    return found;
}

// ---- id_index --------------------------------------------------------------

std::uint64_t id_index::hash_of(std::string_view id) {
    return std::hash<std::string_view>{}(id);
}

void id_index::add(element_node& e, std::string_view id) {
    // Kept between a third and seven tenths full: short probes, little waste.
    if ((m_used + 1) * 10 > m_slots.size() * 7) {
        rehash(std::max<std::size_t>(16, std::bit_ceil((m_live + 1) * 2)));
    }
    const std::uint64_t hash = hash_of(id);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = hash & mask;
    while (m_slots[i].element && m_slots[i].element != tombstone()) {
        i = (i + 1) & mask;
    }
    m_used += m_slots[i].element ? 0 : 1;
    m_slots[i] = {&e, hash};
    ++m_live;
}

void id_index::remove(element_node& e, std::string_view id) {
    if (m_slots.empty()) {
        return;
    }
    const std::uint64_t hash = hash_of(id);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask; m_slots[i].element; i = (i + 1) & mask) {
        if (m_slots[i].element == &e) {
            m_slots[i].element = tombstone();
            --m_live;
            return;
        }
    }
}

void id_index::rehash(std::size_t capacity) {
    std::vector<slot> old = std::exchange(m_slots, std::vector<slot>(capacity));
    m_used = m_live = 0;
    const std::size_t mask = capacity - 1;
    for (const slot& s : old) {
        if (s.element && s.element != tombstone()) {
            std::size_t i = s.hash & mask;
            while (m_slots[i].element) {
                i = (i + 1) & mask;
            }
            m_slots[i] = s;
            ++m_used;
            ++m_live;
        }
    }
}

input_scope::~input_scope() {
    if (--m_doc.input_depth == 0 && !m_doc.posted.empty()) {
        run_posted(m_doc);
    }
}

// ---- document --------------------------------------------------------------

document::document() : m_impl(std::make_unique<document_impl>()) {}

document::~document() = default;

void document::set_host(host* new_host) {
    m_impl->the_host = new_host;
}

void document::set_observer(patch_observer* observer) {
    m_impl->observer = observer;
    if (observer && !m_impl->track_serials) {
        m_impl->track_serials = true;
        for_each_in_subtree(*m_impl->document_node, [&](node& n) {
            m_impl->by_serial.set(n.m_serial, &n);
            return walk::next;
        });
    }
}

void document::set_clock(const clock* new_clock) {
    m_impl->the_clock = new_clock;
}

void document::load_html(std::string_view markup) {
    document_impl& doc = *m_impl;
    remove_children(*doc.document_node);
    doc.sheets = style_sheets();
    doc.sheets.add(master_style_sheet);
    std::vector<node*> nodes;
    parse_fragment(markup, names::none, next_serial(), nodes);
    read_style_sheets(doc, nodes);
    insert_parsed(*doc.document_node, 0, nodes);
}

handle document::root() const {
    return nth_element_child(*m_impl->document_node, 0);
}

handle document::element_by_serial(std::uint32_t serial) const {
    node* found = m_impl->by_serial.find(serial);
    return found != nullptr && found->is_element()
               ? static_cast<element_node*>(found)
               : nullptr;
}

handle document::focus() const {
    return m_impl->focus;
}

handle document::capture() const {
    return m_impl->capture;
}

void document::release_capture() {
    if (element_node* old = std::exchange(m_impl->capture, nullptr)) {
        unuse(old);
    }
}

std::vector<handle> document::open_popups() const {
    std::vector<handle> out;
    for (const auto& open : m_impl->popups) {
        out.push_back(open.popup);
    }
    return out;
}

void document::run_posted_events() {
    run_posted(*m_impl);
}

std::size_t document::posted_event_count() const {
    return m_impl->posted.size();
}

void document::set_focus(handle element) {
    if (element && document_of(*element) != m_impl.get()) {
        return;
    }
    input_scope scope(*m_impl);
    move_focus(*m_impl, element, false);
}

}  // namespace layout
