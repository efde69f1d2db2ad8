#pragma once
// The markup reader and writer.
//
// Reading is tolerant and adds nothing the markup does not say: no html, body,
// tbody or p elements appear unasked, unknown tags are kept, an end tag closes
// the nearest open element of its name (or is ignored), and whatever is still
// open at the end is closed there. Void elements take no content; attributes
// may be quoted, unquoted or valueless; character references are decoded;
// comments and declarations are dropped. Invalid UTF-8 becomes U+FFFD.
//
// Writing always gives well-formed markup with every text and attribute value
// escaped, so that reading it back yields the same tree.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layout/names.h"

namespace layout {

class node;
class element_node;

// Elements nest at most this deep within one piece of markup; deeper start tags
// become children of the deepest open element, so that no walk of the tree
// degrades with absurd nesting.
constexpr std::size_t max_markup_depth = 512;

// Reads `markup` into new parentless nodes and appends the top-level ones to
// `out`. `context` is the tag of the element the nodes will go into: blank text
// directly inside table structure and lists is dropped. Node serials are taken
// from `next_serial` in document order, so a fragment's nodes are numbered
// consecutively.
void parse_fragment(std::string_view markup, name_id context, std::uint32_t& next_serial,
                    std::vector<node*>& out);

// Appends the markup of `n` itself (outer) or of its children (inner).
void serialize_outer(const node& n, std::string& out);
void serialize_inner(const element_node& e, std::string& out);

// Escapes text for element content (& < >) and for a double-quoted attribute
// value (& < > "), after making it valid UTF-8.
std::string escape_text(std::string_view text);
std::string escape_attribute(std::string_view value);
// Valid UTF-8 with each ill-formed byte (and NUL) replaced by U+FFFD.
void append_valid_utf8(std::string& out, std::string_view text);

bool is_void_element(name_id tag);
// Script and style: their content is raw text, never markup.
bool is_raw_text_element(name_id tag);
// Breaks up every "</tag" (any case) in raw text of element `tag`, so that the
// text can never end its element early, however it is written out.
void make_raw_text_safe(std::string& text, name_id tag);
// Whether `name` is a tag or attribute name the writer can emit as it is.
bool is_valid_markup_name(std::string_view name);

}  // namespace layout
