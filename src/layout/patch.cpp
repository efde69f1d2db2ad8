#include "layout/patch.h"

#include "layout/document_impl.h"
#include "layout/dom.h"
#include "layout/markup.h"

namespace layout {
namespace {

node* lookup(document_impl& doc, std::uint32_t serial) {
    if (serial == document_serial) {
        return doc.document_node;
    }
    return doc.by_serial.find(serial);
}

element_node* lookup_element(document_impl& doc, std::uint32_t serial) {
    node* n = lookup(doc, serial);
    return n && !n->is_text() ? static_cast<element_node*>(n) : nullptr;
}

std::optional<std::string_view> value_of(const patch& change) {
    return change.value ? std::optional<std::string_view>(*change.value) : std::nullopt;
}

}  // namespace

void read_inserted_nodes(const patch& insert,
                         const std::function<void(const inserted_node&)>& callback) {
    if (insert.kind != patch_kind::insert || !insert.value) {
        return;
    }
    // The markup was written from the document's own tree, so reading it
    // again gives the same nodes, numbered the same way.
    std::vector<node*> nodes;
    std::uint32_t serial = insert.first_serial;
    parse_fragment(*insert.value, names::none, serial, nodes);
    inserted_node record;
    for (node* top : nodes) {
        for_each_in_subtree(*top, [&](node& n) {
            record.serial = n.m_serial;
            record.parent = n.m_parent ? n.m_parent->m_serial : insert.node;
            record.is_text = n.is_text();
            record.attributes.clear();
            if (n.is_text()) {
                record.tag = {};
                record.text = static_cast<text_node&>(n).m_text;
            } else {
                auto& e = static_cast<element_node&>(n);
                record.tag = name_text(e.m_tag);
                record.text = {};
                e.m_attributes.for_each([&](name_id name, std::string_view value) {
                    record.attributes.emplace_back(name_text(name), value);
                });
            }
            callback(record);
            return walk::next;
        });
    }
    for (node* top : nodes) {
        destroy_subtree(top);
    }
}

bool apply_patch(document& target, const patch& change) {
    document_impl& doc = target.impl();
    if (!doc.track_serials) {
        doc.track_serials = true;
        for_each_in_subtree(*doc.document_node, [&](node& n) {
            doc.by_serial.set(n.m_serial, &n);
            return walk::next;
        });
    }
    switch (change.kind) {
        case patch_kind::insert: {
            element_node* parent = lookup_element(doc, change.node);
            node* before = change.before ? lookup(doc, change.before) : nullptr;
            if (!parent || (change.before && (!before || before->m_parent != parent))) {
                return false;
            }
            const std::size_t position =
                before ? parent->m_children.index_of(before) : parent->m_children.size();
            insert_markup(*parent, position, change.value.value_or(""), change.first_serial);
            return true;
        }
        case patch_kind::remove: {
            node* n = lookup(doc, change.node);
            if (!n || !n->m_parent) {
                return false;
            }
            remove_node(*n);
            return true;
        }
        case patch_kind::clear: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                remove_children(*e);
            }
            return e != nullptr;
        }
        case patch_kind::set_attribute: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                set_attribute_value(*e, intern_name(change.name), value_of(change));
            }
            return e != nullptr;
        }
        case patch_kind::set_state: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                change_state(*e, change.state, ~change.state);
            }
            return e != nullptr;
        }
        case patch_kind::set_text: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                replace_text(*e, change.value.value_or(""), change.first_serial);
            }
            return e != nullptr;
        }
        case patch_kind::set_style: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                set_style_value(*e, intern_name(change.name), value_of(change));
            }
            return e != nullptr;
        }
        case patch_kind::reorder: {
            element_node* e = lookup_element(doc, change.node);
            if (!e) {
                return false;
            }
            std::vector<node*> order;
            for (std::uint32_t serial : change.order) {
                node* child = lookup(doc, serial);
                if (!child || child->m_parent != e) {
                    return false;
                }
                order.push_back(child);
            }
            reorder_children(*e, order);
            return true;
        }
        case patch_kind::set_scroll_pos: {
            element_node* e = lookup_element(doc, change.node);
            if (e) {
                e->extras().scroll_pos = change.pos;
            }
            return e != nullptr;
        }
        case patch_kind::show_popup:
        case patch_kind::hide_popup:
        case patch_kind::update:
        case patch_kind::scroll_to_view:
        case patch_kind::rows:
            // Nothing in the tree itself changes: the states they go with come as
            // set_state patches of their own.
            return lookup(doc, change.node) != nullptr;
    }
    unreachable_case();
}

}  // namespace layout
