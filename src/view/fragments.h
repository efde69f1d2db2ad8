#pragma once
// The markup of everything the collection puts into the document: quote blocks,
// the tags on them, tag list entries, search bar tags and manage-tags menu items.
// Classes, ids and nesting are what the style sheet, the behaviors and the drag
// manager select on, so they are produced exactly as written here.
//
// Every text that comes from the user (quote text, tag names) is escaped, so no clip
// and no tag name can add markup to the document; names stay stored as typed.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/records.h"
#include "model/view_events.h"

namespace hrd::fragments {

using hrd::tag_lookup;

// Escapes UTF-8 text for element content: "&" "<" ">" '"' "'" become character
// references, a tab two no-break spaces, a line feed "<br>"; CR and blanks stay.
void append_escaped(std::string& out, std::string_view utf8);
std::string escape(std::string_view utf8);

// append_escaped, with every place the folded text holds one of the folded `words`
// marked <mark>...</mark>. Only the first marks_per_text places are marked, so a
// one-letter word in a huge clip does not make thousands of elements.
inline constexpr std::size_t marks_per_text = 100;
void append_highlighted(std::string& out, std::string_view utf8,
                        const std::vector<std::u32string>& words);

// <div class="quote" id="q-Q"><table class="qtable" ...>title row, text row,
// links row (quote tags, Manage... button, time stamp)</table></div>. With `words`
// the text marks where it holds them (append_highlighted).
void append_quote_block(std::string& out, const quote& q, const tag_lookup& tags,
                        const std::vector<std::u32string>& words = {});
std::string quote_block(const quote& q, const tag_lookup& tags);
// <div class="qtag" id="qt-Q-T">name</div>
std::string quote_tag(const tag& t, record_id quote_id);
// <div class="vtag" id="vt-T">name</div>
std::string tag_entry(const tag& t);
// <div class="stag" id="st-T">name</div>
std::string search_tag(const tag& t);
// <li type="check" name="mtmchecks" id="mtmcheck-T">name</li>
std::string menu_item(const tag& t);
// <tr><td>fragment</td></tr>
std::string table_row(std::string_view fragment);

inline constexpr std::string_view search_caption =
    "<div class=\"caption\">Drop tags here to search</div>";
// The row the tag list adds for the user to type a new tag's name into.
inline constexpr std::string_view fresh_tag_row = "<tr><td><div class=\"vtag\"></div></td></tr>";

}  // namespace hrd::fragments
