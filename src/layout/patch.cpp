#include "layout/patch.h"

#include "layout/document_impl.h"
#include "layout/dom.h"

namespace layout {
namespace {

node* lookup(document_impl& doc, std::uint32_t serial) {
    if (serial == document_serial) {
        return doc.document_node;
    }
    auto it = doc.by_serial.find(serial);
    return it == doc.by_serial.end() ? nullptr : it->second;
}

element_node* lookup_element(document_impl& doc, std::uint32_t serial) {
    node* n = lookup(doc, serial);
    return n && !n->is_text() ? static_cast<element_node*>(n) : nullptr;
}

std::optional<std::string_view> value_of(const patch& change) {
    return change.value ? std::optional<std::string_view>(*change.value) : std::nullopt;
}

}  // namespace

bool apply_patch(document& target, const patch& change) {
    document_impl& doc = target.impl();
    if (!doc.track_serials) {
        doc.track_serials = true;
        for_each_in_subtree(*doc.document_node, [&](node& n) {
            doc.by_serial[n.m_serial] = &n;
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
            // Nothing in the tree itself changes: the states they go with come as
            // set_state patches of their own.
            return lookup(doc, change.node) != nullptr;
    }
    return false;
}

}  // namespace layout
