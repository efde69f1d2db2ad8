// The document's keys ("html", "body"), links, "message" buttons, the pane
// splitter and the export command.

#include <algorithm>
#include <string>

#include "behaviors/dom_util.h"
#include "behaviors/grid.h"
#include "behaviors/help.h"
#include "behaviors/program_behaviors.h"
#include "controller/controller.h"
#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "model/errors.h"
#include "model/model.h"
#include "platform/services.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd {
namespace {

namespace be = layout::behavior_event;

void app_error(const std::string& text) {
    if (fml::haslog("app")) {
        fml::getlog("app") << "Error: " << text << std::endl;
    }
}

bool starts_with_no_case(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c - u'A' + u'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The root's attribute naming the link the last press was on.
constexpr const char* pressed_link = "pressed_link";

}  // namespace

std::u16string help_path() {
    return tinyfilesystem::join_path(app_dirs::get(app_dirs::HoardlyDir), help_file_name);
}

bool is_openable_address(std::u16string_view link) {
    // Web and mail addresses only: a link must never start a program or open a
    // local file the document happens to name.
    const bool blank =
        std::any_of(link.begin(), link.end(), [](char16_t c) { return c <= u' ' || c == 0x7F; });
    if (blank) {
        return false;
    }
    for (std::u16string_view scheme : {u"http://", u"https://"}) {
        if (starts_with_no_case(link, scheme) && link.size() > scheme.size()) {
            return true;
        }
    }
    return starts_with_no_case(link, u"mailto:") && link.size() > 7;
}

bool open_help() {
    desktop_opener* opener = services().opener;
    if (opener == nullptr) {
        return false;
    }
    return opener->open_file(help_path());
}

// ---- "html" and "body" -----------------------------------------------------

class behavior_html : public behavior {
public:
    // Mouse as well: a release that nothing below took ends any drag, so a
    // drag dropped outside every target leaves nothing behind.
    behavior_html() : behavior(layout::event_group::key | layout::event_group::mouse, "html") {}

    bool on_key(HELEMENT he, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                std::uint32_t keys) override {
        (void)he, (void)target;
        if (event_type != layout::key_event::down || (keys & layout::key_state::alt)) {
            return false;
        }
        switch (key) {
            case layout::key_code::escape: {
                DragMgr& drag = behavior_controller().drag_manager();
                if (drag.active()) {
                    drag.reset();  // Escape first calls off a drag
                    return true;
                }
                if (main_window* window = services().window) {
                    window->hide();
                }
                return true;
            }
            case htmlayout::vk::f1:
                open_help();
                return true;
            case htmlayout::vk::f:
                if ((keys & layout::key_state::control) == 0) {
                    return false;
                }
                // Ctrl+F: to the search field, its text selected so typing replaces it.
                if (HELEMENT field = layout::find_first(layout::root_of(he), "#find-text")) {
                    if (layout::get_inner_text(field).value_or(u"").empty()) {
                        layout::set_attribute(field, "all-selected", std::nullopt);
                    } else {
                        layout::set_attribute(field, "all-selected", u"");
                    }
                    layout::set_state(field, layout::state::focus, 0, true);
                }
                return true;
            default:
                return false;
        }
    }

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        (void)target, (void)pt, (void)buttons, (void)keys;
        if (event_type == (layout::mouse_event::down | layout::sinking)) {
            layout::set_attribute_utf8(he, pressed_link, std::nullopt);
        }
        if (event_type == layout::mouse_event::up) {
            DragMgr& drag = behavior_controller().drag_manager();
            if (drag.dragged() != nullptr) {
                drag.reset();
            }
        }
        return false;
    }
};

class behavior_body : public behavior {
public:
    behavior_body() : behavior(layout::event_group::key, "body") {}
};

// ---- "link" ----------------------------------------------------------------

class behavior_link : public behavior {
public:
    behavior_link() : behavior(layout::event_group::mouse, "link") {}

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        if (drag_hook(he, target, event_type, pt, buttons, keys)) {
            return true;
        }
        if (buttons != layout::mouse_button::main) {
            return false;
        }
        // Only a release that follows a press on this same link is a click on
        // it. The root remembers which link the last press was on; the
        // document's behavior forgets it at every press.
        HELEMENT root = layout::root_of(he);
        const std::string serial = std::to_string(layout::serial_of(he));
        if (event_type == layout::mouse_event::down) {
            layout::set_attribute_utf8(root, pressed_link, serial);
            return false;
        }
        if (event_type != layout::mouse_event::up ||
            layout::get_attribute_utf8(root, pressed_link) != serial) {
            return false;
        }
        layout::set_attribute_utf8(root, pressed_link, std::nullopt);
        const auto link = layout::get_attribute(he, "link");
        if (!link) {
            return false;
        }
        open(*link);
        return true;
    }

