#include "model/default_collection.h"

#include <tinyxml2.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_set>

#include "fml/exception.h"
#include "fml/text.h"
#include "model/errors.h"

namespace hrd {
namespace {

[[noreturn]] void fail(const std::string& path, const std::string& detail) {
    throw read_xml_error(path + ": " + detail);
}

std::string where(const tinyxml2::XMLElement& element) {
    return "<" + std::string(element.Name()) + "> on line " + std::to_string(element.GetLineNum());
}

// Opened for reading only: a write-protected default file imports like any other.
void load(tinyxml2::XMLDocument& document, const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!file) {
        fail(path, "cannot open: " + fml::last_error_text());
    }
    if (document.LoadFile(file.get()) != tinyxml2::XML_SUCCESS) {
        fail(path, std::string("not well-formed XML: ") + document.ErrorStr());
    }
    if (document.RootElement() == nullptr) {
        fail(path, "no root element");
    }
}

// Whether XML allows the character in a document at all.
bool xml_char(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The code point of the UTF-8 sequence at `at`, which moves past it; nullopt for a
// sequence that is not valid UTF-8.
std::optional<char32_t> next_utf8(std::string_view text, size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
    if (length == 0 || at + length > text.size()) {
        return std::nullopt;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, halves of UTF-16 pairs and numbers past Unicode are as invalid
    // as broken sequences.
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        return std::nullopt;
    }
    at += length;
    return c;
}

// The value of a character reference's digits ("233" or "xE9"); nullopt when they are
// not a number or too large for a character.
std::optional<char32_t> reference_value(std::string_view digits) {
    const bool hex = !digits.empty() && digits[0] == 'x';
    if (hex) {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        int digit = c >= '0' && c <= '9' ? c - '0' : -1;
        if (hex && digit < 0) {
            digit = c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        if (value > 0x10FFFF) {
            return std::nullopt;
        }
    }
    return value;
}

// An attribute's text with its references replaced. The parser is told to leave them
// alone because it passes on what XML forbids: a reference to character 0 would end the
// text there and then, and control characters, unknown entities and broken UTF-8 would
// slip into the collection. Such a file is refused like any other malformed one.
const char* const predefined_entities[][2] = {
    {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};

std::string required_attribute(const std::string& path, const tinyxml2::XMLElement& element,
                               const char* name) {
    const char* raw = element.Attribute(name);
    if (raw == nullptr) {
        fail(path, where(element) + " has no \"" + name + "\" attribute");
    }
    auto refuse = [&](const std::string& what) {
        fail(path, where(element) + " has " + what + " in its \"" + name + "\" attribute");
    };
    const std::string_view text(raw);
    std::string value;
    value.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (text[at] == '&') {
            const size_t end = text.find(';', at);
            if (end == std::string_view::npos) {
                refuse("an '&' that starts no reference");
            }
            const std::string_view reference = text.substr(at + 1, end - at - 1);
            at = end + 1;
            if (reference.starts_with('#')) {
                const auto c = reference_value(reference.substr(1));
                if (!c || !xml_char(*c)) {
                    refuse("the reference \"&" + std::string(reference) +
                           ";\" to a character XML does not allow");
                }
                fml::append_utf8(value, *c);
                continue;
            }
            const auto* entity =
                std::find_if(std::begin(predefined_entities), std::end(predefined_entities),
                             [&](const auto& known) { return reference == known[0]; });
            if (entity == std::end(predefined_entities)) {
                refuse("the unknown entity \"&" + std::string(reference) + ";\"");
            }
            value += (*entity)[1];
            continue;
        }
        const size_t start = at;
        const auto c = next_utf8(text, at);
        if (!c) {
            refuse("bytes that are not UTF-8");
        }
        if (!xml_char(*c) || *c == '<') {
            refuse("the character U+" + [&] {
                char code[16];
                std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(*c));
                return std::string(code);
            }() + ", which XML does not allow there");
        }
        value.append(text.substr(start, at - start));
    }
    return value;
}

// A positive decimal number that fits a record id; ASCII blanks around it are allowed.
record_id required_id(const std::string& path, const tinyxml2::XMLElement& element) {
    const std::string text = required_attribute(path, element, "id");
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    std::int64_t value = 0;
    bool valid = first != std::string::npos;
    for (auto i = first; valid && i <= last; ++i) {
        valid = text[i] >= '0' && text[i] <= '9';
        value = value * 10 + (text[i] - '0');
        valid = valid && value <= INT32_MAX;
    }
    if (!valid || value == 0) {
        fail(path, where(element) + " has the id \"" + text +
                       "\", which is not a positive decimal number");
    }
    return static_cast<record_id>(value);
}

}  // namespace

std::vector<default_tag> read_default_tags(const std::string& path) {
    tinyxml2::XMLDocument document(false, tinyxml2::PRESERVE_WHITESPACE);
    load(document, path);
    std::vector<default_tag> tags;
    std::unordered_set<record_id> ids;
    std::set<std::string> names;
    for (const auto* element = document.RootElement()->FirstChildElement(); element != nullptr;
         element = element->NextSiblingElement()) {
        const record_id id = required_id(path, *element);
        const std::string name = required_attribute(path, *element, "name");
        if (!ids.insert(id).second) {
            fail(path, where(*element) + " repeats the tag id " + std::to_string(id));
        }
        // Names are compared as they will be stored: after the UTF-8 round trip.
        std::u16string wide_name = fml::utf82wchar(name);
        if (!names.insert(fml::wchar2utf8(wide_name)).second) {
            fail(path, where(*element) + " repeats the tag name \"" + name + "\"");
        }
        tags.push_back({id, std::move(wide_name)});
    }
    return tags;
}

std::vector<default_quote> read_default_quotes(const std::string& path,
                                               const std::vector<default_tag>& tags) {
    std::unordered_set<record_id> tag_ids;
    for (const auto& tag : tags) {
        tag_ids.insert(tag.id);
    }
    tinyxml2::XMLDocument document(false, tinyxml2::PRESERVE_WHITESPACE);
    load(document, path);
    std::vector<default_quote> quotes;
    std::unordered_set<record_id> ids;
    for (const auto* element = document.RootElement()->FirstChildElement(); element != nullptr;
         element = element->NextSiblingElement()) {
        default_quote quote;
        quote.id = required_id(path, *element);
        quote.text = fml::utf82wchar(required_attribute(path, *element, "text"));
        if (!ids.insert(quote.id).second) {
            fail(path, where(*element) + " repeats the quote id " + std::to_string(quote.id));
        }
        for (const auto* reference = element->FirstChildElement(); reference != nullptr;
             reference = reference->NextSiblingElement()) {
            const record_id tag_id = required_id(path, *reference);
            if (!tag_ids.contains(tag_id)) {
                fail(path, where(*reference) + " names the tag id " + std::to_string(tag_id) +
                               ", which the tags file does not define");
            }
            // A tag listed twice on one quote is one mark.
            if (std::find(quote.tags.begin(), quote.tags.end(), tag_id) == quote.tags.end()) {
                quote.tags.push_back(tag_id);
            }
        }
        quotes.push_back(std::move(quote));
    }
    return quotes;
}

}  // namespace hrd
