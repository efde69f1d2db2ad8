#pragma once
// A small JSON reader for tests that check what the program writes as JSON (the
// page mirror's records), so they need no GUI toolkit. Strict: anything that is
// not well-formed JSON raises std::runtime_error. Strings come back as UTF-8,
// with \u escapes (surrogate pairs included) decoded.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fml/text.h"

namespace test {

class json {
public:
    enum class kind { null, boolean, number, string, array, object };

    static json parse(std::string_view text) {
        reader r{text};
        json value = r.value();
        r.skip_space();
        if (r.at != text.size()) {
            r.fail("text after the value");
        }
        return value;
    }

    kind type() const { return m_kind; }
    bool is_null() const { return m_kind == kind::null; }
    int to_int() const { return m_kind == kind::number ? static_cast<int>(m_number) : 0; }
    const std::string& to_string() const { return m_text; }
    const std::vector<json>& items() const { return m_items; }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // The member `key`, or a null value when there is none.
    const json& operator[](std::string_view key) const {
        static const json none;
        const json* found = find(key);
        return found ? *found : none;
    }

private:
    const json* find(std::string_view key) const {
        for (const auto& [name, value] : m_members) {
            if (name == key) {
                return &value;
            }
        }
        return nullptr;
    }

    struct reader {
        std::string_view text;
        std::size_t at = 0;

        [[noreturn]] void fail(const char* what) const {
            throw std::runtime_error(std::string("bad JSON at ") + std::to_string(at) + ": " + what);
        }
        void skip_space() {
            while (at < text.size() &&
                   (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) {
                ++at;
            }
        }
        bool take(char c) {
            skip_space();
            if (at < text.size() && text[at] == c) {
                ++at;
                return true;
            }
            return false;
        }
        void expect(char c) {
            if (!take(c)) {
                fail("unexpected character");
            }
        }
        bool take_word(std::string_view word) {
            if (text.substr(at, word.size()) == word) {
                at += word.size();
                return true;
            }
            return false;
        }
        json value() {
            skip_space();
            if (at >= text.size()) {
                fail("missing value");
            }
            json out;
            const char c = text[at];
            if (c == '{') {
                ++at;
                out.m_kind = kind::object;
                if (!take('}')) {
                    do {
                        skip_space();
                        std::string name = string();
                        expect(':');
                        out.m_members.emplace_back(std::move(name), value());
                    } while (take(','));
                    expect('}');
                }
            } else if (c == '[') {
                ++at;
                out.m_kind = kind::array;
                if (!take(']')) {
                    do {
                        out.m_items.push_back(value());
                    } while (take(','));
                    expect(']');
                }
            } else if (c == '"') {
                out.m_kind = kind::string;
                out.m_text = string();
            } else if (take_word("null")) {
                out.m_kind = kind::null;
            } else if (take_word("true")) {
                out.m_kind = kind::boolean;
                out.m_number = 1;
            } else if (take_word("false")) {
                out.m_kind = kind::boolean;
            } else {
                out.m_kind = kind::number;
                const std::size_t start = at;
                while (at < text.size() && (std::string_view("+-.eE0123456789").find(text[at]) !=
                                            std::string_view::npos)) {
                    ++at;
                }
                if (at == start) {
                    fail("not a value");
                }
                out.m_number = std::stod(std::string(text.substr(start, at - start)));
            }
            return out;
        }
        unsigned hex4() {
            if (at + 4 > text.size()) {
                fail("short \\u escape");
            }
            unsigned code = 0;
            for (int i = 0; i < 4; ++i) {
                const char h = text[at++];
                code <<= 4;
                if (h >= '0' && h <= '9') {
                    code |= unsigned(h - '0');
                } else if (h >= 'a' && h <= 'f') {
                    code |= unsigned(h - 'a' + 10);
                } else if (h >= 'A' && h <= 'F') {
                    code |= unsigned(h - 'A' + 10);
                } else {
                    fail("bad \\u escape");
                }
            }
            return code;
        }
        std::string string() {
            if (at >= text.size() || text[at] != '"') {
                fail("expected a string");
            }
            ++at;
            std::string out;
            for (;;) {
                if (at >= text.size()) {
                    fail("unterminated string");
                }
                const char c = text[at++];
                if (c == '"') {
                    return out;
                }
                if (static_cast<unsigned char>(c) < 0x20) {
                    fail("control character in a string");
                }
                if (c != '\\') {
                    out += c;
                    continue;
                }
                if (at >= text.size()) {
                    fail("unterminated escape");
                }
                switch (const char e = text[at++]) {
                    case '"': case '\\': case '/': out += e; break;
                    case 'b': out += '\b'; break;
                    case 'f': out += '\f'; break;
                    case 'n': out += '\n'; break;
                    case 'r': out += '\r'; break;
                    case 't': out += '\t'; break;
                    case 'u': {
                        std::uint32_t code = hex4();
                        if (code >= 0xD800 && code < 0xDC00 && take_word("\\u")) {
                            const std::uint32_t low = hex4();
                            if (low < 0xDC00 || low > 0xDFFF) {
                                fail("lone high surrogate");
                            }
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        }
                        fml::append_utf8(out, char32_t(code));
                        break;
                    }
                    default:
                        fail("unknown escape");
                }
            }
        }
    };

    kind m_kind = kind::null;
    double m_number = 0;
    std::string m_text;
    std::vector<json> m_items;
    std::vector<std::pair<std::string, json>> m_members;
};

}  // namespace test
