#include "controller/dragmgr/drag_mgr.h"

#include <tinyxml2.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "fml/log.h"
#include "fml/text.h"
#include "layout/dom.h"

namespace hrd {
namespace {

// An entry without id stands for every element of its class, and so does an element
// without id for every entry of its class.
bool keys_match(const element_key& a, const element_key& b) {
    return a.cls == b.cls && (a.id.empty() || b.id.empty() || a.id == b.id);
}

std::string read_whole(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        throw fopen_drag_mgr_xml_error("fopen_drag_mgr_xml_error " + path);
    }
    std::string content;
    char block[4096];
    while (const size_t got = std::fread(block, 1, sizeof block, file.get())) {
        content.append(block, got);
    }
    if (std::ferror(file.get())) {
        throw fopen_drag_mgr_xml_error("fopen_drag_mgr_xml_error " + path);
    }
    return content;
}

}  // namespace

std::optional<element_key> participant_key(layout::handle element) {
    auto cls = layout::get_attribute(element, "class");
    auto id = layout::get_attribute(element, "id");
    if (!cls || !id) {
        return std::nullopt;
    }
    return element_key{std::move(*cls), std::move(*id)};
}

DragMgr::DragMgr(const std::u16string& path,
                 const std::function<bool(const std::u16string&)>& known_action) {
    fml::app_line("Initializing DragMgr");
    const std::string file = fml::wchar2utf8(path);
    const std::string content = read_whole(file);
    auto refuse = [&file](const std::string& detail) {
        return read_drag_mgr_xml_error("read_drag_mgr_xml_error " + file + ": " + detail);
    };
    tinyxml2::XMLDocument xml;
    if (xml.Parse(content.data(), content.size()) != tinyxml2::XML_SUCCESS) {
        throw refuse(xml.ErrorStr() ? xml.ErrorStr() : "not well-formed XML");
    }
    const tinyxml2::XMLElement* table = xml.RootElement();
    if (table == nullptr) {
        throw refuse("no table element");
    }
    auto read_key = [&](const tinyxml2::XMLElement* e, const char* role, int number) {
        if (e == nullptr) {
            throw refuse("interaction " + std::to_string(number) + " has no " + role);
        }
        const char* cls = e->Attribute("class");
        if (cls == nullptr || *cls == '\0') {
            throw refuse("the " + std::string(role) + " of interaction " + std::to_string(number) +
                         " has no class");
        }
        const char* id = e->Attribute("id");
        return element_key{fml::utf82wchar(cls), fml::utf82wchar(id ? id : "")};
    };
    int number = 0;
    for (const tinyxml2::XMLElement* interaction = table->FirstChildElement();
         interaction != nullptr; interaction = interaction->NextSiblingElement()) {
        ++number;
        const tinyxml2::XMLElement* source_element = interaction->FirstChildElement();
        const element_key source = read_key(source_element, "source", number);
        const tinyxml2::XMLElement* target_element = source_element->NextSiblingElement();
        const element_key target = read_key(target_element, "target", number);
        const tinyxml2::XMLElement* action_element = target_element->NextSiblingElement();
        const char* action_text = action_element ? action_element->GetText() : nullptr;
        if (action_text == nullptr || *action_text == '\0') {
            throw refuse("interaction " + std::to_string(number) + " has no action");
        }
        if (action_element->NextSiblingElement() != nullptr) {
            throw refuse("interaction " + std::to_string(number) + " has more than three parts");
        }
        const std::u16string action = fml::utf82wchar(action_text);
        if (!known_action(action)) {
            throw refuse("interaction " + std::to_string(number) + " names an unknown action \"" +
                         action_text + "\"");
        }
        ++m_loaded;
        source_entry* entry = nullptr;
        for (auto& existing : m_sources) {
            if (keys_match(existing.key, source)) {
                entry = &existing;
                break;
            }
        }
        if (entry == nullptr) {
            entry = &m_sources.emplace_back(source_entry{source, {}});
        }
        bool duplicate = false;
        for (const auto& existing : entry->targets) {
            duplicate = duplicate || keys_match(existing.key, target);
        }
        if (!duplicate) {  // the earlier entry stays
            entry->targets.push_back(target_entry{target, action});
        }
    }
    fml::app_line(std::to_string(m_loaded) + " interactions loaded");
    fml::app_line("Initialized DragMgr.");
}

