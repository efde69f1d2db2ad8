#pragma once
// Reading the default collection files that fill an empty collection on a first start.
// Both files are checked completely before anything is imported, so a bad file never
// leaves a half-filled collection behind.
//
// "defaulttags.xml": a root element holding one element per tag, attributes "id" (a
// positive decimal number) and "name". "defaultquotes.xml": a root element holding one
// element per quote, attributes "id" and "text", each holding one element per tag it
// carries, attribute "id". Element names are free; comments and text between elements
// are skipped.

#include <string>
#include <vector>

#include "model/records.h"

namespace hrd {

struct default_tag {
    record_id id = 0;
    std::u16string name;
};

struct default_quote {
    record_id id = 0;
    std::u16string text;
    // The tags in file order, each once.
    std::vector<record_id> tags;
};

// Raise read_xml_error "<path>: <detail>" for a file that cannot be opened or parsed, a
// missing attribute, an id that is not a positive decimal number, a duplicate tag id or
// name, a duplicate quote id, or a tag reference to a tag the tags file does not define.
std::vector<default_tag> read_default_tags(const std::string& path);
std::vector<default_quote> read_default_quotes(const std::string& path,
                                               const std::vector<default_tag>& tags);

}  // namespace hrd
