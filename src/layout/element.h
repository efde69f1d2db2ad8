#pragma once
// htmlayout::dom::element: a value holding one element handle with a use
// reference (taken on construction and copy, given back on destruction), and
// the operations the program's code uses, as members. An empty element (no
// handle) answers every call without effect. See dom.h for each operation.

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "layout/dom.h"

namespace htmlayout {

using HELEMENT = layout::handle;

namespace dom {

class element;

// Called for each match of element::select; return true to stop.
class callback {
public:
    virtual ~callback() = default;
    virtual bool on_element(HELEMENT he) = 0;
};

// Keeps the first match and stops.
class find_first_callback : public callback {
public:
    bool on_element(HELEMENT he) override;
    HELEMENT hfound = nullptr;
};

class element {
public:
    element() = default;
    element(HELEMENT he);  // NOLINT: converting, like the handle it wraps
    element(const element& other);
    element(element&& other) noexcept;
    element& operator=(const element& other);
    element& operator=(element&& other) noexcept;
    ~element();

    operator HELEMENT() const { return m_he; }
    HELEMENT get_handle() const { return m_he; }
    bool is_valid() const { return m_he != nullptr; }
    friend bool operator==(const element& a, const element& b) { return a.m_he == b.m_he; }

    // Tree walk.
    element root() const;
    element parent() const;
    unsigned children_count() const;
    element child(unsigned index) const;
    unsigned index() const;
    element next_sibling() const;

    // The first element below this one matching the selector, built like
    // printf from `format` and its arguments; empty when none matches.
    element find_first(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Calls `cb` for each match in document order until it returns true.
    void select(callback& cb, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Attributes: nullopt when absent.
    std::optional<std::u16string> get_attribute(const char* name) const;
    std::optional<std::string> get_attribute_utf8(const char* name) const;
    void set_attribute(const char* name, std::u16string_view value);

    std::optional<std::u16string> get_style_attribute(const char* name) const;
    void set_style_attribute(const char* name, std::u16string_view value);

    std::uint32_t get_state() const;
    bool get_state(std::uint32_t bits) const { return (get_state() & bits) != 0; }
    void set_state(std::uint32_t bits_to_set, std::uint32_t bits_to_clear = 0, bool update = true);

    std::optional<std::u16string> text() const;
    void set_text(std::u16string_view text);
    void set_html(std::string_view utf8, layout::html_place place);
    std::string get_html(bool outer = true) const;

    // Deletes the element from its tree.
    void destroy();
    void detach();
    void update(bool render_now = false) const;
    void scroll_to_view(bool to_top = false, bool smooth = false) const;
    std::optional<layout::rect> get_location(
        layout::location_origin origin = layout::location_origin::root) const;

    void post_event(std::uint32_t code, std::uint32_t reason = 0, HELEMENT source = nullptr) const;
    bool send_event(std::uint32_t code, std::uint32_t reason = 0, HELEMENT source = nullptr) const;

    void set_capture() const;
    void set_timer(std::uint32_t milliseconds, std::uint32_t timer_id = 0) const;

private:
    HELEMENT m_he = nullptr;
};

}  // namespace dom
}  // namespace htmlayout
