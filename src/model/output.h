#pragma once
// The text that leaves the collection: the clipboard copies of one or several quotes
// and the HTML export document of the current search.

#include <span>
#include <string>
#include <string_view>

#include "model/records.h"

namespace hrd {

class CollectionStore;

// The address the export document's foot links to.
inline constexpr std::string_view product_web_address = "https://hoardly.github.io/";

// The clipboard texts. Quotes come in the order of the ids given; an id that names no
// quote raises wrong_quote_id and nothing is built.
// One quote: its text exactly as stored.
std::u16string copy_quote_text(CollectionStore& store, record_id id);
// One quote with data: its text, "\r\n\r\n", then its tag names joined by ", ".
std::u16string copy_quote_with_data_text(CollectionStore& store, record_id id);
// Several quotes: each text followed by "\r\n\r\n".
std::u16string copy_quotes_text(CollectionStore& store, std::span<const record_id> ids);
// Several quotes with data: each text, "\r\n", "Tags: " and the names when it has tags,
// then "\r\n\r\n".
std::u16string copy_quotes_with_data_text(CollectionStore& store, std::span<const record_id> ids);

// UTF-8 text made safe for HTML text and quoted attribute values: & < > " ' become
// character references.
std::string html_escape(std::string_view utf8);

// Writes the export document of the quotes the current search selects to `path`.
// The document goes to a temporary file beside the target first and replaces the target
// only when it is complete and on disk; on any failure the target is as it was and
// export_error names the path and the reason.
void export_document(CollectionStore& store, std::u16string_view path);

}  // namespace hrd