private:
    static void open(const std::u16string& link) {
        desktop_opener* opener = services().opener;
        if (opener == nullptr) {
            return;
        }
        if (link == u"help" || link == help_file_name) {
            opener->open_file(help_path());
        } else if (is_openable_address(link)) {
            opener->open_url(link);
        } else {
            app_error("link: not a web or mail address: " + fml::wchar2utf8(link));
        }
    }
};

// ---- "findtext" ------------------------------------------------------------

// The search field: what is typed narrows the quote list at once (the search runs
// apart, so typing never waits). Escape empties it, and hides the window only
// when it is empty already; Enter and Down go on to the list.
class behavior_findtext : public behavior {
public:
    behavior_findtext()
        : behavior(layout::event_group::key | layout::event_group::behavior_event, "findtext") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (code != be::edit_value_changed || source != he) {
            return false;
        }
        search_for(layout::get_inner_text(he).value_or(u""));
        return true;
    }

    bool on_key(HELEMENT he, HELEMENT target, std::uint32_t event_type, std::uint32_t key,
                std::uint32_t keys) override {
        (void)target;
        if (event_type != layout::key_event::down || (keys & layout::key_state::alt)) {
            return false;
        }
        switch (key) {
            case layout::key_code::escape:
                if (layout::get_inner_text(he).value_or(u"").empty()) {
                    return false;
                }
                layout::set_attribute(he, "all-selected", std::nullopt);
                layout::set_inner_text(he, u"");
                search_for(u"");
                return true;
            case layout::key_code::enter:
            case htmlayout::vk::down:
                if (HELEMENT list = layout::find_first(layout::root_of(he), "#thequotelist")) {
                    layout::set_state(list, layout::state::focus, 0, true);
                }
                return true;
            default:
                return false;  // typing goes to the engine's editor
        }
    }

private:
    static void search_for(const std::u16string& text) {
        behavior_model().handle_safely(model_events::set_search_text{text});
    }
};

// ---- "sms" -----------------------------------------------------------------

class behavior_sms : public behavior {
public:
    behavior_sms() : behavior(layout::event_group::behavior_event, "sms") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (code != be::button_press || source != he) {
            return false;
        }
        const auto message = layout::get_attribute(he, "message");
        if (!message) {
            app_error("wrong_sms_dom_element: " +
                      layout::get_attribute_utf8(he, "id").value_or(""));
            return true;
        }
        // A button carries no data, so it may only name the actions that need
        // none; anything else would run with nothing (an empty quote, say).
        static constexpr std::u16string_view allowed[] = {u"clear_search_tags", u"clear_search_text",
                                                          u"set_search_mode_and",
                                                          u"set_search_mode_or"};
        if (std::find(std::begin(allowed), std::end(allowed), *message) == std::end(allowed)) {
            app_error("sms: a button cannot send \"" + fml::wchar2utf8(*message) + "\"");
            return true;
        }
        behavior_controller().execute_safely(named_action{*message, {}});
        return true;
    }
};

// ---- "hrdsplitter" ---------------------------------------------------------
// Attributes of the splitter while it is pulled: "used", "start" (pointer
// coordinate at the press) and "start_size" (the sized pane's extent then).

class hrd_splitter : public htmlayout::behavior {
public:
    hrd_splitter() : htmlayout::behavior(layout::event_group::mouse, "hrdsplitter") {}

