#include "model/default_collection.h"

#include <tinyxml2.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <unordered_set>

#include "fml/exception.h"
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

const char* required_attribute(const std::string& path, const tinyxml2::XMLElement& element,
                               const char* name) {
    const char* value = element.Attribute(name);
    if (value == nullptr) {
        fail(path, where(element) + " has no \"" + name + "\" attribute");
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
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
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
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
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
