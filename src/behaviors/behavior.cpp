#include "behaviors/behavior.h"

#include <optional>
#include <string>

#include "behaviors/registry.h"
#include "controller/controller.h"
#include "model/model.h"

namespace htmlayout {
namespace {

// The head of the list of registered behaviors. A function's static, so that
// behaviors built during static initialisation in any order find it ready.
behavior*& list_head() {
    static behavior* head = nullptr;
    return head;
}

}  // namespace

bool event_handler::element_proc(void* tag, HELEMENT he, std::uint32_t group, void* params) {
    auto* handler = static_cast<event_handler*>(tag);
    if (handler == nullptr || params == nullptr) {
        return false;
    }
    switch (group) {
        case layout::event_group::initialization: {
            const auto& init = *static_cast<const layout::initialization_params*>(params);
            if (init.cmd == layout::initialization_event::detached) {
                handler->detached(he);
            } else if (init.cmd == layout::initialization_event::attached) {
                handler->attached(he);
            }
            return true;
        }
        case layout::event_group::mouse:
            return handler->handle_mouse(he, *static_cast<const layout::mouse_params*>(params));
        case layout::event_group::key:
            return handler->handle_key(he, *static_cast<const layout::key_params*>(params));
        case layout::event_group::focus:
            return handler->handle_focus(he, *static_cast<const layout::focus_params*>(params));
        case layout::event_group::scroll:
            return handler->handle_scroll(he, *static_cast<const layout::scroll_params*>(params));
        case layout::event_group::timer:
            return handler->handle_timer(he, *static_cast<const layout::timer_params*>(params));
        case layout::event_group::size:
            handler->handle_size(he);
            return false;
        case layout::event_group::behavior_event:
            return handler->handle_event(
                he, *static_cast<const layout::behavior_event_params*>(params));
        default:
            // Drawing, data and method calls carry no record in this engine.
            return false;
    }
}

behavior::behavior(std::uint32_t subscription, const char* name)
    : event_handler(subscription), m_next(list_head()), m_name(name) {
    list_head() = this;
}

behavior::~behavior() {
    // Static objects die in reverse order of construction, so this is normally
    // the head; unlink it wherever it is all the same.
    for (behavior** link = &list_head(); *link != nullptr; link = &(*link)->m_next) {
        if (*link == this) {
            *link = m_next;
            break;
        }
    }
}

event_handler* behavior::find(std::string_view name, HELEMENT he) {
    for (behavior* b = list_head(); b != nullptr; b = b->m_next) {
        if (name == b->m_name) {
            return b->handler_for(he);
        }
    }
    return nullptr;
}

}  // namespace htmlayout

namespace hrd {
namespace {

hdcontroller* g_controller = nullptr;
hrdModel* g_model = nullptr;

}  // namespace

void set_behavior_core(hdcontroller* controller, hrdModel* model) {
    g_controller = controller;
    g_model = model;
}

hdcontroller& behavior_controller() {
    return g_controller != nullptr ? *g_controller : hdcontroller::instance();
}

hrdModel& behavior_model() {
    return g_model != nullptr ? *g_model : hrdModel::instance();
}

behavior_core_scope::behavior_core_scope(hdcontroller& controller, hrdModel& model)
    : m_controller(g_controller), m_model(g_model) {
    set_behavior_core(&controller, &model);
}

behavior_core_scope::~behavior_core_scope() {
    set_behavior_core(m_controller, m_model);
}

namespace {

bool is_ancestor(HELEMENT ancestor, HELEMENT he) {
    for (HELEMENT e = layout::parent(he); e != nullptr; e = layout::parent(e)) {
        if (e == ancestor) {
            return true;
        }
    }
    return false;
}

// Whether an element between the target and `he` takes part in drag and drop:
// its own behavior has told the drag manager already, and a second report from
// an enclosing block (a quote around its tag) would take the drag over.
bool inner_participant(HELEMENT he, HELEMENT target) {
    for (HELEMENT e = target; e != nullptr && e != he; e = layout::parent(e)) {
        if (participant_key(e)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool behavior::drag_hook(HELEMENT he, HELEMENT target, std::uint32_t event_type,
                         htmlayout::point pt, std::uint32_t buttons, std::uint32_t keys) {
    if ((event_type & layout::sinking) != 0) {
        return false;  // the drag manager reads the bubbling copy only
    }
    auto key = participant_key(he);
    if (!key) {
        return false;
    }
    hdcontroller& controller = behavior_controller();
    DragMgr& drag = controller.drag_manager();
    if (event_type == layout::mouse_event::up && drag.active()) {
        // The drag manager says which block the drop belongs to; it may enclose the
        // elements under the pointer, and only that block reports the release.
        HELEMENT accepting = drag.drop_target(target);
        if (accepting != nullptr && accepting != he && is_ancestor(accepting, he)) {
            return false;
        }
        if (accepting != he && inner_participant(he, target)) {
            return false;
        }
    } else if (inner_participant(he, target)) {
        return false;
    }
    vcaction action;
    action.what = mouse_record{target, event_type, pt.x, pt.y, buttons, keys};
    action.element = he;
    action.cls = std::move(key->cls);
    action.id = std::move(key->id);
    return controller.send_safely(action);
}

behavior_binder::behavior_binder() {
    register_program_behaviors();
}

void behavior_binder::attach_behavior(layout::handle element, std::string_view name) {
    attach(element, name);
}

bool behavior_binder::attach(layout::handle element, std::string_view name) {
    htmlayout::event_handler* handler = htmlayout::behavior::find(name, element);
    if (handler == nullptr) {
        return false;
    }
    return layout::attach_event_handler(element, &htmlayout::event_handler::element_proc, handler,
                                        handler->subscription());
}

void behavior_binder::create_control(layout::handle element) {
    if (!layout::get_attribute(element, "message")) {
        return;
    }
    htmlayout::event_handler* handler = htmlayout::behavior::find("sms", element);
    if (handler != nullptr) {
        layout::attach_event_handler(element, &htmlayout::event_handler::element_proc, handler,
                                     layout::event_group::all);
    }
}

}  // namespace hrd
