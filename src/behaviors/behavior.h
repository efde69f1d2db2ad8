#pragma once
// Behaviors: event handlers the document binds to its elements by name. Each
// behavior is one static object shared by every element carrying its name, so it
// keeps nothing per element in itself: what it must remember lives in the
// element's attributes and states.
//
// The engine asks its host to attach a behavior when an element joins the
// document; behavior_binder is that host side. The desktop shell forwards its
// document host's attach_behavior and create_control to it.

#include <cstdint>
#include <string_view>

#include "layout/document.h"
#include "layout/element.h"
#include "layout/types.h"

namespace hrd {
class hdcontroller;
class hrdModel;
}  // namespace hrd

namespace htmlayout {

using layout::point;

// An event handler: its subscription is the set of event groups it hears.
class event_handler {
public:
    explicit event_handler(std::uint32_t subscription) : m_subscription(subscription) {}
    virtual ~event_handler() = default;
    event_handler(const event_handler&) = delete;
    event_handler& operator=(const event_handler&) = delete;

    std::uint32_t subscription() const { return m_subscription; }

    // In the order the dispatcher calls them.
    virtual void detached(HELEMENT he) { (void)he; }
    virtual void attached(HELEMENT he) { (void)he; }
    // The handler that serves `he`; this one unless a behavior picks per element.
    virtual event_handler* handler_for(HELEMENT he) {
        (void)he;
        return this;
    }

    virtual bool handle_mouse(HELEMENT he, const layout::mouse_params& p) {
        // Positions are the document's: a press and a later move on other
        // elements (a drag, a splitter pulled past its edge) compare directly.
        return on_mouse(he, p.target, p.cmd, p.pos_document, p.button_state, p.alt_state);
    }
    virtual bool handle_key(HELEMENT he, const layout::key_params& p) {
        return on_key(he, p.target, p.cmd, p.key_code, p.alt_state);
    }
    virtual bool handle_focus(HELEMENT he, const layout::focus_params& p) {
        return on_focus(he, p.target, p.cmd);
    }
    virtual bool handle_timer(HELEMENT he, const layout::timer_params& p) {
        (void)p;
        return on_timer(he);
    }
    virtual void handle_size(HELEMENT he) { on_size(he); }
    virtual bool handle_scroll(HELEMENT he, const layout::scroll_params& p) {
        return on_scroll(he, p.target, p.cmd, p.pos, p.vertical);
    }
    virtual bool handle_event(HELEMENT he, const layout::behavior_event_params& p) {
        return on_event(he, p.source, p.cmd, p.reason);
    }

    virtual bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, point pt,
                          std::uint32_t buttons, std::uint32_t keys) {
        (void)he, (void)target, (void)event_type, (void)pt, (void)buttons, (void)keys;
        return false;
    }
    virtual bool on_key(HELEMENT he, HELEMENT target, std::uint32_t event_type,
                        std::uint32_t key_code, std::uint32_t keys) {
        (void)he, (void)target, (void)event_type, (void)key_code, (void)keys;
        return false;
    }
    virtual bool on_focus(HELEMENT he, HELEMENT target, std::uint32_t event_type) {
        (void)he, (void)target, (void)event_type;
        return false;
    }
    virtual bool on_timer(HELEMENT he) {
        (void)he;
        return false;
    }
    virtual void on_size(HELEMENT he) { (void)he; }
    virtual bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) {
        (void)he, (void)source, (void)code, (void)reason;
        return false;
    }
    virtual bool on_scroll(HELEMENT he, HELEMENT target, std::uint32_t cmd, int pos,
                           bool vertical) {
        (void)he, (void)target, (void)cmd, (void)pos, (void)vertical;
        return false;
    }

    // The element procedure the engine calls for every handler bound here; `tag`
    // is the event_handler.
    static bool element_proc(void* tag, HELEMENT he, std::uint32_t group, void* params);

private:
    std::uint32_t m_subscription;
};

// A handler registered under a name. Instances are static objects that link
// themselves into one process-wide list as they are built.
class behavior : public event_handler {
public:
    behavior(std::uint32_t subscription, const char* name);
    ~behavior() override;

    const char* name() const { return m_name; }

    // The handler registered exactly (case-sensitively) as `name`, asked for the
    // element; nullptr when no behavior has that name.
    static event_handler* find(std::string_view name, HELEMENT he);

private:
    behavior* m_next = nullptr;
    const char* m_name;
};

}  // namespace htmlayout

namespace hrd {

using htmlayout::HELEMENT;

// The controller and model the behaviors talk to. The shell sets the
// process-wide ones at start-up; tests set their own. Unset, the singletons
// are used.
void set_behavior_core(hdcontroller* controller, hrdModel* model);
hdcontroller& behavior_controller();
hrdModel& behavior_model();

// Sets the core for a scope and puts the previous one back.
class behavior_core_scope {
public:
    behavior_core_scope(hdcontroller& controller, hrdModel& model);
    ~behavior_core_scope();
    behavior_core_scope(const behavior_core_scope&) = delete;
    behavior_core_scope& operator=(const behavior_core_scope&) = delete;

private:
    hdcontroller* m_controller;
    hrdModel* m_model;
};

// The program's base behavior: every mouse event of an element that has both a
// class and an id goes to the drag manager first.
class behavior : public htmlayout::behavior {
public:
    using htmlayout::behavior::behavior;

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        return drag_hook(he, target, event_type, pt, buttons, keys);
    }

protected:
    // True when drag and drop took the event; the behavior then does nothing more.
    static bool drag_hook(HELEMENT he, HELEMENT target, std::uint32_t event_type,
                          htmlayout::point pt, std::uint32_t buttons, std::uint32_t keys);
};

// The document host's side of behavior binding. The shell's layout::host
// forwards attach_behavior and create_control here (or uses this host itself).
class behavior_binder : public layout::host {
public:
    behavior_binder();
    // Binds the behavior registered as `name`, if any; unknown names bind nothing.
    void attach_behavior(layout::handle element, std::string_view name) override;
    // An element with a "message" attribute gets "sms", with every group.
    void create_control(layout::handle element) override;

    // The same as attach_behavior; true when a behavior was bound.
    static bool attach(layout::handle element, std::string_view name);
};

}  // namespace hrd
