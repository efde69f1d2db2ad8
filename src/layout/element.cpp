#include "layout/element.h"

#include <cstdio>
#include <utility>

namespace htmlayout::dom {
namespace {

// Expands a printf-style selector in full: a long id must not be cut short.
std::string format_selector(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return {};
    }
    std::string out(std::size_t(length) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(std::size_t(length));
    return out;
}

}  // namespace

bool find_first_callback::on_element(HELEMENT he) {
    hfound = he;
    return true;
}

element::element(HELEMENT he) : m_he(he) {
    layout::use(m_he);
}

element::element(const element& other) : m_he(other.m_he) {
    layout::use(m_he);
}

element::element(element&& other) noexcept : m_he(std::exchange(other.m_he, nullptr)) {}

element& element::operator=(const element& other) {
    layout::use(other.m_he);
    layout::unuse(std::exchange(m_he, other.m_he));
    return *this;
}

element& element::operator=(element&& other) noexcept {
    if (this != &other) {
        layout::unuse(std::exchange(m_he, std::exchange(other.m_he, nullptr)));
    }
    return *this;
}

element::~element() {
    layout::unuse(m_he);
}

element element::root() const {
    return layout::root_of(m_he);
}

element element::parent() const {
    return layout::parent(m_he);
}

unsigned element::children_count() const {
    return unsigned(layout::child_count(m_he));
}

element element::child(unsigned index) const {
    return layout::nth_child(m_he, index);
}

unsigned element::index() const {
    return unsigned(layout::index_of(m_he));
}

element element::next_sibling() const {
    return layout::next_sibling(m_he);
}

element element::find_first(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string selector = format_selector(format, args);
    va_end(args);
    return layout::find_first(m_he, selector);
}

void element::select(callback& cb, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string selector = format_selector(format, args);
    va_end(args);
    layout::select_elements(m_he, selector, [&](HELEMENT he) { return cb.on_element(he); });
}

std::optional<std::u16string> element::get_attribute(const char* name) const {
    return layout::get_attribute(m_he, name);
}

std::optional<std::string> element::get_attribute_utf8(const char* name) const {
    return layout::get_attribute_utf8(m_he, name);
}

void element::set_attribute(const char* name, std::u16string_view value) {
    layout::set_attribute(m_he, name, value);
}

std::optional<std::u16string> element::get_style_attribute(const char* name) const {
    return layout::get_style_attribute(m_he, name);
}

void element::set_style_attribute(const char* name, std::u16string_view value) {
    layout::set_style_attribute(m_he, name, value);
}

std::uint32_t element::get_state() const {
    return layout::get_state(m_he);
}

void element::set_state(std::uint32_t bits_to_set, std::uint32_t bits_to_clear, bool update) {
    layout::set_state(m_he, bits_to_set, bits_to_clear, update);
}

std::optional<std::u16string> element::text() const {
    return layout::get_inner_text(m_he);
}

void element::set_text(std::u16string_view text) {
    layout::set_inner_text(m_he, text);
}

void element::set_html(std::string_view utf8, layout::html_place place) {
    layout::set_html(m_he, utf8, place);
}

std::string element::get_html(bool outer) const {
    return layout::get_html(m_he, outer).value_or("");
}

void element::destroy() {
    layout::delete_element(m_he);
    *this = element();
}

void element::detach() {
    layout::detach_element(m_he);
}

void element::update(bool render_now) const {
    layout::update_element(m_he, render_now);
}

void element::scroll_to_view(bool to_top, bool smooth) const {
    layout::scroll_to_view(m_he, to_top, smooth);
}

std::optional<layout::rect> element::get_location(layout::location_origin origin) const {
    return layout::get_location(m_he, origin);
}

void element::post_event(std::uint32_t code, std::uint32_t reason, HELEMENT source) const {
    layout::post_event(m_he, code, source, reason);
}

bool element::send_event(std::uint32_t code, std::uint32_t reason, HELEMENT source) const {
    return layout::send_event(m_he, code, source, reason);
}

void element::set_capture() const {
    layout::set_capture(m_he);
}

void element::set_timer(std::uint32_t milliseconds, std::uint32_t timer_id) const {
    layout::set_timer(m_he, milliseconds, timer_id);
}

}  // namespace htmlayout::dom
