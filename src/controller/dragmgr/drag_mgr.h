#pragma once
// Drag and drop inside the window. What may be dragged where, and which named action
// a drop runs, is read at start-up from "DragMgr.xml" beside the program; the
// controller feeds the manager the mouse events of the elements that take part.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fml/exception.h"
#include "layout/element.h"
#include "layout/types.h"

namespace hrd {

FML_DECLARE_EXCEPTION(fopen_drag_mgr_xml_error, fml::exception);
FML_DECLARE_EXCEPTION(read_drag_mgr_xml_error, fml::exception);

// An element as the interaction table sees it: its class and id ("" for none).
struct element_key {
    std::u16string cls;
    std::u16string id;
};

// An element takes part in drag and drop when it has both a class and an id: its
// key then, nothing otherwise.
std::optional<element_key> participant_key(layout::handle element);

class DragMgr {
public:
    // Runs a drop's action for the dragged element (with the rows selected beside
    // it, when it stands in a selected row of a list) dropped onto the target.
    using drop_action = std::function<void(const std::u16string& action, layout::handle dragged,
                                           layout::handle target)>;

    // Reads the table at `path`; every entry and action name is checked against
    // `known_action`. Raises fopen_drag_mgr_xml_error (the path) when the file
    // cannot be opened and read_drag_mgr_xml_error (path and detail) when it is not
    // a valid table. Logs "Initializing DragMgr", the count and "Initialized DragMgr.".
    DragMgr(const std::u16string& path,
            const std::function<bool(const std::u16string&)>& known_action);
    ~DragMgr();
    DragMgr(const DragMgr&) = delete;
    DragMgr& operator=(const DragMgr&) = delete;

    // A main-button press on `element` at `x`, `y`: it becomes the dragged element when
    // it is a drag source. Any drag in progress is forgotten first.
    bool ready(layout::handle element, int x, int y);
    // Whether the pointer left the 3-pixel square around the press.
    bool moved(int x, int y) const;
    // Starts the drag of the ready element: sets the drag cursor.
    void start();
    // Where a release over `under` drops the dragged element: the nearest element from
    // `under` up that takes it (elements that take no part are passed over), or
    // nullptr when none does. The one answer to "what does this drop do": the element
    // that reports the release asks it, and drop() runs what it named.
    layout::handle drop_target(layout::handle under) const;
    // The release reported by `target`, the element drop_target() named: runs the
    // action for the dragged element dropped on it, when it takes it. Whatever happens,
    // the drag ends. True when an action ran.
    bool drop(layout::handle target, const drop_action& run);
    // Forgets the press or the drag without running anything.
    void reset();

    bool active() const { return m_active; }
    layout::handle dragged() const { return m_dragged; }
    // The action for a source and a target, or "" when they do not interact.
    std::u16string find_action(const element_key& source, const element_key& target) const;
    std::size_t interaction_count() const { return m_loaded; }

private:
    struct target_entry {
        element_key key;
        std::u16string action;
    };
    struct source_entry {
        element_key key;
        std::vector<target_entry> targets;
    };

    bool is_source(const element_key& key) const;
    // The action for dropping the dragged element on `target`, or "" when it does not
    // take it.
    std::u16string action_onto(layout::handle target) const;
    void show_cursor(const char* name, const char16_t* style);
    void hide_cursor();

    std::vector<source_entry> m_sources;
    std::size_t m_loaded = 0;
    htmlayout::dom::element m_dragged;
    htmlayout::dom::element m_cursor_body;  // the body showing the drag cursor
    bool m_active = false;
    int m_start_x = 0;
    int m_start_y = 0;
};

}  // namespace hrd