DragMgr::~DragMgr() {
    reset();
}

bool DragMgr::is_source(const element_key& key) const {
    for (const auto& source : m_sources) {
        if (keys_match(source.key, key)) {
            return true;
        }
    }
    return false;
}

std::u16string DragMgr::find_action(const element_key& source, const element_key& target) const {
    for (const auto& entry : m_sources) {
        if (!keys_match(entry.key, source)) {
            continue;
        }
        for (const auto& t : entry.targets) {
            if (keys_match(t.key, target)) {
                return t.action;
            }
        }
    }
    return {};
}

bool DragMgr::ready(layout::handle element, int x, int y) {
    reset();
    const auto key = participant_key(element);
    if (!key || !is_source(*key)) {
        return false;
    }
    m_dragged = element;
    m_start_x = x;
    m_start_y = y;
    return true;
}

bool DragMgr::moved(int x, int y) const {
    return m_dragged.is_valid() && (std::abs(x - m_start_x) > 3 || std::abs(y - m_start_y) > 3);
}

void DragMgr::start() {
    if (!m_dragged.is_valid()) {
        return;
    }
    m_active = true;
    const bool quote =
        layout::get_attribute(m_dragged, "class") == std::optional<std::u16string>(u"quote");
    show_cursor(quote ? "dragquote.cur" : "dragtag.cur", quote ? u"grabbing" : u"copy");
}

// The cursor is shown by the document's body: an attribute the style sheet turns into
// a pointer, and the pointer itself as a style value for the renderer.
void DragMgr::show_cursor(const char* name, const char16_t* style) {
    hide_cursor();
    layout::handle root = layout::root_of(m_dragged);
    layout::handle body =
        layout::element_type(root) == "body" ? root : layout::find_first(root, "body");
    if (body == nullptr) {
        return;
    }
    m_cursor_body = body;
    layout::set_attribute_utf8(body, "cursor", name);
    layout::set_style_attribute(body, "cursor", style);
}

void DragMgr::hide_cursor() {
    if (m_cursor_body.is_valid()) {
        layout::set_attribute_utf8(m_cursor_body, "cursor", std::nullopt);
        layout::set_style_attribute(m_cursor_body, "cursor", std::nullopt);
        m_cursor_body = {};
    }
}

void DragMgr::reset() {
    hide_cursor();
    m_active = false;
    m_dragged = {};
}

std::u16string DragMgr::action_onto(layout::handle target) const {
    const auto source = participant_key(m_dragged);
    const auto key = participant_key(target);
    if (!source || !key) {
        return {};
    }
    return find_action(*source, *key);
}

layout::handle DragMgr::drop_target(layout::handle under) const {
    for (layout::handle e = under; e != nullptr; e = layout::parent(e)) {
        if (!action_onto(e).empty()) {
            return e;
        }
    }
    return nullptr;
}

bool DragMgr::drop(layout::handle target, const drop_action& run) {
    struct end_drag {
        DragMgr& manager;
        ~end_drag() { manager.reset(); }
    } ending{*this};
    // An element removed while it was dragged (its tag deleted meanwhile) is gone.
    if (!m_active || layout::parent(m_dragged) == nullptr) {
        return false;
    }
    const std::u16string action = action_onto(target);
    if (action.empty()) {
        return false;
    }
    // The action may remove what it moves: the dragged element and the target stay
    // valid until it returns.
    const htmlayout::dom::element held_target(target);
    const htmlayout::dom::element held_dragged(m_dragged);
    run(action, held_dragged, target);
    return true;
}

}  // namespace hrd