    bool on_mouse(HELEMENT he, HELEMENT target, std::uint32_t event_type, htmlayout::point pt,
                  std::uint32_t buttons, std::uint32_t keys) override {
        (void)target, (void)keys;
        using namespace layout::mouse_event;
        if (event_type == up) {
            const bool was_used = dom_util::has_attribute(he, "used");
            stop(he);
            return was_used;
        }
        if (buttons != layout::mouse_button::main || (event_type != down && event_type != move)) {
            return false;
        }
        HELEMENT parent = layout::parent(he);
        HELEMENT before = layout::previous_sibling(he);
        HELEMENT after = layout::next_sibling(he);
        if (parent == nullptr || before == nullptr || after == nullptr) {
            return false;
        }
        const bool across =
            layout::get_style_attribute(parent, "flow").value_or(u"") == u"horizontal";
        const int pointer = across ? pt.x : pt.y;
        const int parent_extent = extent(parent, across);
        if (event_type == down) {
            // The smaller pane gets a fixed size and the other takes the rest,
            // decided once so the pane does not change in mid-pull.
            const bool size_before = extent(before, across) < parent_extent / 2;
            dom_util::set_flag(he, "used");
            if (size_before) {
                dom_util::set_flag(he, "sizes_before");
            } else {
                dom_util::clear_flag(he, "sizes_before");
            }
            layout::set_attribute_utf8(he, "start", std::to_string(pointer));
            layout::set_attribute_utf8(
                he, "start_size", std::to_string(extent(size_before ? before : after, across)));
            layout::set_capture(he);
            return true;
        }
        if (!dom_util::has_attribute(he, "used")) {
            return false;
        }
        const bool size_before = dom_util::has_attribute(he, "sizes_before");
        const int start = read_int(he, "start");
        const int start_size = read_int(he, "start_size");
        const int delta = pointer - start;
        const int room = std::max(0, parent_extent - extent(he, across));
        const int wanted = size_before ? start_size + delta : start_size - delta;
        const int size = std::clamp(wanted, 0, room);
        const char* property = across ? "width" : "height";
        const std::u16string fixed = fml::utf82wchar(std::to_string(size) + "px");
        layout::set_style_attribute(size_before ? before : after, property, fixed);
        layout::set_style_attribute(size_before ? after : before, property, u"100%");
        layout::update_element(parent, true);
        return true;
    }

private:
    static int extent(HELEMENT he, bool across) {
        const auto box = layout::get_location(he, layout::location_origin::root);
        return box ? (across ? box->width() : box->height()) : 0;
    }
    static int read_int(HELEMENT he, const char* name) {
        const std::string value = layout::get_attribute_utf8(he, name).value_or("0");
        try {
            return std::stoi(value);
        } catch (const std::exception&) {
            return 0;
        }
    }
    static void stop(HELEMENT he) {
        dom_util::clear_flag(he, "used");
        dom_util::clear_flag(he, "start");
        dom_util::clear_flag(he, "start_size");
        dom_util::clear_flag(he, "sizes_before");
        layout::release_capture(he);
    }
};

// ---- "export" --------------------------------------------------------------

class behavior_export : public behavior {
public:
    // A click of the button (mouse, Enter or Space) asks for the file.
    behavior_export()
        : behavior(layout::event_group::mouse | layout::event_group::behavior_event, "export") {}

    bool on_event(HELEMENT he, HELEMENT source, std::uint32_t code, std::uint32_t reason) override {
        (void)reason;
        if (code != be::button_click || source != he) {
            return false;
        }
        run_export(he);
        return true;
    }

private:
    static void run_export(HELEMENT he) {
        save_dialog* dialog = services().dialog;
        if (dialog == nullptr) {
            return;
        }
        const std::optional<std::u16string> path = dialog->ask_export_path();
        if (!path || path->empty()) {
            return;  // cancelled
        }
        std::u16string reason;
        try {
            behavior_controller().execute(named_action{u"export_data", *path});
            show_status(he, u"Exported to " + *path);
            return;
        } catch (const export_error& e) {
            // The system refused the file: no fault of the program's, so logged as
            // what happened rather than as an error.
            if (fml::haslog("app")) {
                fml::getlog("app") << "Export refused: " << e.what() << std::endl;
            }
            reason = fml::utf82wchar(e.reason());
        } catch (const fml::exception& e) {
            app_error(e.what());
            reason = fml::utf82wchar(e.what());
        }
        // The file is left as it was; the user is told which file and why, where
        // they are looking: a message box over the window.
        const std::u16string message = u"Could not save " + *path + u": " + reason;
        show_status(he, message);
        if (fml::haslog("app")) {
            fml::getlog("app") << "Told the user: " << fml::wchar2utf8(message) << std::endl;
        }
        dialog->tell_failure(message);
    }

    static void show_status(HELEMENT he, const std::u16string& text) {
        HELEMENT bar = layout::find_first(layout::root_of(he), "#statusbar");
        if (bar != nullptr) {
            layout::set_inner_text(bar, text);
            layout::update_element(bar, true);
        }
    }
};

namespace {
behavior_html html_instance;
behavior_body body_instance;
behavior_link link_instance;
behavior_sms sms_instance;
behavior_findtext findtext_instance;
hrd_splitter splitter_instance;
behavior_export export_instance;
}  // namespace

void link_small_behaviors() {}

}  // namespace hrd
